// Punycode decoding: status in range, never more code points than the
// capacity, only valid Unicode scalar values, well-formed UTF-16.
// Bytes 0-1: capacity (little-endian), rest: the label.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "core/util/Punycode.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::uint32_t capacity = static_cast<std::uint32_t>(data[0] | (data[1] << 8));
  const std::string_view label(reinterpret_cast<const char*>(data + 2), size - 2);

  std::uint32_t length = capacity;
  std::vector<std::uint32_t> output;
  const int status = core::PunycodeDecode(static_cast<std::uint32_t>(label.size()), label.data(), length, output);
  if (status < core::PunycodeSuccess || status > core::PunycodeEmptyInput) std::abort();
  if (status == core::PunycodeSuccess) {
    if (length > capacity || output.size() != length) std::abort();
    for (const std::uint32_t c : output)
      if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) std::abort();
  }

  const std::u16string wide = core::PunycodeToWide(label);
  if (wide.size() > 2 * label.size()) std::abort();
  for (std::size_t i = 0; i < wide.size(); ++i) {
    const char16_t c = wide[i];
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 >= wide.size() || wide[i + 1] < 0xDC00 || wide[i + 1] > 0xDFFF) std::abort();
      ++i;
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      std::abort();
    }
  }
  return 0;
}
