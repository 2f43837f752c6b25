// Header values of a message: bounded by the header block, the short form a
// prefix of the long one. Byte 0: name length; then the name, then the message.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/mime/MessageHeaders.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::size_t nameLength = data[0] % 32 < size - 1 ? data[0] % 32 : size - 1;
  const std::string_view name(reinterpret_cast<const char*>(data + 1), nameLength);
  const std::string_view message(reinterpret_cast<const char*>(data + 1 + nameLength), size - 1 - nameLength);

  core::MemorySource source(message, 7);
  core::LineReader reader(source);
  const std::string value = core::ReadHeaderValue(reader, name);
  core::MemorySource again(message);
  core::LineReader againReader(again);
  const std::string shortValue = core::ReadMessageHeader(againReader, name);
  if (value.size() > core::HeaderTextLimit || shortValue.size() > 255) std::abort();
  if (value.compare(0, shortValue.size(), shortValue) != 0) std::abort();
  if (value.find_first_of("\r\n") != std::string::npos) std::abort();
  return 0;
}
