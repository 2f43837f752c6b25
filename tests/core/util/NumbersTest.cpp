#include "core/util/Numbers.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>
#include <utility>

namespace core {
namespace {

std::int32_t Low32(long long value) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<unsigned long long>(value)));
}

TEST(Numbers, HexTexts) {
  EXPECT_EQ(HexToInt("123456789"), 0x23456789u);  // wraps
  EXPECT_EQ(HexToInt("1z"), 16u);                 // every character counts, non-digits as 0
  EXPECT_EQ(IntToHexText(255, false), "FF");
  EXPECT_EQ(IntToHexText(4095, false), "0FFF");
  EXPECT_EQ(IntToHexText(4095, true), "FFF");
  EXPECT_EQ(IntToHex8(0), "00000000");
  EXPECT_EQ(IntToHex8(-1), "FFFFFFFF");
  EXPECT_EQ(PadLeft("12345", 3, '0'), "123");  // cut, not right-aligned
}

TEST(Numbers, FormatFloatFixed) {
  constexpr double kInf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(FormatFloatFixed(0, 2.9), "2");
  EXPECT_EQ(FormatFloatFixed(0, -2.9), "-2");
  EXPECT_EQ(FormatFloatFixed(1, -0.25), "-0.3");  // half away from zero
  EXPECT_EQ(FormatFloatFixed(3, 0.9999), "1.000");
  // Never casts values a 64-bit integer cannot hold.
  EXPECT_EQ(FormatFloatFixed(2, std::numeric_limits<double>::quiet_NaN()), "0.00");
  EXPECT_EQ(FormatFloatFixed(0, kInf), "9223372036854775807");
  EXPECT_EQ(FormatFloatFixed(0, -kInf), "-9223372036854775808");
  EXPECT_EQ(FormatFloatFixed(1, 1e300), "9223372036854775807.0");
  SetDecimalSignProvider([] { return ','; });
  EXPECT_EQ(FormatFloatFixed(2, 1.5), "1,50");
  SetDecimalSignProvider(nullptr);
  EXPECT_EQ(FormatFloatFixed(2, 1.5), "1.50");
}

TEST(Numbers, TextToInt) {
  const std::pair<const char*, long long> cases[] = {{"12ab", 12},
                                                     {" 42", 42},
                                                     {"$1F", 31},
                                                     {"-$10", -16},
                                                     {"$FFFFFFFF", -1},
                                                     {"--5", 0},
                                                     // Reading stops before the value leaves the 64-bit range.
                                                     {"9223372036854775807", 9223372036854775807LL},
                                                     {"9223372036854775808", 922337203685477580LL},
                                                     {"-99999999999999999999999", -999999999999999999LL},
                                                     {"$FFFFFFFFFFFFFFFFFF", 0x0FFFFFFFFFFFFFFFLL}};
  for (const auto& [text, value] : cases)
    EXPECT_EQ(TextToInt(text), Low32(value)) << text;

  // Agrees with strtoll within the range.
  std::mt19937_64 random(20240601);
  for (int n = 0; n < 20000; ++n) {
    const int bits = static_cast<int>(random() % 64);  // every digit count
    long long value = static_cast<long long>(random() >> (63 - bits) >> 1);
    if (random() % 2) value = -value;
    const std::string decimal = std::to_string(value);
    ASSERT_EQ(TextToInt(decimal), Low32(std::strtoll(decimal.c_str(), nullptr, 10))) << decimal;

    auto magnitude = static_cast<unsigned long long>(value < 0 ? -value : value);
    std::string digits;
    do
      digits.insert(digits.begin(), "0123456789abcdef"[magnitude % 16]);
    while ((magnitude /= 16) != 0);
    const std::string hex = (value < 0 ? "-0x" : "0x") + digits;
    ASSERT_EQ(TextToInt(hex), Low32(std::strtoll(hex.c_str(), nullptr, 16))) << hex;
  }
}

TEST(Numbers, TextToFloat) {
  const std::pair<std::string, double> cases[] = {
      {"3", 3.0},
      {"1.5.3", 1.005},
      {"1,5.3", 1.3},
      {"4294967295.5", 4294967295.5},
      {" -1.5", -1.5},
      {"1.5\r\n", 1.5},
      {"0.000000000001", 1e-12},
      {"2.50000000000000000000", 2.5},
      // One sign only; the fraction is digits only; nine significant digits; long fractions.
      {"--1.5", 0.0},
      {"1.-5", 1.0},
      {"0.1234567891234", 0.123456789},
      {"1." + std::string(400, '0') + "1", 1.0},
  };
  for (const auto& [text, value] : cases)
    EXPECT_DOUBLE_EQ(TextToFloat(text), value) << text;
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
