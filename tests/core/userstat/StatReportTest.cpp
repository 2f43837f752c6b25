// The statistics report over an in-memory source: times against Python's
// datetime, wide sums and exact lines, the filter edges the oracle does not
// cover, and the report when a domain raises or the sink fails.
#include "core/userstat/StatReport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>

#include "tests/support/fake_stat_source.h"

namespace {

using namespace core;
using testing_support::StatAccount;

std::string Day(double day, std::uint32_t counter) {
  std::string r(32, '\0');
  std::memcpy(r.data(), &day, 8);
  for (int i = 0; i < 6; ++i)
    std::memcpy(r.data() + 8 + 4 * i, &counter, 4);
  return r;
}

struct StringSink : UserStatSink {
  std::string text;
  int writes = 0, failAt = -1;
  bool Write(std::string_view part) override {
    if (++writes == failAt) return false;
    text += part;
    return true;
  }
};

TEST(StatTime, MatchesPythonDatetimeFrom1900To2100AndAtTheEdges) {
  std::ifstream file(std::string(std::getenv("VM_SOURCE_DIR")) + "/tests/core/userstat/stat_times.txt");
  std::string line;
  int rows = 0;
  for (; std::getline(file, line); ++rows) {
    const std::size_t tab = line.find('\t');
    EXPECT_EQ(FormatStatTime(std::strtod(line.substr(0, tab).c_str(), nullptr)), line.substr(tab + 1)) << line;
  }
  EXPECT_GT(rows, 1200);
}

TEST(StatSums, WideSumsWholeRecordsAndExactLines) {
  std::array<std::uint64_t, 6> sums{};
  sums.fill(UINT64_MAX - 8'000'000'000u);
  const std::string image = Day(100, 4'000'000'000u) + Day(100.5, 4'000'000'000u) + Day(NAN, 1) + Day(99.99, 1);
  EXPECT_TRUE(SumUserStatDays(image + std::string(31, '\x7f'), 100, 100, sums));
  UserStatValues v;
  v.sums = sums;
  v.times = {0.0, -1.0, 2.5};
  v.messagesSize = (1ull << 53) + 1;
  EXPECT_EQ(UserStatLineText("a\r\nb", "x;y\n", v),
            "a  b,x;y ,18446744073709551615,18446744073709551615,18446744073709551615,18446744073709551615,"
            "18446744073709551615,18446744073709551615,,,1900/01/01 12:00:00,9007199254740993,0\r\n");
  EXPECT_EQ(UserAccessTimes(std::string(23, '\x40'))[0], 0.0);
}

TEST(StatFilterItems, GroupsEmptyItemsAndTheDomainCheck) {
  testing_support::FakeStatSource source;
  struct Row {
    const char* filter;
    const char* domain;
    const char* aliases;
    bool admitted;
  } rows[] = {
      {" * ", "any.org", "x", true},
      {";;", "example.com", "", false},
      {"exam", "example.com", "", false},
      {"bob@example.com", "Example.COM", "", true},  // the domain itself
      {"dave@other.org", "other.org", "team; [Staff]", true},
      {"carol@other.org", "other.org", "team; [Staff]", false},
  };
  for (const Row& row : rows)
    EXPECT_EQ(MatchStatFilter(StatFilter(row.filter, source), row.domain, row.aliases), row.admitted) << row.filter;
}

class StatReportSeams : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const std::string d : {"a.test", "b.test", "c.test"}) {
      source.domains.push_back({d,
                                {StatAccount("u1", d + "\\u1"), StatAccount("u2", d + "\\u2"), StatAccount("k", "x", 1),
                                 StatAccount("nopath", "")}});
      source.files["m\\" + d + "\\u1\\userstat.dat"] = Day(45301, 1);                  // 2024/01/10
      source.files["m\\" + d + "\\u2\\userstat.dat"] = Day(45000, 1) + Day(45300, 2);  // no day in the range
    }
    source.files["m\\userstat.dat"] = Day(45301, 7) + Day(45301, 7);
  }
  testing_support::FakeStatSource source;
  StringSink sink;
};

TEST_F(StatReportSeams, OneWalkPerCountedFolderAndTheServerLineOutsideTheTotals) {
  ASSERT_TRUE(WriteUserStatReport("2024/01/10", "2024/01/10", "", source, sink));
  EXPECT_EQ(source.walks, 4);  // u1 of each domain, then "-"
  EXPECT_NE(sink.text.find("\r\nb.test,u2,0,0,0,0,0,0,,,,0,0\r\nb.test,nopath,0,0,0,0,0,0,,,,0,0\r\n"),
            std::string::npos);
  EXPECT_NE(sink.text.find("\r\n-,-,14,14,14,14,14,14,,,,1000,2\r\n*,*,3,3,3,3,3,3,,,,3000,6\r\n"), std::string::npos);
  source.walks = 0;
  ASSERT_TRUE(WriteUserStatReport("2024/01/10", "2024/01/09", "*", source, sink));
  EXPECT_EQ(source.walks, 0);
}

TEST_F(StatReportSeams, ARaisingDomainEndsOnlyThatDomain) {
  source.raiseIn = 1;
  ASSERT_TRUE(WriteUserStatReport("2024/01/10", "2024/01/10", "a.test;b.test;c.test", source, sink));
  EXPECT_EQ(source.inits, 3);
  EXPECT_EQ(source.dones, 3);
  EXPECT_NE(sink.text.find("\r\na.test,nopath,0,0,0,0,0,0,,,,0,0\r\nb.test,u1,"), std::string::npos);
  EXPECT_EQ(sink.text.find("\r\nb.test,u2,"), std::string::npos);
  EXPECT_NE(sink.text.find("\r\nc.test,nopath,0,0,0,0,0,0,,,,0,0\r\n*,*,3,3,3,3,3,3,,,,3000,6\r\n"), std::string::npos);
}

TEST_F(StatReportSeams, AFailingSinkEndsTheReport) {
  sink.failAt = 3;
  EXPECT_FALSE(WriteUserStatReport("", "", "", source, sink));
  EXPECT_EQ(sink.writes, 3);
  EXPECT_EQ(source.inits, source.dones);
}

}  // namespace
