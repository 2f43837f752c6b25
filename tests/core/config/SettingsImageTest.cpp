// The built-in settings image, the load defaults and the date codec.
#include <gtest/gtest.h>

#include <fstream>

#include <cstdlib>

#include <string_view>

#include <utility>

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
    {196, 1, 1},      {228, 2, 5222}, {230, 2, 5223}, {238, 1, 1},    {7002, 1, 1},    {20436, 4, 5},    {20440, 4, 10},
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

// The load's defaults and clamps on an all-zero record, against the values
// as the record's documentation lists them (offset, width, value).
TEST(LoadRules, DefaultsAndClampsOnAZeroRecord) {
  struct Expected {
    std::uint32_t offset, width, value;
  };
  const Expected defaults[] = {{242, 2, 300},  {1458, 2, 32768}, {1038, 2, 143}, {1040, 2, 32001}, {1030, 2, 993},
                               {1026, 2, 995}, {1461, 2, 465},   {252, 2, 366},  {250, 2, 389},    {248, 2, 636},
                               {228, 2, 5222}, {230, 2, 5223},   {167, 2, 5269}, {160, 2, 5229},   {7016, 4, 4},
                               {7012, 4, 8},   {1456, 2, 1024},  {1552, 4, 256}, {1548, 4, 1},     {1556, 4, 40},
                               {1560, 4, 40},  {1564, 2, 40},    {222, 4, 40},   {1566, 2, 5},     {233, 4, 10},
                               {1544, 4, 8},   {7008, 1, 20},    {1476, 1, 5}};
  std::vector<std::uint8_t> record(SettingsRecordSize, 0);
  ApplyLoadRules(record.data());
  std::set<std::uint32_t> touched;
  for (const Expected& e : defaults) {
    std::uint32_t value = 0;
    for (std::uint32_t i = 0; i < e.width; ++i) {
      value |= static_cast<std::uint32_t>(record[e.offset + i]) << (8 * i);
      touched.insert(e.offset + i);
    }
    EXPECT_EQ(value, e.value) << "offset " << e.offset;
  }
  const std::pair<std::uint32_t, std::string_view> texts[] = {{1477, "MAILER-DAEMON"},
                                                              {1509, "Mail Delivery Subsystem"}};
  for (const auto& [offset, text] : texts) {
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&record[offset + 1]), record[offset]), text);
    for (std::uint32_t i = 0; i <= text.size(); ++i)
      touched.insert(offset + i);
  }
  for (std::uint32_t i = 0; i < SettingsRecordSize; ++i) {
    if (touched.count(i) == 0) {
      EXPECT_EQ(record[i], 0) << "offset " << i;
    }
  }

  // Clamps: above the bound becomes 0, the bound itself stays; non-zero
  // defaults are not overwritten.
  const std::pair<std::uint32_t, std::uint32_t> clamps[] = {{2870, 1000}, {2874, 1000}, {2878, 5242880}};
  for (const auto& [offset, bound] : clamps) {
    for (const std::uint32_t value : {bound, bound + 1, 0xFFFFFFFFu}) {
      for (std::uint32_t i = 0; i < 4; ++i)
        record[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
      ApplyLoadRules(record.data());
      const std::uint32_t now = record[offset] | record[offset + 1] << 8 | record[offset + 2] << 16 |
                                static_cast<std::uint32_t>(record[offset + 3]) << 24;
      EXPECT_EQ(now, value <= bound ? value : 0u) << "offset " << offset << " value " << value;
    }
  }
  record[1038] = 7;
  ApplyLoadRules(record.data());
  EXPECT_EQ(record[1038], 7);
}

TEST(DateCodec, StatisticsDatesAgainstPythonsCalendar) {
  const char* path = std::getenv("VM_STAT_DATES");
  ASSERT_NE(path, nullptr);
  std::string file = path;
#ifdef _WIN32
  if (file.size() > 1 && file[0] == '/') file = "Z:" + file;  // the host's root under Wine
#endif
  std::ifstream in(file);
  std::string text;
  long days = 0;
  int rows = 0;
  while (in >> text >> days) {
    ++rows;
    ASSERT_EQ(ParseStatDate(text), static_cast<double>(days)) << text;
    ASSERT_EQ(FormatStatDate(false, static_cast<double>(days)), text);
  }
  EXPECT_GT(rows, 8000);
  EXPECT_EQ(FormatStatDate(false, ParseStatDate(" 2004 / 3 / 7 ")), "2004/03/07");
  EXPECT_EQ(ParseStatDate("2004/02/30"), 0.0);
  EXPECT_EQ(ParseStatDate("garbage"), 0.0);
  EXPECT_EQ(FormatStatDate(true, 0.0), "");
  EXPECT_EQ(FormatStatDate(false, 0.0), "1899/12/30");
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
