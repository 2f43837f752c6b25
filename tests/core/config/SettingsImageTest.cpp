// The built-in settings image, the load defaults and the typed accessors.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <set>
#include <string>
#include <vector>

#include "core/config/DateCodec.h"
#include "core/config/SettingTransfer.h"
#include "core/config/SettingsRecord.h"

namespace core {
namespace {

struct Initial {
  std::uint32_t offset;
  std::uint32_t width;  // bytes of the integer
  std::uint32_t value;
};

// Every non-zero numeric initial value of the settings record, typed in
// again from the documented layout (not taken from the tables).
constexpr Initial NumericInitials[] = {
    {242, 2, 300},   {246, 1, 1},     {247, 1, 1},    {248, 2, 636},  {250, 2, 389},   {252, 2, 366},
    {254, 1, 1},     {1024, 2, 110},  {1026, 2, 995}, {1028, 2, 25},  {1030, 2, 993},  {1032, 4, 60},
    {1036, 2, 32000}, {1038, 2, 143}, {1040, 2, 32001}, {1047, 1, 1}, {1432, 1, 1},    {1448, 4, 7},
    {1456, 2, 1024}, {1458, 2, 32768}, {1461, 2, 465}, {1464, 1, 1},  {1476, 1, 5},    {1542, 1, 1},
    {1544, 4, 8},    {1548, 4, 1},    {1552, 4, 256}, {1556, 4, 40},  {1560, 4, 40},   {1564, 2, 40},
    {1566, 2, 5},    {2869, 1, 3},    {3630, 1, 1},   {3633, 1, 1},   {3634, 1, 1},    {4576, 1, 1},
    {6888, 1, 1},    {6890, 1, 1},    {7001, 1, 1},   {7004, 1, 45},  {7005, 1, 1},    {7008, 1, 20},
    {7012, 4, 8},    {7016, 4, 4},    {1472, 1, 1},   {3635, 1, 2},   {237, 1, 1},
    // Fields without an id.
    {160, 2, 5229},  {167, 2, 5269},  {196, 1, 1},    {228, 2, 5222}, {230, 2, 5223},  {238, 1, 1},
    {7002, 1, 1},
};

struct TextInitial {
  std::uint32_t offset;
  std::uint32_t width;
  std::string_view text;
};

constexpr TextInitial TextInitials[] = {
    {0, 127, "localhost"},
    {256, 255, "temp\\"},
    {512, 255, "mail\\"},
    {768, 255, "logs\\"},
    {1477, 31, "MAILER-DAEMON"},
    {1509, 31, "Mail Delivery Subsystem"},
    {4577, 255, "127.0.0.1;192.168.*.*;10.*.*.*;172.16-31.*.*"},
};

TEST(BuiltInImage, HoldsTheInitialValuesAndZeroElsewhere) {
  const SettingsRecord& image = BuiltInSettingsImage();
  std::set<std::uint32_t> explained;
  for (const Initial& i : NumericInitials) {
    std::uint32_t v = 0;
    for (std::uint32_t b = 0; b < i.width; ++b) {
      v |= static_cast<std::uint32_t>(image[i.offset + b]) << (8 * b);
      explained.insert(i.offset + b);
    }
    EXPECT_EQ(v, i.value) << "offset " << i.offset;
  }
  for (const TextInitial& t : TextInitials) {
    EXPECT_EQ(GetShortString(image.data(), FieldRef{t.offset, t.width, FieldKind::String}), t.text);
    for (std::uint32_t b = 0; b <= t.text.size(); ++b) explained.insert(t.offset + b);
  }
  for (std::uint32_t i = 0; i < SettingsRecordSize; ++i) {
    if (explained.count(i) == 0) {
      EXPECT_EQ(image[i], 0) << "offset " << i;
    }
  }
}

TEST(BuiltInImage, InitialValuesReadThroughTheirIds) {
  const SettingsRecord& image = BuiltInSettingsImage();
  std::uint32_t v = 0;
  ASSERT_EQ(GetSetting(SettingFamily::Config, 140, image.data(), &v, 4, {}), 4);
  EXPECT_EQ(v, 45u);
  ASSERT_EQ(GetSetting(SettingFamily::Config, 152, image.data(), &v, 4, {}), 4);
  EXPECT_EQ(v, 2u);
  char text[64] = {};
  ASSERT_EQ(GetSetting(SettingFamily::Config, 74, image.data(), text, 64, {}), 23);
  EXPECT_EQ(std::string(text, 23), "Mail Delivery Subsystem");
  ASSERT_EQ(GetSetting(SettingFamily::Config, 22, image.data(), text, 64, {}), 5);
  EXPECT_EQ(std::string(text, 5), "temp\\");
}

TEST(LoadDefaults, AgreeWithTheImageAndFillOnlyEmptyFields) {
  const SettingsRecord& image = BuiltInSettingsImage();
  EXPECT_EQ(std::size(cfg::LoadDefaults), 30u);
  for (const cfg::FieldDefault& d : cfg::LoadDefaults) {
    SCOPED_TRACE("offset " + std::to_string(d.field.offset));
    if (IsTextKind(d.field.kind)) {
      EXPECT_EQ(GetShortString(image.data(), d.field), d.text);
    } else if (d.field.offset == 222 || d.field.offset == 233) {
      EXPECT_EQ(GetUnsigned(image.data(), d.field), 0u);  // filled at load only
    } else {
      EXPECT_EQ(GetUnsigned(image.data(), d.field), d.number);
    }
  }

  SettingsRecord rec{};
  SetU16(rec.data(), cfg::Setting12, 17);
  ApplyLoadDefaults(rec.data());
  EXPECT_EQ(GetU16(rec.data(), cfg::Setting12), 17);
  EXPECT_EQ(GetU16(rec.data(), cfg::Setting31), 143);
  EXPECT_EQ(GetU32(rec.data(), cfg::Field222), 40u);
  EXPECT_EQ(GetU32(rec.data(), cfg::RecordCacheSizeMb), 10u);
  EXPECT_EQ(GetU8(rec.data(), cfg::Setting144), 20);
  EXPECT_EQ(GetShortString(rec.data(), cfg::DaemonAddress), "MAILER-DAEMON");
}

TEST(FieldAccess, NamedFieldsAndShortStrings) {
  EXPECT_EQ(cfg::HostName.offset, 0u);
  EXPECT_EQ(cfg::DbNoLock.offset, 152u);
  EXPECT_EQ(cfg::MessagePrefixPart.offset, 201u);
  EXPECT_EQ(cfg::MessagePrefixPart.width, 2u);
  EXPECT_EQ(cfg::DomainShield.offset, 232u);
  EXPECT_EQ(cfg::ConnectDatabase.offset, 3381u);
  EXPECT_EQ(cfg::StorageMode.offset, 3633u);
  EXPECT_EQ(cfg::FirstProcessorOnly.offset, 1542u);
  EXPECT_EQ(cfg::DomainCount.offset, 7020u);
  EXPECT_EQ(cfg::ArchiveFolder.offset, 3385u);
  EXPECT_EQ(cfg::ArchiveFolder.width, 240u);
  EXPECT_EQ(cfg::DbConnection.offset, 2356u);
  EXPECT_EQ(cfg::Setting103.offset, 2878u);

  SettingsRecord rec{};
  rec[202] = 0x55;
  rec[203] = 0x66;
  SetShortString(rec.data(), cfg::MessagePrefixPart, "abcdef");
  EXPECT_EQ(GetShortString(rec.data(), cfg::MessagePrefixPart), "ab");
  SetShortString(rec.data(), cfg::MessagePrefixPart, "z");
  EXPECT_EQ(rec[203], 0);
  EXPECT_EQ(rec[204], 0);
  rec[201] = 9;
  EXPECT_EQ(GetShortString(rec.data(), cfg::MessagePrefixPart).size(), 2u);

  SetU32(rec.data(), cfg::DomainCount, 0x01020304);
  EXPECT_EQ(rec[7020], 4);
  EXPECT_EQ(rec[7023], 1);
  SetUnsigned(rec.data(), cfg::StorageMode, 0x1FF);
  EXPECT_EQ(rec[3633], 0xFF);
  EXPECT_EQ(rec[3634], 0);
}

TEST(DateCodec, DayCountsAndTimes) {
  double d = -1;
  ASSERT_TRUE(EncodeDate(1899, 12, 30, d));
  EXPECT_EQ(d, 0.0);
  ASSERT_TRUE(EncodeDate(1900, 1, 1, d));
  EXPECT_EQ(d, 2.0);
  ASSERT_TRUE(EncodeDate(2000, 1, 1, d));
  EXPECT_EQ(d, 36526.0);
  ASSERT_TRUE(EncodeDate(1, 1, 1, d));
  EXPECT_EQ(d, -693593.0);
  ASSERT_TRUE(EncodeDate(9999, 12, 31, d));
  EXPECT_EQ(d, 2958465.0);
  EXPECT_TRUE(EncodeDate(2000, 2, 29, d));
  EXPECT_FALSE(EncodeDate(1900, 2, 29, d));
  EXPECT_EQ(d, 0.0);
  EXPECT_FALSE(EncodeDate(2024, 13, 1, d));
  EXPECT_FALSE(EncodeDate(0, 1, 1, d));
  EXPECT_FALSE(EncodeDate(10000, 1, 1, d));
  EXPECT_FALSE(EncodeDate(2024, 4, 31, d));

  ASSERT_TRUE(EncodeTime(12, 0, 0, 0, d));
  EXPECT_EQ(d, 0.5);
  EXPECT_FALSE(EncodeTime(24, 0, 0, 0, d));
  EXPECT_FALSE(EncodeTime(1, 60, 0, 0, d));
  EXPECT_FALSE(EncodeTime(1, 0, 0, 1000, d));

  int y, m, day, h, mi, s, ms;
  ASSERT_TRUE(DecodeDate(-1.25, y, m, day));
  EXPECT_EQ((std::vector<int>{y, m, day}), (std::vector<int>{1899, 12, 29}));
  ASSERT_TRUE(DecodeTime(-1.25, h, mi, s, ms));
  EXPECT_EQ((std::vector<int>{h, mi, s, ms}), (std::vector<int>{6, 0, 0, 0}));
  ASSERT_TRUE(EncodeTime(23, 59, 58, 999, d));
  ASSERT_TRUE(DecodeTime(45000.0 + d, h, mi, s, ms));
  EXPECT_EQ((std::vector<int>{h, mi, s, ms}), (std::vector<int>{23, 59, 58, 999}));

  EXPECT_FALSE(DecodeDate(std::numeric_limits<double>::quiet_NaN(), y, m, day));
  EXPECT_EQ(y + m + day, 0);
  EXPECT_FALSE(DecodeDate(3.0e6, y, m, day));
  EXPECT_FALSE(DecodeTime(-1.0e300, h, mi, s, ms));
  EXPECT_FALSE(DecodeDate(-693594.0, y, m, day));

  for (std::int64_t n = -693593; n <= 2958465; n += 97) {
    ASSERT_TRUE(DecodeDate(static_cast<double>(n), y, m, day)) << n;
    ASSERT_TRUE(EncodeDate(y, m, day, d));
    ASSERT_EQ(d, static_cast<double>(n));
  }
}

}  // namespace
}  // namespace core
