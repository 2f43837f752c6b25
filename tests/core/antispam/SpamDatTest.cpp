#include "core/antispam/SpamDat.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace core;

std::string Golden(const char* name) {
  std::ifstream in(std::string(SPAM_GOLDEN_DIR) + "/" + name, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    lines.push_back(line);
  return lines;
}

// The written line of one key after reading the input over the defaults.
std::string WrittenLine(const std::string& input, const std::string& key) {
  SpamSettings settings = DefaultSpamSettings();
  ReadSpamDat(input, settings);
  for (const std::string& line : Lines(WriteSpamDat(settings)))
    if (line.rfind(key, 0) == 0) return line;
  return "missing";
}

TEST(SpamDat, LinesReadAndWrittenBack) {
  struct Row {
    const char* input;
    const char* written;
  };
  const Row rows[] = {
      {"spampercentage = 75", "SpamPercentage=75\r"},
      {"SpamPercentage=", "SpamPercentage=90\r"},
      {"SpamPercentage=57\nSpamPercentage=29", "SpamPercentage=29\r"},
      {"IndexUsers=A@X.COM; B@Y.COM", "IndexUsers=a@x.com;b@y.com\r"},
      {"WordStopList=;;Fw ; RE;", "WordStopList=fw;re\r"},
      {"SkipIndexingForCharsets= KOI8-R ; Big5 ", "SkipIndexingForCharsets=KOI8-R;Big5\r"},
      {"Logging=257", "Logging=1\r"},
      {"OutgoingRules=-1", "OutgoingRules=255\r"},
      {"SpamBayesian=2", "SpamBayesian=0\r"},
      {"SpamBayesianNoTag=01", "SpamBayesianNoTag=1\r"},
      {"SpamMaxText=abc", "SpamMaxText=0\r"},
      {"SpamMaxText=4294967297", "SpamMaxText=1\r"},
      {"SpamUpdateTime=23:59", "SpamUpdateTime=23:59\r"},
      {"SpamUpdateTime=7:5", "SpamUpdateTime=7:05\r"},
      {"SpamUpdateTime=24:00", "SpamUpdateTime=0:00\r"},
      {"SpamUpdateTime=9:30\rSpamUpdateTime=12:60", "SpamUpdateTime=9:30\r"},
      {"SpamUpdateTime=-1:00", "SpamUpdateTime=0:00\r"},
      {"AddSubjectString=  [Maybe   Spam]  ", "AddSubjectString=[Maybe Spam]\r"},
      {"SpamBayesianX=0\nSpamFoo=1\nSpamBayesian", "SpamBayesian=1\r"},
      {"SPAMCHALLENGE=1", "SpamChallenge=1\r"},
  };
  for (const Row& row : rows) {
    const std::string input = row.input;
    const std::string key = std::string(row.written).substr(0, std::string(row.written).find('=') + 1);
    EXPECT_EQ(WrittenLine(input, key), row.written) << row.input;
  }

  // A bad time between two keys: both of them read.
  SpamSettings s = DefaultSpamSettings();
  ReadSpamDat("SpamChallenge=1\r\nSpamUpdateTime=24:00\r\nSpamAssassinEnabled=0\r\n", s);
  EXPECT_TRUE(s.challenge);
  EXPECT_FALSE(s.assassinEnabled);
  EXPECT_DOUBLE_EQ(DefaultSpamSettings().spamPercentage, 0.9);
  ReadSpamDat("spampercentage = 75", s);
  EXPECT_DOUBLE_EQ(s.spamPercentage, 0.75);
  ReadSpamDat("IndexUsers=A@X.COM; B@Y.COM", s);
  EXPECT_EQ(s.indexUsers, ";a@x.com;b@y.com;");
  ReadSpamDat("WordStopList=;A", s);  // reads as its written form "a" does
  EXPECT_EQ(s.wordStopList, ";a;");
  ReadSpamDat("SpamUpdateTime=12:00", s);
  EXPECT_DOUBLE_EQ(s.UpdateTimeOfDay(), 0.5);
  ReadSpamDat("", s);  // a key the file lacks keeps its value
  EXPECT_TRUE(s.challenge);

  EXPECT_EQ(TrimSemicolons(";;a;b;;"), "a;b");
  EXPECT_EQ(TrimSemicolons(";;;"), "");
}

TEST(SpamDat, GoldenFiles) {
  const std::string defaults = Golden("spam-defaults.dat");
  EXPECT_EQ(WriteSpamDat(DefaultSpamSettings()), defaults);

  const std::string all = Golden("spam-all-set.dat");
  SpamSettings s = DefaultSpamSettings();
  ReadSpamDat(all, s);
  EXPECT_EQ(WriteSpamDat(s), all);
  const std::vector<std::string> was = Lines(defaults);
  const std::vector<std::string> now = Lines(all);
  ASSERT_EQ(was.size(), 67u);
  ASSERT_EQ(now.size(), 67u);
  for (std::size_t i = 0; i < was.size(); ++i)
    EXPECT_NE(was[i], now[i]);  // every key off its default
  // The defaults file over it: every value back but the four whose default
  // is empty, which an empty value cannot reset.
  ReadSpamDat(defaults, s);
  EXPECT_EQ(s.indexUsers, ";a;b;");
  s.indexUsers.clear();
  s.htmlOtherFilters.clear();
  s.challengeUrl.clear();
  s.assassinRulesPath.clear();
  EXPECT_EQ(s, DefaultSpamSettings());
}

TEST(SpamDat, HostileTextInTime) {
  std::string text;
  for (int i = 0; i < 60000; ++i)
    text += i % 3 == 0 ? "SpamMaxText = " + std::string(40, ' ') + "7\r" : "=====;;;;\n\r\n";
  text += std::string(1 << 20, '=');
  const auto start = std::chrono::steady_clock::now();
  SpamSettings s = DefaultSpamSettings();
  ReadSpamDat(text, s);
  EXPECT_EQ(s.maxText, 7);
  // About a second under the sanitizers, several on a loaded machine; a
  // quadratic reading of the long line would take hours.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
}

}  // namespace
