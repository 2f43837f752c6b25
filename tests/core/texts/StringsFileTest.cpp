// "strings.dat" read by the configuration load on a fixture installation,
// under Wine: the generated files against the independent reader's result,
// and what stays replaced from one load to the next.
#include "core/texts/StringsFile.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "core/texts/MessageTexts.h"
#include "tests/support/installation.h"
#include "tests/support/message_texts.h"

namespace {

using namespace core;
using testing_support::ReadFileText;
using testing_support::TextsDump;

class StringsFileTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { testinst::StartLibraryProcess(); }
  void SetUp() override {
    ResetMessageTexts();
    testinst::WriteAll(first.config + "settings.cfg", testinst::SettingsFile().Scrambled());
  }
  void TearDown() override { ResetMessageTexts(); }
  static void Strings(const testinst::Installation& at, const std::string& text) {
    testinst::WriteAll(at.config + "strings.dat", text);
  }

  testinst::Installation first{"texts"};
};

TEST_F(StringsFileTest, InitAgreesWithIndependentReader) {
  const std::string folder = testinst::HostPath(TEXTS_GENERATED) + "\\";
  ASSERT_TRUE(first.Load());
  ASSERT_EQ(TextsDump(), ReadFileText(folder + "defaults.hex"));
  for (int n = 0; n < 500; ++n) {
    char name[8];
    std::snprintf(name, sizeof name, "%03d", n);
    ResetMessageTexts();
    Strings(first, ReadFileText(folder + name + ".dat"));
    ASSERT_TRUE(first.Load());
    ASSERT_EQ(TextsDump(), ReadFileText(folder + name + ".hex")) << name;
  }
}

TEST_F(StringsFileTest, ReplacementsStayUntilTheLibraryIsLoadedAgain) {
  Strings(first, "STRRC='one'\r\nstRRB='b1'\x1a\r\n");
  ASSERT_TRUE(first.Load());
  EXPECT_EQ(MessageText(75), "one");
  EXPECT_EQ(MessageText(74), "b1");

  // The key left the file: its replacement stays.
  Strings(first, "stRRB='b2'");
  ASSERT_TRUE(first.Load());
  EXPECT_EQ(MessageText(75), "one");
  EXPECT_EQ(MessageText(74), "b2");

  // A file held open without sharing, and a missing one, change nothing.
  Strings(first, "stRRB='held'");
  const std::string name = first.config + "strings.dat";
  HANDLE held = ::CreateFileA(name.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(first.Load());
  ::CloseHandle(held);
  EXPECT_EQ(MessageText(74), "b2");
  ::DeleteFileA(name.c_str());
  ASSERT_TRUE(first.Load());
  EXPECT_EQ(MessageText(74), "b2");

  // Another root keeps the first root's replacements for keys it does not name.
  testinst::Installation second{"texts2"};
  testinst::WriteAll(second.config + "settings.cfg", testinst::SettingsFile().Scrambled());
  Strings(second, "cLSJoin='j2'\rstRRB=''");
  ASSERT_TRUE(second.Load());
  EXPECT_EQ(MessageText(75), "one");
  EXPECT_EQ(MessageText(74), "");
  EXPECT_EQ(ListServerText("clsjoin"), "j2");
}

}  // namespace
