#include "sender/im/XmlContent.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "sender/im/XmlNameChars.h"
#include "sender/im/XmlText.h"

namespace sender {
namespace {

constexpr bool IsAsciiLetter(char32_t c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
constexpr bool IsAsciiDigit(char32_t c) { return c >= '0' && c <= '9'; }
constexpr bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

template <std::size_t N>
bool InRanges(const xmlnames::NameRange (&ranges)[N], char32_t c) {
  if (c > 0xFFFF) return false;
  const auto* after =
      std::upper_bound(std::begin(ranges), std::end(ranges), c,
                       [](char32_t code, const xmlnames::NameRange& range) { return code < range.first; });
  return after != std::begin(ranges) && c <= (after - 1)->last;
}

bool IsNameStart(char32_t c) {
  if (c < 0x80) return IsAsciiLetter(c) || c == '_' || c == ':';
  return InRanges(xmlnames::NameStartRanges, c);
}

bool IsNameChar(char32_t c) {
  if (c < 0x80) return IsAsciiLetter(c) || IsAsciiDigit(c) || c == '_' || c == ':' || c == '-' || c == '.';
  return InRanges(xmlnames::NameRanges, c);
}

// The content walk: a position in the text and the elements open there.
class Content {
 public:
  explicit Content(std::string_view text) : text_(text) {}

  bool Check() {
    while (at_ < text_.size()) {
      const bool ok = text_[at_] == '<' ? Markup() : text_[at_] == '&' ? Reference() : CharacterData();
      if (!ok) return false;
    }
    return open_.empty();
  }

 private:
  bool Starts(std::string_view prefix) const { return text_.substr(at_).starts_with(prefix); }
  bool AtEnd() const { return at_ >= text_.size(); }

  // The character at the current position, decoded as UTF-8 (no overlong
  // forms, surrogates or values past U+10FFFF); false for invalid bytes.
  bool Peek(char32_t& c, std::size_t& size) const {
    const std::size_t left = text_.size() - at_;
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text_[at_ + i]); };
    const std::uint8_t lead = byte(0);
    if (lead < 0x80) {
      c = lead;
      size = 1;
      return true;
    }
    std::uint8_t low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
      size = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      size = 3;
      if (lead == 0xE0) low = 0xA0;
      if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      size = 4;
      if (lead == 0xF0) low = 0x90;
      if (lead == 0xF4) high = 0x8F;
    } else {
      return false;
    }
    if (left < size || byte(1) < low || byte(1) > high) return false;
    c = lead & (0xFF >> (size + 1));
    for (std::size_t i = 1; i < size; ++i) {
      if (i > 1 && (byte(i) < 0x80 || byte(i) > 0xBF)) return false;
      c = (c << 6) | (byte(i) & 0x3F);
    }
    return true;
  }

  // One character XML allows, taken.
  bool Char(char32_t* taken = nullptr) {
    char32_t c = 0;
    std::size_t size = 0;
    if (AtEnd() || !Peek(c, size) || !IsXmlChar(c)) return false;
    at_ += size;
    if (taken != nullptr) *taken = c;
    return true;
  }

  void Spaces() {
    while (!AtEnd() && IsSpace(text_[at_]))
      ++at_;
  }

  bool Name(std::string_view& name) {
    const std::size_t start = at_;
    char32_t c = 0;
    std::size_t size = 0;
    if (AtEnd() || !Peek(c, size) || !IsNameStart(c)) return false;
    at_ += size;
    while (!AtEnd() && Peek(c, size) && IsNameChar(c))
      at_ += size;
    name = text_.substr(start, at_ - start);
    return true;
  }

  // "&" + one of the five predefined entities, or a character reference
  // to a character XML allows.
  bool Reference() {
    ++at_;
    if (!Starts("#")) {
      for (const std::string_view entity : {"lt;", "gt;", "amp;", "quot;", "apos;"}) {
        if (Starts(entity)) {
          at_ += entity.size();
          return true;
        }
      }
      return false;
    }
    ++at_;
    const bool hex = Starts("x");
    if (hex) ++at_;
    char32_t value = 0;
    std::size_t digits = 0;
    for (; !AtEnd(); ++at_, ++digits) {
      const char c = text_[at_];
      unsigned digit = 0;
      if (IsAsciiDigit(static_cast<unsigned char>(c))) {
        digit = static_cast<unsigned>(c - '0');
      } else if (hex && c >= 'a' && c <= 'f') {
        digit = static_cast<unsigned>(c - 'a' + 10);
      } else if (hex && c >= 'A' && c <= 'F') {
        digit = static_cast<unsigned>(c - 'A' + 10);
      } else {
        break;
      }
      // Past the last character the value stays out of range.
      if (value <= 0x10FFFF) value = value * (hex ? 16 : 10) + digit;
    }
    if (digits == 0 || !Starts(";") || !IsXmlChar(value)) return false;
    ++at_;
    return true;
  }

  bool CharacterData() {
    while (!AtEnd() && text_[at_] != '<' && text_[at_] != '&') {
      if (text_[at_] == ']' && Starts("]]>")) return false;
      if (!Char()) return false;
    }
    return true;
  }

  // Characters XML allows up to the closing text, which is taken too.
  bool CharactersUntil(std::string_view close) {
    while (!Starts(close)) {
      if (!Char()) return false;
    }
    at_ += close.size();
    return true;
  }

  bool Comment() {
    at_ += 4;
    while (!Starts("--")) {
      if (!Char()) return false;
    }
    at_ += 2;
    if (!Starts(">")) return false;
    ++at_;
    return true;
  }

  bool ProcessingInstruction() {
    at_ += 2;
    std::string_view target;
    if (!Name(target)) return false;
    if (target.size() == 3 && (target[0] | 0x20) == 'x' && (target[1] | 0x20) == 'm' && (target[2] | 0x20) == 'l')
      return false;
    if (Starts("?>")) {
      at_ += 2;
      return true;
    }
    if (AtEnd() || !IsSpace(text_[at_])) return false;
    return CharactersUntil("?>");
  }

  bool EndTag() {
    at_ += 2;
    std::string_view name;
    if (!Name(name)) return false;
    Spaces();
    if (!Starts(">") || open_.empty() || open_.back() != name) return false;
    ++at_;
    open_.pop_back();
    return true;
  }

  bool AttributeValue() {
    if (AtEnd() || (text_[at_] != '"' && text_[at_] != '\'')) return false;
    const char quote = text_[at_++];
    while (!AtEnd() && text_[at_] != quote) {
      if (text_[at_] == '<') return false;
      if (!(text_[at_] == '&' ? Reference() : Char())) return false;
    }
    if (AtEnd()) return false;
    ++at_;
    return true;
  }

  bool StartTag() {
    ++at_;
    std::string_view name;
    if (!Name(name)) return false;
    attributes_.clear();
    while (true) {
      if (Starts(">")) {
        ++at_;
        open_.push_back(name);
        break;
      }
      if (Starts("/>")) {
        at_ += 2;
        break;
      }
      // Blanks before each attribute, and before the end of the tag.
      if (AtEnd() || !IsSpace(text_[at_])) return false;
      Spaces();
      if (Starts(">") || Starts("/>")) continue;
      std::string_view attribute;
      if (!Name(attribute)) return false;
      Spaces();
      if (!Starts("=")) return false;
      ++at_;
      Spaces();
      if (!AttributeValue()) return false;
      attributes_.push_back(attribute);
    }
    std::sort(attributes_.begin(), attributes_.end());
    return std::adjacent_find(attributes_.begin(), attributes_.end()) == attributes_.end();
  }

  bool Markup() {
    if (Starts("</")) return EndTag();
    if (Starts("<!--")) return Comment();
    if (Starts("<![CDATA[")) {
      at_ += 9;
      return CharactersUntil("]]>");
    }
    if (Starts("<?")) return ProcessingInstruction();
    if (Starts("<!")) return false;  // no declaration inside an element
    return StartTag();
  }

  std::string_view text_;
  std::size_t at_ = 0;
  std::vector<std::string_view> open_;
  std::vector<std::string_view> attributes_;
};

}  // namespace

bool IsXmlAsciiName(std::u16string_view name) {
  bool needStart = true, colon = false;
  for (const char16_t c : name) {
    if (needStart) {
      if (!IsAsciiLetter(c) && c != '_') return false;
      needStart = false;
    } else if (c == ':') {
      if (colon) return false;
      colon = needStart = true;
    } else if (!IsAsciiLetter(c) && !IsAsciiDigit(c) && c != '_' && c != '-' && c != '.') {
      return false;
    }
  }
  return !needStart;
}

bool IsWellFormedContent(std::string_view text) { return Content(text).Check(); }

}  // namespace sender
