#include "core/mime/HeaderText.h"

#include <algorithm>
#include <vector>

#include "core/mime/AnsiText.h"
#include "core/mime/TransferCodecs.h"
#include "core/util/Text.h"

namespace core {

namespace {

bool IsWhite(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool IsAllWhite(std::string_view text) { return std::all_of(text.begin(), text.end(), IsWhite); }

// Letters, digits and the other characters of an RFC 2045 token.
bool IsTokenChar(char c) {
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
  return std::string_view("!#$%&'*+-.^_`{|}~").find(c) != std::string_view::npos;
}

struct EncodedWord {
  std::size_t end = 0;  // past the closing "?="
  char encoding = 0;
  std::string_view text;
};

// The encoded word that starts at "=?" at position start, when it is whole:
// a charset (no blank, control character or "="), "?", one letter, "?", the
// text and "?=".
bool ParseEncodedWord(std::string_view text, std::size_t start, EncodedWord& word) {
  std::size_t charsetEnd = start + 2;
  while (charsetEnd < text.size() && text[charsetEnd] != '?') {
    if (static_cast<unsigned char>(text[charsetEnd]) <= 32 || text[charsetEnd] == '=') return false;
    ++charsetEnd;
  }
  if (charsetEnd + 2 >= text.size()) return false;
  if (text[charsetEnd + 1] == '?' || text[charsetEnd + 2] != '?') return false;
  const std::size_t close = text.find("?=", charsetEnd + 3);
  if (close == std::string_view::npos) return false;
  word.encoding = text[charsetEnd + 1];
  word.text = text.substr(charsetEnd + 3, close - charsetEnd - 3);
  word.end = close + 2;
  return true;
}

std::string DecodeWord(const EncodedWord& word, bool keepUnderscores) {
  if (word.encoding == 'Q' || word.encoding == 'q') {
    std::string encoded(word.text);
    if (!keepUnderscores) std::replace(encoded.begin(), encoded.end(), '_', ' ');
    return DecodeQuotedPrintable(encoded);
  }
  if (word.encoding == 'B' || word.encoding == 'b') return DecodeMimeLine(TransferBase64, word.text);
  return std::string(word.text);
}

// One section of an RFC 2231 parameter.
struct Section {
  unsigned number = 0;
  bool encoded = false;  // "*" after the name or number: percent escapes
  std::string value;
};

// The value after "=" at position at: a quoted string (backslash escapes
// taken) or the text up to the next ";", trimmed. at moves past it.
std::string ParameterValue(std::string_view line, std::size_t& at) {
  while (at < line.size() && (line[at] == ' ' || line[at] == '\t'))
    ++at;
  std::string value;
  if (at < line.size() && line[at] == '"') {
    for (++at; at < line.size() && line[at] != '"'; ++at) {
      if (line[at] == '\\' && at + 1 < line.size()) ++at;
      value.push_back(line[at]);
    }
    return value;
  }
  const std::size_t end = std::min(line.find(';', at), line.size());
  value = Trim(line.substr(at, end - at));
  at = end;
  return value;
}

// Which section of the parameter the attribute names: "name*", "name*N"
// or "name*N*" (N at most four digits).
bool ParseSectionName(std::string_view attribute, std::string_view name, Section& section) {
  if (attribute.size() <= name.size() || !SameText(attribute.substr(0, name.size()), name)) return false;
  attribute.remove_prefix(name.size());
  if (attribute.front() != '*') return false;
  attribute.remove_prefix(1);
  section.encoded = attribute.empty() || attribute.back() == '*';
  if (attribute.empty()) return true;
  if (!attribute.empty() && attribute.back() == '*') attribute.remove_suffix(1);
  if (attribute.empty() || attribute.size() > 4) return false;
  for (const char c : attribute) {
    if (c < '0' || c > '9') return false;
    section.number = section.number * 10 + static_cast<unsigned>(c - '0');
  }
  return true;
}

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void AppendPercentDecoded(std::string_view text, std::string& out) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const int high = text[i] == '%' && i + 2 < text.size() ? HexDigitValue(text[i + 1]) : -1;
    const int low = high >= 0 ? HexDigitValue(text[i + 2]) : -1;
    if (low >= 0) {
      out.push_back(static_cast<char>(high * 16 + low));
      i += 2;
    } else {
      out.push_back(text[i]);
    }
  }
}

}  // namespace

std::string DecodeHeaderText(std::string_view text, bool keepUnderscores) {
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= 32)
    text.remove_suffix(1);
  std::string out;
  out.reserve(text.size());
  bool afterWord = false;
  std::size_t searchFrom = 0;
  for (;;) {
    const std::size_t start = text.find("=?", searchFrom);
    if (start == std::string_view::npos) {
      out.append(text);
      break;
    }
    EncodedWord word;
    if (!ParseEncodedWord(text, start, word)) {
      searchFrom = start + 1;  // plain text; look for the next "=?"
      continue;
    }
    const std::string_view plain = text.substr(0, start);
    if (!(afterWord && IsAllWhite(plain))) out.append(plain);
    out.append(DecodeWord(word, keepUnderscores));
    text.remove_prefix(word.end);
    searchFrom = 0;
    afterWord = true;
  }
  for (char& c : out)
    if (c == '\r' || c == '\n' || c == '\0') c = ' ';
  return out;
}

std::string GetHeaderParameter(std::string_view name, std::string_view line) {
  while (!name.empty() && name.back() == '=')
    name.remove_suffix(1);
  if (name.empty()) return {};
  const std::string needle = LowerCase(name) + "=";
  const std::string lower = LowerCase(line);
  std::size_t at = lower.find(needle);
  while (at != std::string::npos && at > 0 && IsTokenChar(lower[at - 1]))
    at = lower.find(needle, at + 1);
  if (at == std::string::npos) return {};
  std::string_view value = line.substr(at + needle.size());
  while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
    value.remove_prefix(1);
  if (!value.empty() && value.front() == '"') return GetDelimitedWord(value, 1, '"');
  return Trim(value.substr(0, value.find(';')));
}

std::string GetExtendedParameter(std::string_view name, std::string_view line) {
  while (!name.empty() && (name.back() == '=' || name.back() == '*'))
    name.remove_suffix(1);
  if (name.empty()) return {};
  std::vector<Section> sections;
  std::size_t at = 0;
  for (;;) {
    // Parameters follow a ";" that stands outside a quoted value.
    at = line.find(';', at);
    if (at == std::string_view::npos) break;
    ++at;
    const std::size_t equals = line.find_first_of("=;", at);
    if (equals == std::string_view::npos || line[equals] == ';') continue;
    Section section;
    const bool wanted = ParseSectionName(TrimView(line.substr(at, equals - at)), name, section);
    at = equals + 1;
    section.value = ParameterValue(line, at);
    if (wanted) sections.push_back(std::move(section));
  }
  if (sections.empty()) return {};
  std::stable_sort(sections.begin(), sections.end(),
                   [](const Section& a, const Section& b) { return a.number < b.number; });
  // The first section, when encoded, starts with charset'language'.
  std::string charset;
  std::string bytes;
  for (std::size_t i = 0; i < sections.size(); ++i) {
    std::string_view value = sections[i].value;
    if (!sections[i].encoded) {
      bytes.append(value);
      continue;
    }
    if (i == 0) {
      const std::size_t first = value.find('\'');
      const std::size_t second = first == std::string_view::npos ? first : value.find('\'', first + 1);
      if (second != std::string_view::npos) {
        charset = LowerCase(value.substr(0, first));
        value.remove_prefix(second + 1);
      }
    }
    AppendPercentDecoded(value, bytes);
  }
  std::string out = charset == "utf-8" || charset == "utf8" ? Utf8ToAnsi(bytes) : std::move(bytes);
  for (char& c : out)
    if (c == '\r' || c == '\n' || c == '\0') c = ' ';
  return out;
}

std::string ExtractEmailAddress(std::string_view text, bool withoutBrackets) {
  std::string result;
  const std::size_t open = text.rfind('<');
  if (open != std::string_view::npos || text.find('>') == std::string_view::npos) {
    std::string_view address = text;
    if (open != std::string_view::npos) {
      const std::size_t close = text.find('>', open + 1);
      address = text.substr(open + 1, (close == std::string_view::npos ? text.size() : close) - open - 1);
    }
    result.push_back('<');
    result.append(Trim(address));
    result.push_back('>');
  } else {
    result = std::string(text);
  }
  std::erase_if(result, [](char c) { return c == '\r' || c == '\n' || c == '\0'; });
  if (withoutBrackets) {
    if (!result.empty() && result.back() == '>') result.pop_back();
    if (!result.empty() && result.front() == '<') result.erase(0, 1);
  }
  return result;
}

std::string ExtractDomainPart(std::string_view text) {
  const std::string bare = ExtractEmailAddress(text, true);
  const std::size_t at = bare.find('@');
  return at == std::string::npos ? std::string() : bare.substr(at + 1);
}

std::string ExtractAliasPart(std::string_view text) {
  const std::string bare = ExtractEmailAddress(text, true);
  return bare.substr(0, bare.find('@'));
}

}  // namespace core
