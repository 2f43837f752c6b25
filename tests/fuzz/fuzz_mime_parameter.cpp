// Header parameters: the value is part of the line; an RFC 2231 value is no
// longer than the line and holds no line break or NUL. Byte 0: which name;
// rest: the line.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/mime/HeaderText.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  static constexpr std::string_view Names[] = {"name", "filename", "boundary", "charset="};
  const std::string_view line(reinterpret_cast<const char*>(data + 1), size - 1);
  const std::string value = core::GetHeaderParameter(Names[data[0] % 4], line);
  if (value.size() > line.size()) std::abort();
  if (value.find('"') != std::string::npos && value.find(';') != std::string::npos) std::abort();
  const std::string extended = core::GetExtendedParameter(Names[data[0] % 4], line);
  if (extended.size() > line.size() || extended.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos)
    std::abort();
  return 0;
}
