#pragma once
// Header blocks of stored messages and of their MIME parts, read from and
// rewritten over a line source (core/mime/LineReader.h). Every header block
// is bounded by HeaderTextLimit and HeaderLineLimit.

#include <optional>
#include <string>
#include <string_view>

#include "core/mime/LineReader.h"

namespace core {

// The value of the first header of that name ("Subject: "; trimmed and
// matched at the start of a line, case ignored) in the header block: the
// rest of its line and its continuation lines (those starting with a blank
// or a tab) unfolded, the line breaks removed and the blanks kept, then
// trimmed. Empty when the header is missing or the name is empty.
std::string ReadHeaderValue(LineReader& message, std::string_view name);

// ReadHeaderValue cut to 255 characters.
std::string ReadMessageHeader(LineReader& message, std::string_view name);

// Copies the message to the sink, every line ended by CRLF, with the first
// header of that name in the header block replaced by name + trimmed value
// (its continuation lines left out), or, with addIfMissing and no such
// header, that line added at the end of the header block. CR and LF in the
// value become blanks. False when the name is empty or reading or writing
// failed.
bool ReplaceHeaderLines(LineReader& message, ByteSink& target, std::string_view name, std::string_view value,
                        bool addIfMissing);

// What one MIME part's header block says; every field but the header text
// is at most 255 characters.
struct MimePartHeaders {
  std::string type;     // upper case, before "/"
  std::string subtype;  // upper case, after "/"
  std::string transferEncoding;
  std::string charset;
  std::string contentId;
  std::string fileName;  // from "filename" or "name", encoded words or RFC 2231 forms decoded
  std::string boundary;
  std::string headerText;  // every line read, each followed by CRLF
};

// Reads one header block up to its empty line (or the limits) and fills the
// record. A pending line, already read by the caller, is taken as the first
// line of the block.
void ParseMimePartHeaders(LineReader& message, MimePartHeaders& headers,
                          std::optional<std::string_view> pendingLine = std::nullopt);

}  // namespace core
