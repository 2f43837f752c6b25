#include "core/mime/MessageBody.h"

#include <cstdint>

#include "core/mime/MessageHeaders.h"
#include "core/mime/TransferCodecs.h"
#include "core/util/Text.h"

namespace core {

namespace {

// Lines outside plain-text parts are read only this far: enough for any
// boundary and for the 255 characters a decoder takes.
constexpr std::size_t ScanLimit = 1024;

enum class Stop { None, Full, EndOfMessage };

// What the levels of one walk share.
struct Walk {
  Walk(LineReader& reader, std::size_t limit, std::string_view wanted, std::int32_t& index)
      : message(reader),
        maxLength(limit),
        wantedType(wanted),
        lineIndex(index),
        skipLines(index),
        started(index == 0) {}

  LineReader& message;
  std::size_t maxLength;
  std::string wantedType;
  std::int32_t& lineIndex;
  std::int32_t skipLines;  // lines to pass before the first one returned
  bool started;
  bool inBody = false;
  int kind = TransferPlain;
  std::int64_t skipped = 0;
  std::string collected;
  Stop stop = Stop::None;
};

void WalkLevel(Walk& walk, const std::string& boundary, int depth);

// Decides from a part's header block whether the part is a nested level, text
// to take, or something to pass over.
void EnterPart(Walk& walk, MimePartHeaders& headers, int depth) {
  for (int enclosed = 0; enclosed < MaxMultipartDepth; ++enclosed) {
    if (LowerCase(headers.type + "/" + headers.subtype) != "message/rfc822") break;
    ParseMimePartHeaders(walk.message, headers);
  }
  if (!headers.boundary.empty()) {
    if (depth < MaxMultipartDepth) WalkLevel(walk, headers.boundary, depth + 1);
    return;
  }
  if (!headers.fileName.empty()) return;
  const std::string type = headers.type + "/" + headers.subtype;
  const bool take =
      walk.wantedType.empty() ? (SameText(type, "text/plain") || type == "/") : SameText(type, walk.wantedType);
  if (!take) return;
  walk.kind = TransferKindOf(headers.transferEncoding);
  walk.inBody = true;
}

void TakeLine(Walk& walk, std::string_view line) {
  if (!walk.started) {
    if (++walk.skipped <= walk.skipLines) return;
    walk.started = true;
  }
  if (!line.empty() && line[0] == '.') line.remove_prefix(1);
  if (walk.kind == TransferPlain) {
    walk.collected.append(line).append("\r\n");
  } else {
    DecodeMimeLineTo(walk.kind, line.substr(0, ShortTextLength), walk.collected);
  }
  if (walk.lineIndex < INT32_MAX) ++walk.lineIndex;
}

void WalkLevel(Walk& walk, const std::string& boundary, int depth) {
  const std::string prefix = boundary.empty() ? std::string() : "--" + boundary;
  MimePartHeaders headers;
  if (depth == 0) {
    ParseMimePartHeaders(walk.message, headers);
    EnterPart(walk, headers, depth);
  }
  std::string line;
  while (walk.stop == Stop::None) {
    if (walk.maxLength != 0 && walk.collected.size() >= walk.maxLength) {
      walk.stop = Stop::Full;
      return;
    }
    const bool whole = walk.inBody && walk.kind == TransferPlain;
    if (!walk.message.ReadLine(line, whole ? LineReader::NoLimit : ScanLimit)) return;
    const bool cut = walk.message.Cut();
    if (!prefix.empty() && line.starts_with(prefix)) {
      walk.inBody = false;
      // The closing delimiter, perhaps padded with blanks in transit.
      std::string_view closing(line);
      while (!closing.empty() && (closing.back() == ' ' || closing.back() == '\t'))
        closing.remove_suffix(1);
      if (!cut && closing.size() == prefix.size() + 2 && closing.ends_with("--")) return;
      ParseMimePartHeaders(walk.message, headers);
      EnterPart(walk, headers, depth);
      continue;
    }
    if (!walk.inBody) continue;
    if (!cut && line == ".") {
      walk.message.SkipToEnd();
      walk.stop = Stop::EndOfMessage;
      return;
    }
    TakeLine(walk, line);
  }
}

}  // namespace

bool ReadMessageBody(LineReader& message, std::string& out, std::size_t maxLength, std::string_view wantedType,
                     std::int32_t& lineIndex) {
  if (lineIndex < 0) lineIndex = 0;
  Walk walk(message, maxLength, wantedType, lineIndex);
  WalkLevel(walk, std::string(), 0);
  if (out.empty())
    out = std::move(walk.collected);
  else
    out.append(walk.collected);
  return walk.stop == Stop::Full;
}

}  // namespace core
