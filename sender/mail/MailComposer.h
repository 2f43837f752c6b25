#pragma once
// Composes the text a Mailer sends after DATA, apart from files, clocks and
// sockets: the draft, the local time and zone text, a random source for the
// boundary and a reader of the files to attach go in; the whole text comes
// out with every line ended by CRLF (bare CR and LF become CRLF), every line
// that starts with "." stuffed with one more, and the end mark "." CRLF.
//
// Header lines: Date, MIME-Version, Subject (always), From, To, Cc, Reply-To,
// the body's Content-Type (and Content-Transfer-Encoding) or, with parts,
// multipart/mixed with its boundary, then the custom headers. CR, LF and NUL
// in header values become blanks; list entries are joined by ", "; a line
// longer than 78 characters is folded before a blank (one that a non-blank
// follows), at 78 where one lies there, else at the first one after, so no
// line that can be folded passes 998. A body line over 998 octets, with no
// transfer encoding given, makes the body quoted-printable.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "core/mime/LineReader.h"
#include "core/mime/MailDate.h"
#include "sender/mail/MailDraft.h"

namespace sender {

// Opens the files of a draft's parts, by their index in draft.parts.
class PartReader {
 public:
  virtual ~PartReader() = default;
  // The file's bytes; nullptr when it cannot be opened. A source that fails
  // while it is read fails the composition too.
  virtual std::unique_ptr<core::ByteSource> Open(std::size_t index) = 0;
};

// Draws the numbers of a boundary.
using RandomSource = std::function<std::uint32_t()>;

// The longest header line the folding aims at, and the longest line of the
// data a server must take (RFC 5322 2.1.1).
inline constexpr std::size_t FoldWidth = 78;
inline constexpr std::size_t MaxLineLength = 998;

// The DATA text of the draft, written to out (replaced). False, with out
// empty, when a part's file cannot be opened or read.
bool ComposeMail(const MailDraft& draft, const core::CivilTime& localTime, std::string_view zoneText,
                 const RandomSource& random, PartReader& parts, std::string& out);

// "--=" and the decimal texts of two numbers, drawn again while the body
// holds it.
std::string DrawBoundary(std::string_view body, const RandomSource& random);

// RFC 2047 encoded words of the text: "=?charset?Q?...?=", the charset
// "us-ascii" when none is given (and without the bytes that would end a
// word). A blank becomes "_"; "=", "?", "_", bytes below 33 and from 127 on
// become "=" and two lower-case hexadecimal digits. Each word holds at most
// 75 characters (at least one character, whatever the charset's length);
// words are joined by one blank; a character is never split: a UTF-8
// sequence when the charset names UTF-8, else the two bytes of a character
// whose first byte isLeadByte tells (none when it is null).
std::string EncodeHeader(std::string_view text, std::string_view charset, bool (*isLeadByte)(unsigned char) = nullptr);

// Whether a charset name names UTF-8 ("utf-8" or "utf8", any case).
bool NamesUtf8(std::string_view charset);

// Folds one header line ("Name: value", no line break inside) as described
// above: CRLF and the blank that follows it.
std::string FoldHeaderLine(std::string_view line);

// The body in quoted-printable (RFC 2045): CR, LF and CRLF end lines (CRLF
// in the output), lines of at most 76 characters with soft breaks.
std::string QuotedPrintable(std::string_view body);

// Whether a line of the text (CR, LF and CRLF end lines) is longer than
// MaxLineLength octets.
bool HasOverlongLine(std::string_view text);

}  // namespace sender
