// The built-in settings image, the load defaults and the date codec.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <limits>
#include <set>
#include <string>
#include <vector>

#include "core/config/DateCodec.h"
#include "core/config/SettingsRecord.h"

namespace core {
namespace {

// Every non-zero initial value of the settings record as {offset, bytes, value},
// typed in again from the record layout (not taken from the tables). The last
// row holds fields without an id.
constexpr std::uint32_t NumericInitials[][3] = {
    {242, 2, 300},    {246, 1, 1},    {247, 1, 1},    {248, 2, 636},  {250, 2, 389},   {252, 2, 366},    {254, 1, 1},
    {1024, 2, 110},   {1026, 2, 995}, {1028, 2, 25},  {1030, 2, 993}, {1032, 4, 60},   {1036, 2, 32000}, {1038, 2, 143},
    {1040, 2, 32001}, {1047, 1, 1},   {1432, 1, 1},   {1448, 4, 7},   {1456, 2, 1024}, {1458, 2, 32768}, {1461, 2, 465},
    {1464, 1, 1},     {1476, 1, 5},   {1542, 1, 1},   {1544, 4, 8},   {1548, 4, 1},    {1552, 4, 256},   {1556, 4, 40},
    {1560, 4, 40},    {1564, 2, 40},  {1566, 2, 5},   {2869, 1, 3},   {3630, 1, 1},    {3633, 1, 1},     {3634, 1, 1},
    {4576, 1, 1},     {6888, 1, 1},   {6890, 1, 1},   {7001, 1, 1},   {7004, 1, 45},   {7005, 1, 1},     {7008, 1, 20},
    {7012, 4, 8},     {7016, 4, 4},   {1472, 1, 1},   {3635, 1, 2},   {237, 1, 1},     {160, 2, 5229},   {167, 2, 5269},
    {196, 1, 1},      {228, 2, 5222}, {230, 2, 5223}, {238, 1, 1},    {7002, 1, 1},
};

struct TextInitial {
  std::uint32_t offset;
  std::string_view text;
};
constexpr TextInitial TextInitials[] = {
    {0, "localhost"},
    {256, "temp\\"},
    {512, "mail\\"},
    {768, "logs\\"},
    {1477, "MAILER-DAEMON"},
    {1509, "Mail Delivery Subsystem"},
    {4577, "127.0.0.1;192.168.*.*;10.*.*.*;172.16-31.*.*"},
};

TEST(BuiltInImage, HoldsTheInitialValuesAndZeroElsewhere) {
  const SettingsRecord& image = BuiltInSettingsImage();
  std::set<std::uint32_t> explained;
  for (const auto& [offset, width, value] : NumericInitials) {
    std::uint32_t v = 0;
    for (std::uint32_t b = 0; b < width; ++b) {
      v |= static_cast<std::uint32_t>(image[offset + b]) << (8 * b);
      explained.insert(offset + b);
    }
    EXPECT_EQ(v, value) << "offset " << offset;
  }
  for (const TextInitial& t : TextInitials) {
    EXPECT_EQ(image[t.offset], t.text.size()) << "offset " << t.offset;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&image[t.offset + 1]), t.text.size()), t.text);
    for (std::uint32_t b = 0; b <= t.text.size(); ++b)
      explained.insert(t.offset + b);
  }
  for (std::uint32_t i = 0; i < SettingsRecordSize; ++i) {
    if (explained.count(i) == 0) {
      EXPECT_EQ(image[i], 0) << "offset " << i;
    }
  }
}

TEST(LoadDefaults, AgreeWithTheImage) {
  const SettingsRecord& image = BuiltInSettingsImage();
  for (const cfg::FieldDefault& d : cfg::LoadDefaults) {
    SCOPED_TRACE("offset " + std::to_string(d.field.offset));
    if (IsTextKind(d.field.kind)) {
      EXPECT_EQ(GetShortString(image.data(), d.field), d.text);
    } else {  // 222 and 233 are filled at load only
      const bool loadOnly = d.field.offset == 222 || d.field.offset == 233;
      EXPECT_EQ(GetUnsigned(image.data(), d.field), loadOnly ? 0u : d.number);
    }
  }
}

TEST(DateCodec, DayCountsAndTimes) {
  double d = -1;
  for (const auto& [y, m, day, n] : std::vector<std::array<int, 4>>{
           {1899, 12, 30, 0}, {1900, 1, 1, 2}, {2000, 1, 1, 36526}, {1, 1, 1, -693593}, {9999, 12, 31, 2958465}}) {
    ASSERT_TRUE(EncodeDate(y, m, day, d));
    EXPECT_EQ(d, n);
  }
  EXPECT_TRUE(EncodeDate(2000, 2, 29, d));
  EXPECT_FALSE(EncodeDate(1900, 2, 29, d));
  EXPECT_EQ(d, 0.0);
  EXPECT_FALSE(EncodeDate(2024, 4, 31, d));
  EXPECT_FALSE(EncodeDate(10000, 1, 1, d));
  EXPECT_FALSE(EncodeTime(24, 0, 0, 0, d));

  // Before day 0 the time still counts forward from midnight.
  int y, m, day, h, mi, s, ms;
  ASSERT_TRUE(DecodeDate(-1.25, y, m, day));
  ASSERT_TRUE(DecodeTime(-1.25, h, mi, s, ms));
  EXPECT_EQ((std::vector<int>{y, m, day, h, mi, s, ms}), (std::vector<int>{1899, 12, 29, 6, 0, 0, 0}));

  EXPECT_FALSE(DecodeDate(std::numeric_limits<double>::quiet_NaN(), y, m, day));
  EXPECT_EQ(y + m + day, 0);
  EXPECT_FALSE(DecodeDate(-693594.0, y, m, day));
  EXPECT_FALSE(DecodeTime(-1.0e300, h, mi, s, ms));
  for (std::int64_t n = -693593; n <= 2958465; n += 97) {
    ASSERT_TRUE(DecodeDate(static_cast<double>(n), y, m, day)) << n;
    ASSERT_TRUE(EncodeDate(y, m, day, d));
    ASSERT_EQ(d, static_cast<double>(n));
  }
}

}  // namespace
}  // namespace core
