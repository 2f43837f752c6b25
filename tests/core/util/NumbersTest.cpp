#include "core/util/Numbers.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>

namespace core {
namespace {

std::int32_t Low32(long long value) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<unsigned long long>(value)));
}

TEST(Numbers, HexTexts) {
  EXPECT_EQ(HexDigitValue('G'), 0);
  EXPECT_EQ(HexToInt("123456789"), 0x23456789u);  // wraps
  EXPECT_EQ(HexToInt("1z"), 16u);                  // non-digits count as 0
  EXPECT_EQ(IntToHexText(255, false), "FF");
  EXPECT_EQ(IntToHexText(4095, false), "0FFF");
  EXPECT_EQ(IntToHexText(4095, true), "FFF");
  EXPECT_EQ(IntToHexText(-2, true), "FFFFFFFE");
  EXPECT_EQ(IntToHex8(0), "00000000");
  EXPECT_EQ(IntToHex8(-1), "FFFFFFFF");
  EXPECT_EQ(PadLeft("12345", 3, '0'), "123");  // cut, not right-aligned
  EXPECT_EQ(PadRight("ab", 4, '.'), "ab..");
  EXPECT_EQ(PadRight("abcdef", 2, '.'), "ab");
}

TEST(Numbers, FormatFloatFixed) {
  EXPECT_EQ(FormatFloatFixed(0, 2.9), "2");
  EXPECT_EQ(FormatFloatFixed(0, -2.9), "-2");
  EXPECT_EQ(FormatFloatFixed(1, -0.25), "-0.3");  // half away from zero
  EXPECT_EQ(FormatFloatFixed(3, 0.9999), "1.000");
  EXPECT_EQ(FormatFloatFixed(2, -0.001), "0.00");
  EXPECT_EQ(FormatFloatFixed(3, 0.05), "0.050");
  // Never casts values a 64-bit integer cannot hold.
  EXPECT_EQ(FormatFloatFixed(2, std::numeric_limits<double>::quiet_NaN()), "0.00");
  EXPECT_EQ(FormatFloatFixed(0, std::numeric_limits<double>::infinity()), "9223372036854775807");
  EXPECT_EQ(FormatFloatFixed(0, -std::numeric_limits<double>::infinity()), "-9223372036854775808");
  EXPECT_EQ(FormatFloatFixed(1, 1e300), "9223372036854775807.0");

  SetDecimalSignProvider([] { return ','; });
  EXPECT_EQ(FormatFloatFixed(2, 1.5), "1,50");
  SetDecimalSignProvider(nullptr);
  EXPECT_EQ(FormatFloatFixed(2, 1.5), "1.50");
}

TEST(Numbers, TextToIntForms) {
  EXPECT_EQ(TextToInt("12ab"), 12);
  EXPECT_EQ(TextToInt(" 42"), 42);
  EXPECT_EQ(TextToInt("$1F"), 31);
  EXPECT_EQ(TextToInt("-5"), -5);
  EXPECT_EQ(TextToInt("-$10"), -16);
  EXPECT_EQ(TextToInt("$FFFFFFFF"), -1);
  EXPECT_EQ(TextToInt("--5"), 0);
}

TEST(Numbers, TextToIntAgreesWithStrtollWithinRange) {
  std::mt19937_64 random(20240601);
  for (int n = 0; n < 20000; ++n) {
    const int bits = static_cast<int>(random() % 64);  // every digit count
    long long value = static_cast<long long>(random() >> (63 - bits) >> 1);
    if (random() % 2) value = -value;
    const std::string decimal = std::to_string(value);
    ASSERT_EQ(TextToInt(decimal), Low32(std::strtoll(decimal.c_str(), nullptr, 10))) << decimal;

    unsigned long long magnitude = value < 0 ? 0ull - static_cast<unsigned long long>(value) : static_cast<unsigned long long>(value);
    std::string digits;
    do digits.insert(digits.begin(), "0123456789abcdef"[magnitude % 16]);
    while ((magnitude /= 16) != 0);
    const std::string hex = (value < 0 ? "-0x" : "0x") + digits;
    ASSERT_EQ(TextToInt(hex), Low32(std::strtoll(hex.c_str(), nullptr, 16))) << hex;
  }
}

TEST(Numbers, TextToIntStopsBeforeLeavingTheRange) {
  EXPECT_EQ(TextToInt("9223372036854775807"), Low32(9223372036854775807LL));
  EXPECT_EQ(TextToInt("9223372036854775808"), Low32(922337203685477580LL));  // last digit not read
  EXPECT_EQ(TextToInt("-99999999999999999999999"), Low32(-999999999999999999LL));
  EXPECT_EQ(TextToInt("$FFFFFFFFFFFFFFFFFF"), Low32(0x0FFFFFFFFFFFFFFFLL));
}

TEST(Numbers, TextToFloat) {
  EXPECT_DOUBLE_EQ(TextToFloat("3"), 3.0);
  EXPECT_DOUBLE_EQ(TextToFloat("0.01"), 0.01);
  EXPECT_DOUBLE_EQ(TextToFloat("-1.25"), -1.25);
  EXPECT_DOUBLE_EQ(TextToFloat("1.5.3"), 1.005);
  EXPECT_DOUBLE_EQ(TextToFloat("1,5.3"), 1.3);
  EXPECT_DOUBLE_EQ(TextToFloat("4294967295.5"), 4294967295.5);
}

TEST(Numbers, TextToFloatSignsFractionsAndLongTexts) {
  EXPECT_DOUBLE_EQ(TextToFloat(" -1.5"), -1.5);
  EXPECT_DOUBLE_EQ(TextToFloat("--1.5"), 0.0);  // one sign only
  EXPECT_DOUBLE_EQ(TextToFloat("1.-5"), 1.0);   // the fraction is digits only
  EXPECT_DOUBLE_EQ(TextToFloat("1.5\r\n"), 1.5);
  EXPECT_DOUBLE_EQ(TextToFloat("0.1234567891234"), 0.123456789);  // nine significant digits
  EXPECT_DOUBLE_EQ(TextToFloat("0.000000000001"), 1e-12);
  EXPECT_DOUBLE_EQ(TextToFloat("2.50000000000000000000"), 2.5);
  EXPECT_DOUBLE_EQ(TextToFloat("1." + std::string(400, '0') + "1"), 1.0);
}

TEST(Numbers, IntPowerWrapsLikeRepeatedMultiplication) {
  EXPECT_EQ(IntPower(5, -3), 1);
  for (std::int32_t base : {-7, -2, 0, 1, 3, 10, 65537}) {
    std::uint32_t expected = 1;
    for (std::int32_t exponent = 1; exponent < 80; ++exponent) {
      expected *= static_cast<std::uint32_t>(base);
      ASSERT_EQ(IntPower(base, exponent), static_cast<std::int32_t>(expected)) << base << "^" << exponent;
    }
  }
}

}  // namespace
}  // namespace core
