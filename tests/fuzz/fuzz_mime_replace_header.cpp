// Header replacement: CRLF lines only, the same output for any block size,
// and an added header costs nothing of the message.
// Byte 0: block size, byte 1: add flag, byte 2: value length; then the value
// and the message. The header name is fixed.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/mime/MessageHeaders.h"
#include "core/util/Text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const std::size_t chunk = data[0];
  const bool add = (data[1] & 1) != 0;
  const std::size_t valueLength = data[2] < size - 3 ? data[2] : size - 3;
  const std::string_view value(reinterpret_cast<const char*>(data + 3), valueLength);
  const std::string_view message(reinterpret_cast<const char*>(data + 3 + valueLength), size - 3 - valueLength);

  std::string outputs[2];
  for (int i = 0; i < 2; ++i) {
    core::MemorySource source(message, i == 0 ? 0 : chunk);
    core::LineReader reader(source);
    core::StringSink sink(outputs[i]);
    if (!core::ReplaceHeaderLines(reader, sink, "Subject: ", value, add)) std::abort();
  }
  const std::string& out = outputs[0];
  if (out != outputs[1]) std::abort();
  for (std::size_t i = 0; i < out.size(); ++i) {
    if (out[i] == '\r' && (i + 1 == out.size() || out[i + 1] != '\n')) std::abort();
    if (out[i] == '\n' && (i == 0 || out[i - 1] != '\r')) std::abort();
  }
  if (!out.empty() && out.back() != '\n') std::abort();
  // A header added to a short message that lacks it: the output is the
  // message with CRLF line ends and the one new line.
  if (add && message.size() < 2000 && core::LowerCase(message).find("subject:") == std::string::npos) {
    std::string normalized, line;
    core::MemorySource source(message);
    core::LineReader reader(source);
    while (reader.ReadLine(line))
      normalized += line + "\r\n";
    std::string added = "Subject: " + core::Trim(value);
    for (char& c : added)
      if (c == '\r' || c == '\n') c = ' ';
    added += "\r\n";
    std::string rest = out;
    const std::size_t at = rest.find(added);
    if (at == std::string::npos) std::abort();
    rest.erase(at, added.size());
    if (rest != normalized) std::abort();
  }
  return 0;
}
