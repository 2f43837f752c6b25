#pragma once
// Number texts: hexadecimal and decimal readers and writers used for
// configuration values and the fixed-width parts of message file names.
// Locale-independent on purpose: the libraries run inside host processes
// that may change the C locale.

#include <cstdint>
#include <string>
#include <string_view>

namespace core {

// '0'-'9' -> 0-9, 'A'-'F' / 'a'-'f' -> 10-15, anything else -> 0.
int HexDigitValue(char c);

// Every character counts as one hex digit (non-digits as 0); wraps modulo 2^32.
std::uint32_t HexToInt(std::string_view text);

// Upper-case hex without leading zeros (negative values as 8 digits of their
// two's complement); unless noPad, a '0' makes the digit count even.
std::string IntToHexText(std::int32_t value, bool noPad);

// Always 8 upper-case hex digits.
std::string IntToHex8(std::int32_t value);

// Longer than width: the first width characters; shorter: filled up to width.
std::string PadLeft(std::string_view text, std::uint16_t width, char fill);
std::string PadRight(std::string_view text, std::uint16_t width, char fill);

// Supplies the decimal sign of the system's regional settings.
using DecimalSignProvider = char (*)();
// nullptr restores the fixed '.'.
void SetDecimalSignProvider(DecimalSignProvider provider);

// decimals >= 1: fixed-point text with the provider's decimal sign;
// decimals <= 0: the value truncated toward zero as an integer text.
std::string FormatFloatFixed(int decimals, double value);

// Decimal or hex ("$", "x", "0x" prefix) integer; low 32 bits of the value read.
std::int32_t TextToInt(std::string_view text);

// Integer part, "." or "," and a fraction; see the definition for details.
double TextToFloat(std::string_view text);

// exponent <= 0 -> 1; otherwise base^exponent modulo 2^32.
std::int32_t IntPower(std::int32_t base, std::int32_t exponent);

}  // namespace core
