#include "core/mime/MessageHeaders.h"

#include "core/mime/HeaderText.h"
#include "core/util/Text.h"

namespace core {

namespace {

bool StartsWithText(std::string_view line, std::string_view prefix) {
  return line.size() >= prefix.size() && SameText(line.substr(0, prefix.size()), prefix);
}

bool IsContinuation(std::string_view line) { return !line.empty() && (line[0] == ' ' || line[0] == '\t'); }

bool Contains(std::string_view lowerLine, std::string_view what) { return lowerLine.find(what) != std::string::npos; }

// Buffers the copy so the sink sees large writes.
class CopyBuffer {
 public:
  explicit CopyBuffer(ByteSink& sink) : sink_(sink) {}
  void Add(std::string_view bytes) {
    buffer_.append(bytes);
    if (buffer_.size() >= LineReader::BlockSize) Flush();
  }
  bool Flush() {
    if (!buffer_.empty()) ok_ = sink_.Write(buffer_) && ok_;
    buffer_.clear();
    return ok_;
  }

 private:
  ByteSink& sink_;
  std::string buffer_;
  bool ok_ = true;
};

// "Content-Type:" and "Content-Disposition:" values: the first word, ";"
// counting as a blank, split at "/" into upper-case type and subtype.
void SetType(std::string_view value, MimePartHeaders& headers) {
  std::string word = Trim(value);
  for (char& c : word)
    if (c == ';' || c == '\t') c = ' ';
  word = UpperCase(Trim(word.substr(0, word.find(' '))));
  const std::size_t slash = word.find('/');
  headers.type = CutTo(slash == std::string::npos ? std::string() : word.substr(0, slash), ShortTextLength);
  headers.subtype = CutTo(slash == std::string::npos ? word : word.substr(slash + 1), ShortTextLength);
}

// The file name of one header: "filename" before "name", each first in its
// plain form and then in its RFC 2231 form.
std::string FileNameOf(std::string_view header, const std::string& lower) {
  for (const std::string_view key : {"filename", "name"}) {
    if (Contains(lower, std::string(key) + "=")) {
      const std::string plain = GetHeaderParameter(key, header);
      if (!plain.empty()) return DecodeHeaderText(plain, false);
    }
    if (Contains(lower, std::string(key) + "*")) {
      std::string extended = GetExtendedParameter(key, header);
      if (!extended.empty()) return extended;
    }
  }
  return {};
}

// header: the whole header, its continuation lines joined.
void ScanParameters(std::string_view header, bool typeLine, MimePartHeaders& headers) {
  const std::string lower = LowerCase(header);
  const std::string name = FileNameOf(header, lower);
  if (!name.empty()) headers.fileName = CutTo(name, ShortTextLength);
  if (!typeLine) return;
  if (Contains(lower, "boundary=")) headers.boundary = CutTo(GetHeaderParameter("boundary", header), ShortTextLength);
  if (Contains(lower, "charset=")) headers.charset = CutTo(GetHeaderParameter("charset", header), ShortTextLength);
}

}  // namespace

std::string ReadHeaderValue(LineReader& message, std::string_view name) {
  const std::string key = Trim(name);
  if (key.empty()) return {};
  HeaderBudget budget;
  std::string line;
  while (message.ReadHeaderLine(line, budget) && !line.empty()) {
    if (!StartsWithText(line, key)) continue;
    // Unfolded: the line breaks go, the blanks that follow them stay.
    std::string value = line.substr(key.size());
    while (message.ReadHeaderLine(line, budget) && IsContinuation(line))
      value.append(line);
    return Trim(value);
  }
  return {};
}

std::string ReadMessageHeader(LineReader& message, std::string_view name) {
  return CutTo(ReadHeaderValue(message, name), ShortTextLength);
}

bool ReplaceHeaderLines(LineReader& message, ByteSink& target, std::string_view name, std::string_view value,
                        bool addIfMissing) {
  const std::string key = Trim(name);
  if (key.empty()) return false;
  std::string newLine = std::string(name) + Trim(value);
  for (char& c : newLine)
    if (c == '\r' || c == '\n') c = ' ';
  newLine.append("\r\n");

  CopyBuffer out(target);
  HeaderBudget budget;
  bool inHeader = true;  // inside the header block and its limits
  bool replaced = false;
  bool dropContinuations = false;
  bool lineStart = true;
  std::string piece;
  while (message.ReadPiece(piece, inHeader ? budget.Room() + 1 : LineReader::BlockSize)) {
    const bool whole = message.LineEnded();
    if (lineStart && inHeader) {
      const bool continuation = IsContinuation(piece);
      if (!whole || !budget.Take(piece.size())) {
        inHeader = false;  // an endless header: the rest is copied unchanged
      } else if (piece.empty()) {
        inHeader = false;
        if (!replaced && addIfMissing) out.Add(newLine);
        replaced = true;
      } else if (dropContinuations && continuation) {
        continue;
      } else if (!replaced && StartsWithText(piece, key)) {
        out.Add(newLine);
        replaced = dropContinuations = true;
        continue;
      }
      if (!continuation) dropContinuations = false;
    }
    out.Add(piece);
    if (whole) out.Add("\r\n");
    lineStart = whole;
  }
  // A message that is all header gets the new line at its end.
  if (inHeader && !replaced && addIfMissing) out.Add(newLine);
  return out.Flush() && !message.Failed();
}

void ParseMimePartHeaders(LineReader& message, MimePartHeaders& headers, std::optional<std::string_view> pendingLine) {
  headers = MimePartHeaders();
  HeaderBudget budget;
  std::string line;
  const auto next = [&] {
    if (!message.ReadHeaderLine(line, budget)) return false;
    headers.headerText.append(line).append("\r\n");
    return true;
  };
  bool have;
  if (pendingLine) {
    line = *pendingLine;
    have = budget.Take(line.size());
    if (have) headers.headerText.append(line).append("\r\n");
  } else {
    have = next();
  }
  bool typeSeen = false;
  while (have && !line.empty()) {
    if (StartsWithText(line, "Content-ID:")) {
      headers.contentId = CutTo(Trim(std::string_view(line).substr(11)), ShortTextLength);
    } else if (StartsWithText(line, "Content-Transfer-Encoding:")) {
      headers.transferEncoding = CutTo(Trim(std::string_view(line).substr(26)), ShortTextLength);
    } else if (StartsWithText(line, "Content-Type:") || StartsWithText(line, "Content-Disposition:")) {
      const bool typeLine = StartsWithText(line, "Content-Type:");
      // A disposition stands in for the type only until a real type comes.
      if (typeLine || !typeSeen) SetType(std::string_view(line).substr(typeLine ? 13 : 20), headers);
      typeSeen = typeSeen || typeLine;
      // Parameters are read from the unfolded header, so a quoted value
      // may go on past a line break.
      std::string header = line;
      while ((have = next()) && IsContinuation(line))
        header.append(line);
      ScanParameters(header, typeLine, headers);
      continue;
    }
    have = next();
  }
}

}  // namespace core
