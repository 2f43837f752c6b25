// Number readers on arbitrary texts: no crash, no undefined arithmetic, and
// results within the ranges their callers rely on.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "core/util/Numbers.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  const std::int32_t value = core::TextToInt(text);
  // The hex writer and reader agree on every 32-bit value.
  if (core::HexToInt(core::IntToHexText(value, false)) != static_cast<std::uint32_t>(value)) std::abort();
  if (core::HexToInt(core::IntToHex8(value)) != static_cast<std::uint32_t>(value)) std::abort();
  (void)core::HexToInt(text);

  // Integer part below 2^32, fraction below 1.
  const double real = core::TextToFloat(text);
  if (!std::isfinite(real) || std::fabs(real) >= 4294967296.0) std::abort();

  if (size >= sizeof(double) + 1) {
    double number;
    std::memcpy(&number, data + 1, sizeof number);
    const int decimals = static_cast<std::int8_t>(data[0]);
    const std::string formatted = core::FormatFloatFixed(decimals, number);
    // Sign, 19 digits, decimal sign, at most 18 places.
    if (formatted.empty() || formatted.size() > 1 + 19 + 1 + 18) std::abort();
  }
  return 0;
}
