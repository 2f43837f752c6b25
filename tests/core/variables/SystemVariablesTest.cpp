// Message files rewritten with their variables under Wine: both forms read
// from disk (headers once, the ".imap" header skipped), the message kept
// whole on every failure, commands run for real, attachment names once per
// message. Welcome messages through Api.dll: welcome_test.py; dates in three
// regions: check_dates.py.
#include "core/variables/SystemVariables.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "core/config/ConfigStore.h"
#include "core/config/SettingsRecord.h"
#include "tests/support/installation.h"

namespace core {
namespace {

using testinst::ReadAll;
using testinst::WriteAll;

int g_attachmentCalls = 0;
std::string CountedNames(const std::string& messageFile) {
  ++g_attachmentCalls;
  return "a.pdf (" + messageFile.substr(messageFile.rfind('\\') + 1) + ")";
}

class SystemVariablesTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { testinst::StartLibraryProcess(); }
  void SetUp() override {
    ASSERT_TRUE(install.Install(records::SettingsFile(1).Text(records::settings::TempFolder, temp), {"a.test"}));
  }
  void TearDown() override { SetAttachmentNamesSource(nullptr); }
  // The files the temporary folder holds: none after any run.
  int TempFiles() const {
    WIN32_FIND_DATAA entry{};
    const HANDLE search = FindFirstFileA((temp + "*.tmp").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) return 0;
    int count = 0;
    do {
      ++count;
    } while (FindNextFileA(search, &entry));
    FindClose(search);
    return count;
  }
  testinst::Installation install{"variables"};
  const std::string root = install.root, temp = root + "temp\\";
};

TEST_F(SystemVariablesTest, BothFormsAreRewrittenFromTheirFiles) {
  const std::string headers = "From: \"Ann\" <ann@a.example>\r\nSubject: =?iso-8859-1?Q?caf=E9?=\r\n\r\n";
  WriteAll(root + "abc.bin", "abc");
  MessageContext context;
  context.messageFile = root + "m.tmp";
  WriteAll(context.messageFile,
           headers + "..%%Subject%%|%%From_Name%%\r\n%%Header%%\r\n%%Include_Base64 " + root + "abc.bin%%\r\n.\r\n");
  ASSERT_TRUE(ApplySystemVariables(context));
  EXPECT_EQ(context.messageFile, root + "m.tmp");
  EXPECT_EQ(ReadAll(root + "m.tmp"), headers + "..caf\xE9|Ann\r\n" + headers + "YWJj\r\n.\r\n");

  context.messageFile = root + "inbox\\m.imap";
  CreateDirectoryA((root + "inbox").c_str(), nullptr);
  const std::string stamp = "000000000000000036A52B40\r\n";
  WriteAll(context.messageFile, stamp + headers + ".%%Subject%%\r\n%%Header%%\r\n%%Body%%");
  ASSERT_TRUE(ApplySystemVariables(context));
  EXPECT_EQ(ReadAll(context.messageFile),
            stamp + headers + ".caf\xE9\r\n" + headers + ".%%Subject%%\r\n%%Header%%\r\n%%Body%%\r\n\r\n");
  EXPECT_EQ(TempFiles(), 0);
}

TEST_F(SystemVariablesTest, EveryFailureKeepsTheMessageAndLeavesNoTemporaryFile) {
  MessageContext context;
  context.messageFile = root + "missing.tmp";
  EXPECT_FALSE(ApplySystemVariables(context));
  context.messageFile = root + "m.tmp";
  const std::string message = "Subject: s\r\n\r\n%%Subject%%\r\n.\r\n";
  WriteAll(context.messageFile, message);
  // A reader that does not share deletion: the replace fails, the message stays.
  const HANDLE reader = CreateFileA(context.messageFile.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(ApplySystemVariables(context));
  CloseHandle(reader);
  EXPECT_EQ(ReadAll(context.messageFile), message);
  // Nothing is written to a relative folder.
  SetShortString(Settings().data(), cfg::TempFolder, "temp\\");
  EXPECT_FALSE(ApplySystemVariables(context));
  SetShortString(Settings().data(), cfg::TempFolder, temp);
  EXPECT_EQ(ReadAll(context.messageFile), message);
  EXPECT_EQ(TempFiles(), 0);
  ASSERT_TRUE(ApplySystemVariables(context));
  EXPECT_EQ(ReadAll(context.messageFile), "Subject: s\r\n\r\ns\r\n.\r\n");
}

TEST_F(SystemVariablesTest, CommandsRunAndAttachmentNamesAreListedOncePerMessage) {
  const std::string marker = testinst::HostPath(std::getenv("VM_MARKER"));
  EXPECT_EQ(RunCommandVariable(" \t" + marker + " x"), "ran x");
  EXPECT_EQ(RunCommandVariable("  "), "");
  EXPECT_EQ(RunCommandVariable(root + "nothing.exe"), "");

  MessageContext context;
  context.messageFile = root + "m.imap";
  WriteAll(context.messageFile, "%%AttachmentNames%%\r\n");
  EXPECT_EQ(ExpandSystemVariablesText(context, "[%%AttachmentNames%%]"), "[]");  // no source installed
  SetAttachmentNamesSource(&CountedNames);
  WriteAll(context.messageFile, "%%AttachmentNames%%\r\n%%AttachmentNames%%\r\n");
  ASSERT_TRUE(ApplySystemVariables(context));
  EXPECT_EQ(ReadAll(context.messageFile), "a.pdf (m.imap)\r\na.pdf (m.imap)\r\n");
  EXPECT_EQ(g_attachmentCalls, 1);
}

}  // namespace
}  // namespace core
