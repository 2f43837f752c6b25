// The instant-message element on hostile fields, judged by the XML parser
// (libexpat, no namespaces). The input is read twice: as UTF-8 bytes, on
// which the content check must agree with the parser on "<r>" + input +
// "</r>"; and as UTF-16LE units split at U+FFFF into tag, from, to, type,
// subject, body, raw text and attribute name/value pairs, from which a
// built element must parse, with every name, attribute and text equal to
// its field less the characters XML forbids, cut as the store cuts.
#include <expat.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "sender/im/PendingMessage.h"
#include "sender/im/XmlContent.h"

namespace {

struct Element {
  std::string name;
  std::vector<std::pair<std::string, std::string>> attributes;
  std::string text;  // character data directly inside
};

// The outermost element and its children, as the parser reports them.
struct Parsed {
  Element root;
  std::vector<Element> children;
  int depth = 0;
};

void XMLCALL Start(void* user, const XML_Char* name, const XML_Char** attributes) {
  auto& parsed = *static_cast<Parsed*>(user);
  ++parsed.depth;
  Element* element = nullptr;
  if (parsed.depth == 1) {
    element = &parsed.root;
  } else if (parsed.depth == 2) {
    element = &parsed.children.emplace_back();
  } else {
    return;
  }
  element->name = name;
  for (const XML_Char** a = attributes; *a != nullptr; a += 2)
    element->attributes.emplace_back(a[0], a[1]);
}

void XMLCALL End(void* user, const XML_Char*) { --static_cast<Parsed*>(user)->depth; }

void XMLCALL Characters(void* user, const XML_Char* text, int size) {
  auto& parsed = *static_cast<Parsed*>(user);
  if (parsed.depth == 2) parsed.children.back().text.append(text, static_cast<std::size_t>(size));
}

bool Parse(std::string_view document, Parsed* parsed) {
  XML_Parser parser = XML_ParserCreate(nullptr);
  if (parsed != nullptr) {
    XML_SetUserData(parser, parsed);
    XML_SetElementHandler(parser, &Start, &End);
    XML_SetCharacterDataHandler(parser, &Characters);
  }
  const bool ok = XML_Parse(parser, document.data(), static_cast<int>(document.size()), 1) == XML_STATUS_OK;
  XML_ParserFree(parser);
  return ok;
}

void Check(bool condition) {
  if (!condition) std::abort();
}

// What the parser gives back of a field, written out apart from the store.
std::u32string Characters(std::u16string_view text) {
  std::u32string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      out += 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
    } else {
      out += c;
    }
  }
  return out;
}

bool Allowed(char32_t c) {
  return c == 9 || c == 10 || c == 13 || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) || c >= 0x10000;
}

std::string Utf8(char32_t c) {
  std::string out;
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += {static_cast<char>(0xC0 | c >> 6), static_cast<char>(0x80 | (c & 63))};
  } else if (c < 0x10000) {
    out += {static_cast<char>(0xE0 | c >> 12), static_cast<char>(0x80 | (c >> 6 & 63)),
            static_cast<char>(0x80 | (c & 63))};
  } else {
    out += {static_cast<char>(0xF0 | c >> 18), static_cast<char>(0x80 | (c >> 12 & 63)),
            static_cast<char>(0x80 | (c >> 6 & 63)), static_cast<char>(0x80 | (c & 63))};
  }
  return out;
}

std::size_t EscapedSize(char32_t c) {
  switch (c) {
    case '&':
      return 5;
    case '"':
    case '\'':
      return 6;
    case '<':
    case '>':
      return 4;
    default:
      return Utf8(c).size();
  }
}

// Line ends as the parser hands them on; in attribute values blanks too.
std::string Normalised(const std::string& text, bool attribute) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\r') {
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
      c = '\n';
    }
    if (attribute && (c == '\n' || c == '\t')) c = ' ';
    out += c;
  }
  return out;
}

std::string ExpectedText(std::u16string_view text) {
  std::string out;
  for (const char32_t c : Characters(text))
    if (Allowed(c)) out += Utf8(c);
  return Normalised(out, false);
}

std::string ExpectedValue(std::u16string_view value) {
  if (value.size() > 255) {
    const bool pair = value[254] >= 0xD800 && value[254] <= 0xDBFF && value[255] >= 0xDC00 && value[255] <= 0xDFFF;
    value = value.substr(0, pair ? 254 : 255);
  }
  std::string out;
  std::size_t size = 0;
  for (const char32_t c : Characters(value)) {
    if (!Allowed(c)) continue;
    if (size + EscapedSize(c) > 255) break;
    size += EscapedSize(c);
    out += Utf8(c);
  }
  return Normalised(out, true);
}

std::string Narrow(std::u16string_view ascii) { return std::string(ascii.begin(), ascii.end()); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  Check(sender::IsWellFormedContent(bytes) == Parse("<r>" + std::string(bytes) + "</r>", nullptr));

  std::vector<std::u16string> fields(1);
  for (std::size_t i = 0; i + 1 < size; i += 2) {
    const char16_t unit = static_cast<char16_t>(data[i] | data[i + 1] << 8);
    if (unit == 0xFFFF) {
      fields.emplace_back();
    } else {
      fields.back() += unit;
    }
  }
  fields.resize(std::max<std::size_t>(fields.size(), 7));
  sender::ImFields message{.tag = fields[0],
                           .raw = fields[6],
                           .body = fields[5],
                           .from = fields[1],
                           .to = fields[2],
                           .subject = fields[4],
                           .type = fields[3]};
  for (std::size_t i = 7; i + 1 < fields.size(); i += 2)
    message.attributes.emplace_back(fields[i], fields[i + 1]);

  std::string xml;
  if (sender::BuildPendingMessage(message, "20240131T09:05:07", xml) != sender::ImRefusal::None) return 0;
  Parsed parsed;
  Check(Parse(xml, &parsed));
  const std::u16string_view tag = std::u16string_view(message.tag).substr(0, 255);
  Check(parsed.root.name == (tag.empty() ? "message" : Narrow(tag)));
  std::vector<std::pair<std::string, std::string>> attributes;
  const std::pair<const char*, const std::u16string*> own[] = {
      {"from", &message.from}, {"to", &message.to}, {"type", &message.type}};
  for (const auto& [name, value] : own)
    if (!value->empty()) attributes.emplace_back(name, ExpectedValue(*value));
  for (const auto& [name, value] : message.attributes)
    if (!value.empty()) attributes.emplace_back(Narrow(std::u16string_view(name).substr(0, 255)), ExpectedValue(value));
  Check(parsed.root.attributes == attributes);

  std::size_t next = 0;
  if (!message.subject.empty()) {
    Check(parsed.children.at(next).name == "subject" && parsed.children.at(next).attributes.empty());
    Check(parsed.children.at(next++).text == ExpectedText(message.subject));
  }
  Check(parsed.children.at(next).name == "body" && parsed.children.at(next).text == ExpectedText(message.body));
  const Element& delay = parsed.children.back();
  Check(next + 1 < parsed.children.size() && delay.name == "x" && delay.attributes.size() >= 2);
  Check(delay.attributes.size() == (message.from.empty() ? 2u : 3u));
  if (!message.from.empty())
    Check(delay.attributes[0] == std::pair<std::string, std::string>("from", ExpectedValue(message.from)));
  Check(delay.attributes[delay.attributes.size() - 2] ==
        std::pair<std::string, std::string>("stamp", "20240131T09:05:07"));
  Check(delay.attributes.back() == std::pair<std::string, std::string>("xmlns", "jabber:x:delay"));
  return 0;
}
