#pragma once
// Message variables in template lines: "%%" tokens for the data of the
// message being written, keywords with an argument ("%%Header Subject%%",
// "%%Include c:\x.txt%%", "%%Exec cmd%%", ...) and "$$Set ...$$" lines that
// are not written. Every variable is located once in the template line and
// the line is assembled from its text and the values: a value is never
// searched again, so a header or command output holding "%%Exec" stays text,
// and every argument a keyword passes on is a piece of the template line.
// Pure over VariableEnvironment: the Windows build gives it the message file
// and the system, the tests a fake.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/mime/LineReader.h"
#include "core/variables/VariableEnvironment.h"

namespace core {

// An included file nests at most includeDepth deep, and one template line
// reads at most includeBytes of included files; past either an include gives
// its file name.
struct ExpansionLimits {
  int includeDepth = 8;
  std::uint64_t includeBytes = std::uint64_t{64} << 20;
};

// One occurrence of a keyword with its argument in a line: the keyword at
// start, its argument from argumentStart up to the terminator character at
// terminator; the occurrence ends two characters after the terminator (or
// at the end of the line).
struct VariableArgument {
  std::size_t start = 0;
  std::size_t argumentStart = 0;
  std::size_t terminator = 0;
  std::size_t end = 0;
  std::string_view Argument(std::string_view line) const {
    return line.substr(argumentStart, terminator - argumentStart);
  }
};

// Finds the next occurrence of the keyword at or after from (letter case
// ignored unless caseSensitive; lowerLine is the line in lower case) that
// has a terminator after it; false when there is none.
bool GetVariableArgument(std::string_view line, std::string_view lowerLine, std::string_view keyword, char terminator,
                         bool caseSensitive, std::size_t from, VariableArgument& found);

// The header value for "%%Delete " and "%%Copy ": the argument's three
// blank-separated words are the header name (":" appended when missing), the
// index and the count (a word that is no number gives 0).
struct HeaderArgument {
  std::string value;  // the header's value, encoded words decoded
  std::int64_t index = 0;
  std::int64_t count = 0;
};
HeaderArgument ExpandHeaderArgument(VariableEnvironment& env, std::string_view argument);

// Expands one template line into out. keep starts true and is cleared by
// "$$Set" and by "%%Include_Base64 " with an output: that keyword's line
// (without its keywords) and the named files in base64 lines go to the
// output directly. Without an output "%%Include_Base64 " stays in the line.
void ExpandSystemVariables(VariableEnvironment& env, std::string_view line, bool& keep, std::string& out,
                           ByteSink* output, const ExpansionLimits& limits = {});

// The same without an output; the keep flag is not reported.
std::string ExpandSystemVariablesText(VariableEnvironment& env, std::string_view line,
                                      const ExpansionLimits& limits = {});

// Writes message lines as a message file holds them: CR, LF and CRLF inside
// the bytes all become CRLF, and in the stuffed form (".tmp") every line that
// starts with "." gets one more in front. Output is buffered; Flush writes
// it out. False once a write of the target failed.
class MessageLineWriter final : public ByteSink {
 public:
  MessageLineWriter(ByteSink& target, bool stuffed) : target_(target), stuffed_(stuffed) {}
  bool Write(std::string_view bytes) override;
  // A line without its break, then CRLF.
  bool WriteLine(std::string_view line);
  // The same for a line known to hold no CR or LF.
  bool WritePlainLine(std::string_view line);
  // Bytes written as they are, with no stuffing (the end mark of a message).
  bool WriteRaw(std::string_view bytes);
  bool Flush();

 private:
  bool Spill();
  ByteSink& target_;
  bool stuffed_;
  bool lineStart_ = true;
  bool afterCR_ = false;
  bool failed_ = false;
  std::string buffer_;
};

// Expands every line of a message into the target. In the stuffed form each
// line is unstuffed before and stuffed when written, and a line that is
// exactly "." (the end mark) is written unchanged, never expanded. False when
// the message could not be read or the target not written.
bool ExpandMessageLines(VariableEnvironment& env, ByteSource& message, ByteSink& target, bool stuffed,
                        const ExpansionLimits& limits = {});

}  // namespace core
