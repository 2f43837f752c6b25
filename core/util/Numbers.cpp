#include "core/util/Numbers.h"

#include <atomic>
#include <charconv>
#include <cmath>
#include <limits>

namespace core {

namespace {

std::atomic<DecimalSignProvider> g_decimalSign{nullptr};

constexpr std::int64_t Int64Max = std::numeric_limits<std::int64_t>::max();

int DigitInBase(char c, int base) {
  if (c >= '0' && c <= '9') return c - '0';
  if (base == 16) {
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  }
  return -1;
}

// Reads blanks, an optional sign (when allowed), an optional hex prefix and
// digits. Stops at the first non-digit, and before the value would leave the
// signed 64-bit range, so no arithmetic ever overflows.
std::int64_t ReadInteger(std::string_view text, bool allowSign) {
  std::size_t i = 0;
  const std::size_t n = text.size();
  while (i < n && text[i] == ' ')
    ++i;
  bool negative = false;
  if (allowSign && i < n && (text[i] == '-' || text[i] == '+')) {
    negative = text[i] == '-';
    ++i;
  }
  int base = 10;
  if (i < n && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
    base = 16;
    ++i;
  } else if (i + 1 < n && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  std::int64_t value = 0;
  for (; i < n; ++i) {
    const int digit = DigitInBase(text[i], base);
    if (digit < 0 || value > (Int64Max - digit) / base) break;
    value = value * base + digit;
  }
  return negative ? -value : value;
}

std::int32_t Low32(std::int64_t value) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(value)));
}

bool IsSpaceOrControl(char c) { return static_cast<unsigned char>(c) <= 32; }

// Exact for exponents up to 22, where every power of ten is a double.
double PowerOfTen(std::size_t exponent) {
  if (exponent > 22) return std::pow(10.0, static_cast<double>(exponent));
  double result = 1.0;
  for (std::size_t k = 0; k < exponent; ++k)
    result *= 10.0;
  return result;
}

void AppendUnsigned(std::string& out, std::uint64_t value) {
  char buffer[24];
  const auto done = std::to_chars(buffer, buffer + sizeof buffer, value);
  out.append(buffer, done.ptr);
}

}  // namespace

int HexDigitValue(char c) {
  const int digit = DigitInBase(c, 16);
  return digit < 0 ? 0 : digit;
}

std::uint32_t HexToInt(std::string_view text) {
  std::uint32_t value = 0;
  for (const char c : text)
    value = value * 16u + static_cast<std::uint32_t>(HexDigitValue(c));
  return value;
}

std::string IntToHexText(std::int32_t value, bool noPad) {
  static constexpr char Digits[] = "0123456789ABCDEF";
  auto rest = static_cast<std::uint32_t>(value);
  char buffer[8];
  std::size_t count = 0;
  do {
    buffer[count++] = Digits[rest & 15u];
    rest >>= 4;
  } while (rest != 0);
  std::string result;
  if (!noPad && count % 2 != 0) result.push_back('0');
  while (count > 0)
    result.push_back(buffer[--count]);
  return result;
}

std::string IntToHex8(std::int32_t value) { return PadLeft(IntToHexText(value, false), 8, '0'); }

std::string PadLeft(std::string_view text, std::uint16_t width, char fill) {
  if (text.size() >= width) return std::string(text.substr(0, width));
  std::string result(width - text.size(), fill);
  result.append(text);
  return result;
}

std::string PadRight(std::string_view text, std::uint16_t width, char fill) {
  if (text.size() >= width) return std::string(text.substr(0, width));
  std::string result(text);
  result.append(width - text.size(), fill);
  return result;
}

void SetDecimalSignProvider(DecimalSignProvider provider) { g_decimalSign.store(provider); }

std::string FormatFloatFixed(int decimals, double value) {
  // More decimals than 18 carry no information from a double.
  const int places = decimals > 18 ? 18 : decimals;
  const bool negative = value < 0;  // false for NaN
  double magnitude = std::isnan(value) ? 0.0 : std::fabs(value);

  // Clamp to the 64-bit range instead of casting an out-of-range double.
  constexpr double TwoTo63 = 9223372036854775808.0;
  const std::uint64_t limit = negative ? (std::uint64_t{1} << 63) : std::uint64_t{Int64Max};
  std::uint64_t whole;
  double fraction = 0.0;
  if (magnitude >= TwoTo63) {
    whole = limit;
  } else {
    whole = static_cast<std::uint64_t>(magnitude);
    fraction = magnitude - static_cast<double>(whole);
  }

  std::uint64_t fractionDigits = 0;
  if (places > 0) {
    const auto scale = static_cast<std::uint64_t>(PowerOfTen(static_cast<std::size_t>(places)));
    // Half away from zero on the magnitude.
    fractionDigits = static_cast<std::uint64_t>(std::round(fraction * static_cast<double>(scale)));
    if (fractionDigits >= scale) {
      fractionDigits -= scale;
      if (whole < limit) ++whole;
    }
  }

  std::string result;
  if (negative && (whole != 0 || fractionDigits != 0)) result.push_back('-');
  AppendUnsigned(result, whole);
  if (places > 0) {
    const DecimalSignProvider provider = g_decimalSign.load();
    result.push_back(provider != nullptr ? provider() : '.');
    std::string digits;
    AppendUnsigned(digits, fractionDigits);
    result.append(static_cast<std::size_t>(places) - digits.size(), '0');
    result.append(digits);
  }
  return result;
}

std::int32_t TextToInt(std::string_view text) { return Low32(ReadInteger(text, true)); }

// Layout: [blanks] [one sign] integer-part [ "." or "," fraction ].
// The separator is the first "." or, when there is none, the first ",".
// The integer part is read as by TextToInt (without a sign) and taken as an
// unsigned 32-bit value. The fraction's numerator is its leading decimal
// digits; its divisor is 10 to the number of characters after the separator,
// so "1.5.3" reads as 1 + 5/1000. At most 9 significant digits are read; the
// divisor's exponent drops by the digits left unread, so long fractions keep
// their value (to 9 digits) instead of wrapping.
double TextToFloat(std::string_view text) {
  while (!text.empty() && IsSpaceOrControl(text.back()))
    text.remove_suffix(1);
  while (!text.empty() && IsSpaceOrControl(text.front()))
    text.remove_prefix(1);
  if (text.empty()) return 0.0;

  bool negative = false;
  if (text.front() == '-' || text.front() == '+') {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  const std::size_t firstNonBlank = text.find_first_not_of(' ');
  if (firstNonBlank != std::string_view::npos && (text[firstNonBlank] == '-' || text[firstNonBlank] == '+'))
    return 0.0;  // a second sign: not a number

  std::size_t separator = text.find('.');
  if (separator == std::string_view::npos) separator = text.find(',');
  if (separator == std::string_view::npos) separator = text.size();

  const auto whole = static_cast<std::uint32_t>(Low32(ReadInteger(text.substr(0, separator), false)));
  double result = whole;

  if (separator + 1 < text.size()) {
    const std::string_view fraction = text.substr(separator + 1);
    std::size_t digits = 0;       // leading decimal digits of the fraction
    std::size_t taken = 0;        // of those, the ones in the numerator
    std::size_t significant = 0;  // of those, the ones after leading zeros
    std::uint32_t numerator = 0;
    while (digits < fraction.size() && fraction[digits] >= '0' && fraction[digits] <= '9') {
      const auto digit = static_cast<std::uint32_t>(fraction[digits] - '0');
      if (significant == 0 && digit == 0) {
        ++taken;
      } else if (significant < 9) {
        numerator = numerator * 10u + digit;
        ++significant;
        ++taken;
      }
      ++digits;
    }
    const std::size_t exponent = fraction.size() - digits + taken;
    result += static_cast<double>(numerator) / PowerOfTen(exponent);
  }
  return negative ? -result : result;
}

std::int32_t IntPower(std::int32_t base, std::int32_t exponent) {
  if (exponent <= 0) return 1;
  std::uint32_t result = 1;
  auto factor = static_cast<std::uint32_t>(base);
  auto rest = static_cast<std::uint32_t>(exponent);
  while (rest != 0) {
    if (rest & 1u) result *= factor;
    factor *= factor;
    rest >>= 1;
  }
  return static_cast<std::int32_t>(result);
}

}  // namespace core
