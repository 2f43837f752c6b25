#pragma once
// Transfer-encoding coders of message bodies and header words: base64 out
// (lines of 72 characters), base64, uuencode and quoted-printable in, one
// body line at a time, and the 8-bit to UTF-8 converter.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/mime/LineReader.h"

namespace core {

// How one body line is decoded; other numbers give an empty line.
enum TransferKind : int {
  TransferBase64 = 0,
  TransferUuencode = 1,
  TransferMime = 2,  // base64 under the encoding name "mime"
  TransferPlain = 3,
  TransferQuotedPrintable = 4,
};

// "base64" 0, "mime" 2, "x-uuencode"/"uuencode" 1, "quoted-printable" 4,
// anything else 3; the name's case is ignored.
int TransferKindOf(std::string_view encoding);

// One base64 line holds 54 bytes as 72 characters.
inline constexpr std::size_t Base64LineBytes = 54;
// The encoder reads 30 lines' worth at a time.
inline constexpr std::size_t Base64BlockBytes = 1620;

// Base64 of at most 54 bytes (more are cut to 54), "=" padded.
std::string Base64EncodeChunk(const void* data, std::size_t count);

// Length of the line-broken encoding of size bytes (CRLF after every line,
// the last included); nothing when it does not fit a size_t.
std::optional<std::size_t> Base64EncodedLength(std::uint64_t size);

// Encodes everything the source holds into base64 lines of 72 characters,
// each ended by CRLF. With a text the lines are collected in it (sized once
// from sizeHint, the expected byte count, and filled in place); without one
// each block's lines go to the sink. False when the source or the sink fails
// or the text cannot be held; the text is then empty.
bool Base64EncodeStream(ByteSource& source, ByteSink* sink, std::string* text, std::uint64_t sizeHint);

// Base64 over the lines of one part: a group of four characters may be split
// across lines (a part wrapped at 70 or 74 characters), so the bits of the
// characters left over from one line are completed by the next. Characters
// outside the alphabet are skipped; "=" ends the line's input and drops an
// unfinished group. Complete bytes only are emitted.
class Base64Decoder {
 public:
  // Appends the bytes of the line, four characters at a time where it can;
  // true when an "=" ended the line's input.
  bool Line(std::string_view line, std::string& out);
  // The same into a buffer with room for line.size() / 4 * 3 + 3 bytes;
  // answers the end of what it wrote, pad as Line's result.
  unsigned char* LineTo(std::string_view line, unsigned char* out, bool& pad);
  // The same one character at a time: the reference for Line.
  void LineOneByOne(std::string_view line, std::string& out);
  void Reset() {
    bits_ = 0;
    count_ = 0;
  }

 private:
  unsigned char* Step(unsigned char value, unsigned char* at);

  std::uint32_t bits_ = 0;
  int count_ = 0;  // bits waiting for the next character: 0, 2, 4 or 6
};

// One body line decoded by transfer kind (see TransferKind). Base64 skips
// characters outside its alphabet, stops at "=" and emits complete bytes
// only; uuencode takes its byte count from the first character (an invalid
// one gives an empty line); quoted-printable drops a final soft-break "=" or
// else appends CRLF.
std::string DecodeMimeLine(int kind, std::string_view line);
// The same, appended to out.
void DecodeMimeLineTo(int kind, std::string_view line, std::string& out);

// "=" and two hexadecimal digits become that byte; an "=" without two
// digits after it stays as it is.
std::string DecodeQuotedPrintable(std::string_view text);
// The same, appended to out.
void AppendQuotedPrintable(std::string_view text, std::string& out);

// Every byte from 128 up as its two-byte UTF-8 form (the text is Latin-1).
std::string Latin1ToUtf8(std::string_view text);

// A uuencode "begin <mode> <name>" line: the line is longer than 10
// characters, the mode three octal digits and the name not empty. The name
// ends at its first blank and is cut to 255 characters.
std::optional<std::string> ParseUUBeginLine(std::string_view line);

}  // namespace core
