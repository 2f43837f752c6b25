#include "core/mime/TransferCodecs.h"

#include <cstdint>
#include <limits>
#include <new>
#include <stdexcept>
#include <vector>

#include "core/util/Text.h"

namespace core {

namespace {

constexpr char Base64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The 6-bit value of each base64 character; Skip outside the alphabet, Pad
// for "=". One table, so a group of four is checked with one test.
constexpr unsigned char Skip = 0x80;
constexpr unsigned char Pad = 0xC0;
constexpr auto Base64Values = [] {
  struct Table {
    unsigned char value[256];
  } table{};
  for (int c = 0; c < 256; ++c)
    table.value[c] = Skip;
  for (int i = 0; i < 64; ++i)
    table.value[static_cast<unsigned char>(Base64Alphabet[i])] = static_cast<unsigned char>(i);
  table.value[static_cast<unsigned char>('=')] = Pad;
  return table;
}();

// The same values placed where they sit in a group of four characters
// (first character in bits 18-23, ...), with Bad outside the alphabet: a
// whole group is then four look-ups joined by OR and one test.
constexpr std::uint32_t Bad = 0x80000000u;
constexpr auto GroupValues = [] {
  struct Table {
    std::uint32_t at[4][256];
  } table{};
  for (int position = 0; position < 4; ++position)
    for (int c = 0; c < 256; ++c) {
      const unsigned char value = Base64Values.value[c];
      table.at[position][c] = (value & Skip) != 0 ? Bad : std::uint32_t{value} << (18 - 6 * position);
    }
  return table;
}();

bool IsHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); }

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return c - 'A' + 10;
}

// Writes the base64 of count bytes (a short last group padded) at out;
// answers the position after it.
char* EncodeGroups(const unsigned char* data, std::size_t count, char* out) {
  std::size_t i = 0;
  for (; i + 3 <= count; i += 3) {
    const std::uint32_t v = (std::uint32_t{data[i]} << 16) | (std::uint32_t{data[i + 1]} << 8) | data[i + 2];
    *out++ = Base64Alphabet[(v >> 18) & 63];
    *out++ = Base64Alphabet[(v >> 12) & 63];
    *out++ = Base64Alphabet[(v >> 6) & 63];
    *out++ = Base64Alphabet[v & 63];
  }
  if (i < count) {
    const bool two = count - i == 2;
    const std::uint32_t v = (std::uint32_t{data[i]} << 16) | (two ? std::uint32_t{data[i + 1]} << 8 : 0u);
    *out++ = Base64Alphabet[(v >> 18) & 63];
    *out++ = Base64Alphabet[(v >> 12) & 63];
    *out++ = two ? Base64Alphabet[(v >> 6) & 63] : '=';
    *out++ = '=';
  }
  return out;
}

// Appends the lines of count bytes, each ended by CRLF.
void AppendLines(const unsigned char* data, std::size_t count, std::string& out) {
  const std::size_t start = out.size();
  out.resize(start + *Base64EncodedLength(count));
  char* at = out.data() + start;
  for (std::size_t done = 0; done < count; done += Base64LineBytes) {
    const std::size_t n = count - done < Base64LineBytes ? count - done : Base64LineBytes;
    at = EncodeGroups(data + done, n, at);
    *at++ = '\r';
    *at++ = '\n';
  }
}

// Reads until the block is full or the source ends.
std::size_t ReadBlock(ByteSource& source, std::vector<char>& block) {
  std::size_t filled = 0;
  while (filled < block.size()) {
    const std::size_t got = source.Read(block.data() + filled, block.size() - filled);
    if (got == 0) break;
    filled += got;
  }
  return filled;
}

// Packs 6-bit values into bytes appended to a text, from the most
// significant bit down.
class BitPacker {
 public:
  explicit BitPacker(std::string& out) : out_(out), start_(out.size()) {}
  void Add(int value) {
    bits_ = (bits_ << 6) | static_cast<std::uint32_t>(value);
    count_ += 6;
    if (count_ >= 8) {
      count_ -= 8;
      out_.push_back(static_cast<char>((bits_ >> count_) & 0xFF));
      bits_ &= (1u << count_) - 1u;
    }
  }
  // The byte that has received only part of its bits, when there is one.
  void AddPartial() {
    if (count_ != 0) out_.push_back(static_cast<char>((bits_ << (8 - count_)) & 0xFF));
    count_ = 0;
  }
  std::size_t Count() const { return out_.size() - start_; }

 private:
  std::string& out_;
  std::size_t start_;
  std::uint32_t bits_ = 0;
  int count_ = 0;
};

// Room for the bytes of a line: the carried bits and n characters never
// make more than n / 4 * 3 + 3 bytes.
unsigned char* Grow(std::string& out, std::size_t n) {
  const std::size_t start = out.size();
  out.resize(start + n / 4 * 3 + 3);
  return reinterpret_cast<unsigned char*>(out.data() + start);
}

void Shrink(std::string& out, const unsigned char* at) {
  out.resize(static_cast<std::size_t>(reinterpret_cast<const char*>(at) - out.data()));
}

void DecodeUuLine(std::string_view line, std::string& out) {
  if (line.empty()) return;
  const char length = line[0];
  if (!((length >= ' ' && length <= 'M') || length == '`')) return;
  const std::size_t count = static_cast<std::size_t>((length - 32) & 63);
  const std::size_t start = out.size();
  BitPacker packer(out);
  for (std::size_t i = 1; i < line.size() && packer.Count() < count; ++i) {
    const char c = line[i];
    if (c < ' ' || c > '`') break;
    packer.Add((c - 32) & 63);
  }
  // A line shortened by its trailing blanks (zero values) keeps the byte
  // that was being filled.
  if (packer.Count() < count) packer.AddPartial();
  if (out.size() - start > count) out.resize(start + count);
}

}  // namespace

void AppendQuotedPrintable(std::string_view text, std::string& out) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '=' && i + 2 < text.size() && IsHexDigit(text[i + 1]) && IsHexDigit(text[i + 2])) {
      out.push_back(static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2])));
      i += 2;
    } else {
      out.push_back(text[i]);
    }
  }
}

unsigned char* Base64Decoder::Step(unsigned char value, unsigned char* at) {
  bits_ = (bits_ << 6) | value;
  count_ += 6;
  if (count_ >= 8) {
    count_ -= 8;
    *at++ = static_cast<unsigned char>(bits_ >> count_);
    bits_ &= (1u << count_) - 1u;
  }
  return at;
}

unsigned char* Base64Decoder::LineTo(std::string_view line, unsigned char* at, bool& pad) {
  pad = false;
  const auto* p = reinterpret_cast<const unsigned char*>(line.data());
  const unsigned char* const end = p + line.size();
  const auto& table = Base64Values.value;
  const auto decode = [](const unsigned char* q) {
    const auto& group = GroupValues.at;
    return group[0][q[0]] | group[1][q[1]] | group[2][q[2]] | group[3][q[3]];
  };
  const auto put = [](unsigned char* to, std::uint32_t v) {
    to[0] = static_cast<unsigned char>(v >> 16);
    to[1] = static_cast<unsigned char>(v >> 8);
    to[2] = static_cast<unsigned char>(v);
  };
  for (;;) {
    if (count_ == 0) {
      // Whole groups, two at a time; a skipped character or "=" leaves the
      // rest to the one-at-a-time step.
      while (end - p >= 8) {
        const std::uint32_t v = decode(p), w = decode(p + 4);
        if (((v | w) & Bad) != 0) break;
        put(at, v);
        put(at + 3, w);
        at += 6;
        p += 8;
      }
      while (end - p >= 4) {
        const std::uint32_t v = decode(p);
        if ((v & Bad) != 0) break;
        put(at, v);
        at += 3;
        p += 4;
      }
    }
    if (p == end) break;
    const unsigned char value = table[*p++];
    if (value == Pad) {
      Reset();
      pad = true;
      return at;
    }
    if (value != Skip) at = Step(value, at);
  }
  return at;
}

bool Base64Decoder::Line(std::string_view line, std::string& out) {
  bool pad = false;
  Shrink(out, LineTo(line, Grow(out, line.size()), pad));
  return pad;
}

void Base64Decoder::LineOneByOne(std::string_view line, std::string& out) {
  unsigned char* at = Grow(out, line.size());
  for (const char c : line) {
    const unsigned char value = Base64Values.value[static_cast<unsigned char>(c)];
    if (value == Pad) {
      Reset();
      break;
    }
    if (value != Skip) at = Step(value, at);
  }
  Shrink(out, at);
}

int TransferKindOf(std::string_view encoding) {
  const std::string name = LowerCase(encoding);
  if (name == "base64") return TransferBase64;
  if (name == "mime") return TransferMime;
  if (name == "x-uuencode" || name == "uuencode") return TransferUuencode;
  if (name == "quoted-printable") return TransferQuotedPrintable;
  return TransferPlain;
}

std::string Base64EncodeChunk(const void* data, std::size_t count) {
  if (count > Base64LineBytes) count = Base64LineBytes;
  std::string out((count + 2) / 3 * 4, '\0');
  EncodeGroups(static_cast<const unsigned char*>(data), count, out.data());
  return out;
}

std::optional<std::size_t> Base64EncodedLength(std::uint64_t size) {
  constexpr std::uint64_t Max = std::numeric_limits<std::uint64_t>::max();
  const std::uint64_t groups = size / 3 + (size % 3 != 0 ? 1 : 0);
  const std::uint64_t lines = size / Base64LineBytes + (size % Base64LineBytes != 0 ? 1 : 0);
  if (groups > Max / 4 || lines > Max / 2 || groups * 4 > Max - lines * 2) return std::nullopt;
  const std::uint64_t total = groups * 4 + lines * 2;
  if (total > std::numeric_limits<std::size_t>::max()) return std::nullopt;
  return static_cast<std::size_t>(total);
}

bool Base64EncodeStream(ByteSource& source, ByteSink* sink, std::string* text, std::uint64_t sizeHint) {
  if (text != nullptr) text->clear();
  try {
    if (text != nullptr) {
      const std::optional<std::size_t> expected = Base64EncodedLength(sizeHint);
      if (!expected || *expected > text->max_size()) return false;
      text->reserve(*expected);
    }
    // Whole lines per read, so only the very last line is short.
    std::vector<char> block(Base64BlockBytes * 40);
    std::string lines;
    for (;;) {
      const std::size_t count = ReadBlock(source, block);
      const auto* bytes = reinterpret_cast<const unsigned char*>(block.data());
      if (text != nullptr) {
        AppendLines(bytes, count, *text);
      } else if (sink != nullptr) {
        lines.clear();
        AppendLines(bytes, count, lines);
        if (!lines.empty() && !sink->Write(lines)) break;
      }
      if (count < block.size()) {
        if (!source.Failed()) return true;
        break;
      }
    }
  } catch (const std::bad_alloc&) {
  } catch (const std::length_error&) {
  }
  if (text != nullptr) {
    text->clear();
    text->shrink_to_fit();
  }
  return false;
}

void DecodeMimeLineTo(int kind, std::string_view line, std::string& out) {
  switch (kind) {
    case TransferPlain:
      out.append(line);
      break;
    case TransferQuotedPrintable: {
      const bool softBreak = !line.empty() && line.back() == '=';
      if (softBreak) line.remove_suffix(1);
      AppendQuotedPrintable(line, out);
      if (!softBreak) out.append("\r\n");
      break;
    }
    case TransferUuencode:
      DecodeUuLine(line, out);
      break;
    case TransferBase64:
    case TransferMime: {
      Base64Decoder decoder;
      decoder.Line(line, out);
      break;
    }
    default:
      break;
  }
}

std::string DecodeMimeLine(int kind, std::string_view line) {
  std::string out;
  DecodeMimeLineTo(kind, line, out);
  return out;
}

std::string DecodeQuotedPrintable(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  AppendQuotedPrintable(text, out);
  return out;
}

std::string Latin1ToUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x80) {
      out.push_back(c);
    } else {
      out.push_back(static_cast<char>(0xC0 | (b >> 6)));
      out.push_back(static_cast<char>(0x80 | (b & 0x3F)));
    }
  }
  return out;
}

std::optional<std::string> ParseUUBeginLine(std::string_view line) {
  if (line.size() <= 10 || !SameText(line.substr(0, 6), "begin ")) return std::nullopt;
  const std::string mode = GetDelimitedItem(line, 1, ' ');
  if (mode.size() != 3) return std::nullopt;
  for (const char c : mode)
    if (c < '0' || c > '7') return std::nullopt;
  std::string name = GetDelimitedItem(line, 2, ' ');
  if (name.empty()) return std::nullopt;
  return CutTo(name, ShortTextLength);
}

}  // namespace core
