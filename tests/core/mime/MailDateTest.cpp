// Date texts against Python's email.utils.format_datetime (rows from
// tests/core/mime/oracle.py), the zone seam, and the charset table.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "core/mime/LocaleCharsets.h"
#include "core/mime/MailDate.h"

namespace core {
namespace {

TimeZoneState g_zone;

class MailDate : public ::testing::Test {
 protected:
  void SetUp() override {
    SetTimeZoneSource([] { return g_zone; });
  }
  void TearDown() override { SetTimeZoneSource(nullptr); }
};

TEST_F(MailDate, FormatAgainstFormatDatetime) {
  const struct {
    CivilTime time;
    std::int32_t bias;
    std::string_view text;
  } rows[] = {
      {{2003, 1, 5, 9, 4, 7}, -60, "Sun, 05 Jan 2003 09:04:07 +0100"},
      {{2000, 2, 29, 23, 59, 59}, 300, "Tue, 29 Feb 2000 23:59:59 -0500"},
      {{1999, 12, 31, 0, 0, 0}, -330, "Fri, 31 Dec 1999 00:00:00 +0530"},
      {{2024, 7, 1, 12, 30, 5}, -120, "Mon, 01 Jul 2024 12:30:05 +0200"},
      {{2100, 3, 1, 1, 2, 3}, 570, "Mon, 01 Mar 2100 01:02:03 -0930"},
      {{1970, 1, 1, 0, 0, 0}, 0, "Thu, 01 Jan 1970 00:00:00 -0000"},
      {{1600, 3, 1, 0, 0, 0}, 0, "Wed, 01 Mar 1600 00:00:00 -0000"},
      {{1899, 12, 30, 0, 0, 0}, 0, "Sat, 30 Dec 1899 00:00:00 -0000"},
  };
  for (const auto& row : rows) {
    g_zone = TimeZoneState{row.bias, 0, 0, TimeZoneState::Unknown};
    EXPECT_EQ(FormatRFC822Date(row.time, false, ""), row.text);
    EXPECT_EQ(FormatRFC822Date(row.time, false, TimeZoneText(row.bias)), row.text);
    EXPECT_EQ(FormatRFC822Date(row.time, true, "+9999"), row.text.substr(0, row.text.size() - 6));
  }
  EXPECT_EQ(FormatRFC822Date({2003, 1, 5, 9, 4, 7}, false, "GMT"), "Sun, 05 Jan 2003 09:04:07 GMT");
  EXPECT_EQ(FormatRFC822Date({2003, 13, 5, 9, 4, 7}, false, "GMT"), "");
  EXPECT_EQ(FormatRFC822Date({2001, 2, 29, 9, 4, 7}, false, "GMT"), "");
}

TEST_F(MailDate, BiasAddsThePartInForce) {
  g_zone = TimeZoneState{-60, 0, -60, TimeZoneState::Daylight};  // central Europe in summer
  EXPECT_EQ(GetTimeZoneBias(), -120);
  EXPECT_EQ(GetTimeZoneText(), "+0200");
  g_zone.kind = TimeZoneState::Standard;
  EXPECT_EQ(GetTimeZoneText(), "+0100");
  g_zone = TimeZoneState{300, 10, -60, TimeZoneState::Unknown};
  EXPECT_EQ(GetTimeZoneText(), "-0500");
  SetTimeZoneSource(nullptr);
  EXPECT_EQ(GetTimeZoneText(), "-0000");
}

TEST(LocaleCharsetTable, RowsInOrder) {
  std::string languages;
  for (const LocaleCharsets& row : LocaleCharsetTable())
    languages += std::string(row.language) + " ";
  EXPECT_EQ(languages, "en ja ko th zh ru ka tg be uk bg ");
  EXPECT_EQ(LocaleCharsetTable()[0].charsets, "");
  EXPECT_EQ(LocaleCharsetTable()[2].charsets, "EUCKR KSC56011987");
  EXPECT_EQ(LocaleCharsetTable()[10].charsets, "KOI8R KOI8U KOI8T ISOIR111 CP1251 GEORGIANPS CP1251 PT154 CP866");
}

}  // namespace
}  // namespace core
