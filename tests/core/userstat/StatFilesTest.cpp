// The report over an installation written by an independent script, under
// Wine: every case byte for byte against the script's oracle, and the
// report file when it cannot be written.
#include "core/userstat/StatFiles.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "core/config/ConfigStore.h"
#include "core/platform/Files.h"
#include "core/platform/LockTable.h"
#include "core/platform/System.h"
#include "core/startup/ConfigLoad.h"
#include "tests/support/installation.h"

namespace {

using namespace core;

std::string ReadAll(const std::string& name) {
  std::string data;
  ReadFileToString(name, false, data);
  return data;
}

class StatFilesTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    testinst::StartLibraryProcess();
    const char* fixtures = std::getenv("VM_USERSTAT_FIXTURES");
    ASSERT_NE(fixtures, nullptr);
    root = std::string("Z:") + fixtures + "\\";
    for (char& c : root)
      c = c == '/' ? '\\' : c;
    SetRootFolder(root);
    SetConfigFolder(root + "config\\");
    ReadPathConfig(root);
    ASSERT_TRUE(InitServerConfig(true, false));
    CreateDirectoryA((root + "reports").c_str(), nullptr);
  }
  static std::string root;
};
std::string StatFilesTest::root;

TEST_F(StatFilesTest, EveryCaseAsTheOracleWroteIt) {
  // A service keeps its file open for writing meanwhile.
  const UniqueHandle held(CreateFileA((root + "mail\\example.com\\bob\\userstat.dat").c_str(), GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(held.valid());
  std::istringstream cases(ReadAll(root + "cases.txt"));
  std::string line;
  int count = 0;
  while (std::getline(cases, line)) {
    std::string field[4];
    std::istringstream row(line);
    for (std::string& f : field)
      std::getline(row, f, '\t');
    const std::string out = root + "reports\\" + field[0] + ".csv";
    ASSERT_TRUE(WriteUserStatReport(field[1], field[2], field[3], out)) << field[0];
    EXPECT_EQ(ReadAll(out), ReadAll(root + "expected\\" + field[0] + ".csv")) << field[0];
    ++count;
  }
  EXPECT_EQ(count, 11);
}

TEST_F(StatFilesTest, AReportThatCannotBeWrittenLeavesNoFile) {
  struct FailingFile : UserStatReportFile {
    int writes = 0;
    bool Write(std::string_view text) override { return ++writes < 3 && UserStatReportFile::Write(text); }
  } file;
  InstalledUserStats source;
  const std::string out = root + "reports\\failed.csv";
  EXPECT_FALSE(WriteUserStatReport("2024/01/10", "2024/03/20", "*", out, source, file));
  EXPECT_FALSE(FileExists(out));
  EXPECT_FALSE(WriteUserStatReport("2024/01/10", "2024/03/20", "*", root + "no such folder\\r.csv"));
}

}  // namespace
