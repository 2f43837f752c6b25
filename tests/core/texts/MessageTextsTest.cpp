#include "core/texts/MessageTexts.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/message_texts.h"

namespace {

using namespace core;
using testing_support::ReadFileText;
using testing_support::TextsDump;

const std::string kRrcDefault = "Message Recipient: %s";
const std::string kJoinDefault = "User %s has been successfully subscribed to the mailing list: ";

std::string Rrc() { return MessageText(75); }

void Load(const std::string& file) {
  ResetMessageTexts();
  ApplyStringsEntries(ParseStringsText(file));
}

TEST(MessageTexts, FileLinesAndLiterals) {
  const std::string big(300, 'v');
  struct Row {
    std::string file;
    std::string expected;  // text 75 afterwards
  } rows[] = {
      {"STRRC='Recipient: %s'", "Recipient: %s"},
      {"stRRC='Line 1'#13#10'Line 2'", "Line 1\r\nLine 2"},
      {"stRRC=#0#321", "A"},
      {"stRRC=Hello", ""},
      {"stRRC='a=b'", ""},
      {"stRRC='  x  '", " x "},
      {"  stRRC  =  '    a  b '  ", " a b "},
      {"stRRC=#32#32#32'|'", "   |"},
      {"stRRC=#256", std::string(1, '\0')},
      {"stRRC=#000256", std::string(1, '\0')},
      {"stRRC=#0000'x'", "x"},
      {"stRRC=#4294967361", "A"},
      {"stRRC=#4294967296", std::string(1, '\0')},
      {"stRRC=#99999999999999999999999999999999999999999", std::string(1, static_cast<char>(0xFF))},
      {"stRRC=#61'x'#", "=x"},
      {"stRRC='#13'", "#13"},
      {"stRRC='it''s'", "its"},
      {"stRRC='ab", ""},
      {"stRRC='a'+'b' word 'c", "ab"},
      {"stRRC='a\x1a"
       "b'",
       "a\x1a"
       "b"},
      {"\x1astRRC='z'\x1a", "z"},
      {"stRRC='" + big + "'", big},
      {"stRRC=", kRrcDefault},
      {"stRRC = = 'x'", kRrcDefault},
      {"='x'", kRrcDefault},
      {"stRRC 'x'", kRrcDefault},
      {"stRRCx='x'\nstRR='x'\n75='x'", kRrcDefault},
      {"stRRC='a'\r\nstrrc='b'", "b"},
      {"stRRC='a'\rstRRC='b'\n\nstRRC='c'", "c"},
  };
  for (const Row& row : rows) {
    Load(row.file);
    EXPECT_EQ(Rrc(), row.expected) << row.file;
  }

  // Keyless texts are never replaced; the list-server table has its own keys.
  Load("0='x'\n16='x'\n1='x'\ncLSPassword='p'\nCLSJOIN='j'");
  EXPECT_EQ(MessageText(0).size(), 118u);
  EXPECT_EQ(MessageText(1), "!CHUNKING");
  EXPECT_EQ(MessageText(31), "Incorrect password");
  EXPECT_EQ(ListServerText("clspassword"), "p");
  EXPECT_EQ(ListServerText(4), "j");
  EXPECT_EQ(ListServerText(23), "");
  EXPECT_EQ(MessageText(-1), "");
  EXPECT_EQ(MessageText(76), "");
  EXPECT_EQ(ListServerText("stRRC"), "");
  ResetMessageTexts();
}

// The defaults and 500 generated files, each against the script's own result.
TEST(MessageTexts, AgreesWithIndependentReader) {
  const std::string folder = TEXTS_GENERATED;
  ResetMessageTexts();
  ASSERT_EQ(TextsDump(), ReadFileText(folder + "/defaults.hex"));
  for (int n = 0; n < 500; ++n) {
    char name[16];
    std::snprintf(name, sizeof name, "/%03d", n);
    const std::string file = ReadFileText(folder + name + ".dat");
    const std::string expected = ReadFileText(folder + name + ".hex");
    Load(file);
    ASSERT_EQ(TextsDump(), expected) << name;
    ResetMessageTexts();
    ApplyStringsText(file);  // the load's own path, decoding known keys only
    ASSERT_EQ(TextsDump(), expected) << name;
  }
  ResetMessageTexts();
}

TEST(MessageTexts, HostileLinesEndQuicklyAndStayWithinTheirLine) {
  const auto start = std::chrono::steady_clock::now();
  const std::vector<std::string> lines = {"k=" + std::string(1 << 20, '\''), "k=#" + std::string(1 << 20, '9'),
                                          "k='" + std::string(1 << 20, ' ') + "'", std::string(1 << 20, '=') + "x",
                                          "stRRC=" + std::string(1 << 20, '#')};
  for (const std::string& line : lines) {
    StringsEntry entry;
    if (ParseStringsLine(line, entry)) {
      EXPECT_LE(entry.text.size(), line.size());
    }
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

// Loads replace whole tables: a reader sees one file's text or the other's,
// never a mixture, while both run on many threads.
TEST(MessageTexts, LoadsAndReadsAtOnce) {
  const std::string a(4000, 'a'), b(100, 'b');
  const std::string fileA = "stRRC='" + a + "'\ncLSJoin='" + a + "'";
  const std::string fileB = "stRRC='" + b + "'\ncLSJoin='" + b + "'";
  ResetMessageTexts();
  std::atomic<bool> stop{false};
  std::atomic<int> bad{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([&, t] {
      while (!stop) {
        const std::string text = (t % 2) ? MessageText(75) : ListServerText("cLSJoin");
        if (text != a && text != b && text != kRrcDefault && text != kJoinDefault) ++bad;
      }
    });
  std::vector<std::thread> loaders;
  for (int t = 0; t < 8; ++t)
    loaders.emplace_back([&, t] {
      for (int i = 0; i < 200; ++i)
        ApplyStringsText((i + t) % 2 ? fileA : fileB);
    });
  for (auto& loader : loaders)
    loader.join();
  stop = true;
  for (auto& thread : threads)
    thread.join();
  EXPECT_EQ(bad.load(), 0);
  EXPECT_TRUE(Rrc() == a || Rrc() == b);
  ResetMessageTexts();
}

}  // namespace
