#include "core/mime/MessageBody.h"

#include <cstdint>
#include <limits>
#include <new>

#include "core/mime/MessageHeaders.h"
#include "core/mime/TransferCodecs.h"
#include "core/util/Text.h"

namespace core {

namespace {

// Lines outside taken parts are read only this far: enough for any boundary.
constexpr std::size_t ScanLimit = 1024;

enum class Stop { None, Full, EndOfMessage };

// What the levels of one walk share.
struct Walk {
  Walk(LineReader& reader, std::size_t limit, std::string_view wanted, std::int32_t& index, MessageForm messageForm)
      : message(reader),
        form(messageForm),
        maxLength(limit),
        wantedType(wanted),
        lineIndex(index),
        skipLines(index),
        started(index == 0) {}

  LineReader& message;
  MessageForm form;
  std::size_t maxLength;
  std::string wantedType;
  std::int32_t& lineIndex;
  std::int32_t skipLines;  // lines to pass before the first one returned
  bool started;
  bool inBody = false;
  int kind = TransferPlain;
  Base64Decoder base64;  // a group split across the lines of the part
  std::string skippedBytes;
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
  walk.base64.Reset();
  walk.inBody = true;
}

bool IsBase64(int kind) { return kind == TransferBase64 || kind == TransferMime; }

void TakeLine(Walk& walk, std::string_view line) {
  if (walk.form == MessageForm::Stuffed && !line.empty() && line[0] == '.') line.remove_prefix(1);
  if (!walk.started) {
    if (++walk.skipped <= walk.skipLines) {
      // A skipped line still carries its base64 leftover into the next page.
      if (IsBase64(walk.kind)) {
        walk.skippedBytes.clear();
        walk.base64.Line(line, walk.skippedBytes);
      }
      return;
    }
    walk.started = true;
  }
  if (walk.kind == TransferPlain) {
    walk.collected.append(line).append("\r\n");
  } else if (IsBase64(walk.kind)) {
    walk.base64.Line(line, walk.collected);
  } else {
    DecodeMimeLineTo(walk.kind, line, walk.collected);
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
  std::string_view line;
  while (walk.stop == Stop::None) {
    if (walk.maxLength != 0 && walk.collected.size() >= walk.maxLength) {
      walk.stop = Stop::Full;
      return;
    }
    // A taken part's lines are decoded whole, however long.
    if (!walk.message.ReadLineView(line, walk.inBody ? LineReader::NoLimit : ScanLimit)) return;
    const bool cut = walk.message.Cut();
    if (!prefix.empty() && line.starts_with(prefix)) {
      walk.inBody = false;
      // The closing delimiter, perhaps padded with blanks in transit.
      std::string_view closing = line;
      while (!closing.empty() && (closing.back() == ' ' || closing.back() == '\t'))
        closing.remove_suffix(1);
      if (!cut && closing.size() == prefix.size() + 2 && closing.ends_with("--")) return;
      ParseMimePartHeaders(walk.message, headers);
      EnterPart(walk, headers, depth);
      continue;
    }
    if (!walk.inBody) continue;
    if (walk.form == MessageForm::Stuffed && !cut && line == ".") {
      walk.message.SkipToEnd();
      walk.stop = Stop::EndOfMessage;
      return;
    }
    TakeLine(walk, line);
  }
}

// Room for the whole text at once, from what the source still holds (a
// page needs little more than its length); a reservation refused only costs
// growing as the text comes.
void Reserve(std::string& text, std::uint64_t sourceSize, std::size_t maxLength) {
  std::uint64_t wanted = sourceSize;
  if (maxLength != 0 && std::uint64_t{maxLength} + ScanLimit < wanted) wanted = std::uint64_t{maxLength} + ScanLimit;
  if (wanted > text.max_size() || wanted > std::numeric_limits<std::size_t>::max() / 2) return;
  try {
    text.reserve(static_cast<std::size_t>(wanted));
  } catch (const std::bad_alloc&) {
  }
}

}  // namespace

MessageForm MessageFormOf(std::string_view path) {
  const auto endsWith = [path](std::string_view tail) {
    return path.size() >= tail.size() && SameText(path.substr(path.size() - tail.size()), tail);
  };
  if (endsWith(".tmp")) return MessageForm::Stuffed;
  if (endsWith(".imap")) return MessageForm::StoredFile;
  return MessageForm::Stored;
}

bool ReadMessageBody(LineReader& message, std::string& out, std::size_t maxLength, std::string_view wantedType,
                     std::int32_t& lineIndex, MessageForm form) {
  if (lineIndex < 0) lineIndex = 0;
  if (form == MessageForm::StoredFile) message.SkipBytes(StoredFileHeaderBytes);
  Walk walk(message, maxLength, wantedType, lineIndex, form);
  Reserve(walk.collected, message.SizeHint(), maxLength);
  WalkLevel(walk, std::string(), 0);
  // A large message with little text keeps no large reservation.
  if (walk.collected.capacity() - walk.collected.size() > walk.collected.size() + LineReader::BlockSize)
    walk.collected.shrink_to_fit();
  if (out.empty())
    out = std::move(walk.collected);
  else
    out.append(walk.collected);
  return walk.stop == Stop::Full;
}

}  // namespace core
