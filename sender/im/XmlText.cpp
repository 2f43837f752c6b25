#include "sender/im/XmlText.h"

#include <array>
#include <cstdint>
#include <cstring>

namespace sender {
namespace {

constexpr bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
constexpr bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// What one ASCII character becomes: up to six bytes, the count last, so
// that a piece is copied as one 8-byte block.
struct Piece {
  char bytes[7];
  std::uint8_t size;
};

constexpr std::array<Piece, 128> MakeAsciiPieces() {
  std::array<Piece, 128> pieces{};
  for (unsigned c = 0; c < 128; ++c) {
    Piece& p = pieces[c];
    const char* entity = c == '&'    ? "&amp;"
                         : c == '"'  ? "&quot;"
                         : c == '\'' ? "&apos;"
                         : c == '<'  ? "&lt;"
                         : c == '>'  ? "&gt;"
                                     : nullptr;
    if (entity != nullptr) {
      while (entity[p.size] != '\0') {
        p.bytes[p.size] = entity[p.size];
        ++p.size;
      }
    } else if (IsXmlChar(c)) {
      p.bytes[0] = static_cast<char>(c);
      p.size = 1;
    }
  }
  return pieces;
}
constexpr std::array<Piece, 128> AsciiPieces = MakeAsciiPieces();
static_assert(sizeof(Piece) == 8);

// Writes the UTF-8 form of c at out; answers its length.
inline std::size_t PutUtf8(char32_t c, char* out) {
  if (c < 0x80) {
    out[0] = static_cast<char>(c);
    return 1;
  }
  if (c < 0x800) {
    out[0] = static_cast<char>(0xC0 | (c >> 6));
    out[1] = static_cast<char>(0x80 | (c & 0x3F));
    return 2;
  }
  if (c < 0x10000) {
    out[0] = static_cast<char>(0xE0 | (c >> 12));
    out[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (c & 0x3F));
    return 3;
  }
  out[0] = static_cast<char>(0xF0 | (c >> 18));
  out[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
  out[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
  out[3] = static_cast<char>(0x80 | (c & 0x3F));
  return 4;
}

// One character of the text at s: the units it takes and the bytes it
// gives (0 for a character XML forbids, which is dropped), and its code.
struct Step {
  std::size_t units, size;
  char32_t code;
};

inline Step StepAt(const char16_t* s, const char16_t* end) {
  const char16_t c = *s;
  if (c < 0x80) return {1, AsciiPieces[c].size, c};
  if (IsHighSurrogate(c)) {
    if (end - s < 2 || !IsLowSurrogate(s[1])) return {1, 0, 0};  // unpaired: no character at all
    return {2, 4, 0x10000 + ((static_cast<char32_t>(c) - 0xD800) << 10) + (s[1] - 0xDC00)};
  }
  if (IsLowSurrogate(c) || c >= 0xFFFE) return {1, 0, 0};
  return {1, c < 0x800 ? 2u : 3u, c};
}

// Writes the encoded text at out, whole characters and entities up to
// limit bytes; answers the bytes written. out holds 8 bytes past the end
// of what it may receive: an ASCII piece is copied as one 8-byte block.
template <bool Limited>
std::size_t Write(std::u16string_view text, std::size_t limit, char* out) {
  std::size_t at = 0;
  const char16_t* s = text.data();
  const char16_t* const end = s + text.size();
  while (s < end) {
    const Step step = StepAt(s, end);
    if (Limited && at + step.size > limit) break;
    if (step.code < 0x80) {
      std::memcpy(out + at, &AsciiPieces[step.code], sizeof(Piece));
    } else if (step.size != 0) {
      PutUtf8(step.code, out + at);
    }
    at += step.size;
    s += step.units;
  }
  return at;
}

}  // namespace

std::u16string_view CutUnits(std::u16string_view text, std::size_t count) {
  if (text.size() <= count) return text;
  if (count > 0 && IsHighSurrogate(text[count - 1]) && IsLowSurrogate(text[count])) --count;
  return text.substr(0, count);
}

std::string EncodeXMLText(std::u16string_view text, std::size_t limit) {
  std::string out;
  if (limit == std::string::npos) {
    // The exact size first, so that the text is written once, into one
    // buffer that never moves.
    std::size_t size = 0;
    const char16_t* const end = text.data() + text.size();
    for (const char16_t* s = text.data(); s < end;) {
      const Step step = StepAt(s, end);
      size += step.size;
      s += step.units;
    }
    out.resize(size + sizeof(Piece));
    out.resize(Write<false>(text, limit, out.data()));
  } else {
    // A unit gives at most six bytes.
    out.resize((text.size() < limit / 6 ? text.size() * 6 : limit) + sizeof(Piece));
    out.resize(Write<true>(text, limit, out.data()));
  }
  return out;
}

bool Utf16ToUtf8(std::u16string_view text, std::string& out) {
  out.clear();
  out.reserve(text.size());
  char bytes[4];
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t code = text[i];
    if (IsHighSurrogate(text[i]) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
      code = 0x10000 + ((code - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (IsHighSurrogate(text[i]) || IsLowSurrogate(text[i])) {
      out.clear();
      return false;
    }
    out.append(bytes, PutUtf8(code, bytes));
  }
  return true;
}

}  // namespace sender
