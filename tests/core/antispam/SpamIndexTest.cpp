#include "core/antispam/SpamIndex.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/config/ConfigStore.h"
#include "core/platform/Files.h"
#include "core/platform/Handles.h"
#include "tests/support/installation.h"

namespace {

using namespace core;
using testinst::ReadAll;
using testinst::WriteAll;

const std::string Imap(26, '\x01');

std::string Listing(const std::string& folder) {
  std::string names;
  WIN32_FIND_DATAA found;
  UniqueFindHandle listing(FindFirstFileA((folder + "*").c_str(), &found));
  if (!listing) return names;
  do {
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) names += std::string(found.cFileName) + " ";
  } while (FindNextFileA(listing.get(), &found));
  return names;
}

TEST(SpamIndex, MarksCopiesAndNeverLosesAMessage) {
  testinst::Installation install("spamindex");
  SetConfigFolder(install.config);
  const std::string inbox = install.root + "box\\";
  CreateDirectoryA(inbox.c_str(), nullptr);
  const std::string body = "\r\n..dotted line\r\nend\r\n.\r\n";
  struct Row {
    std::string name, before, after, copiedTo;  // after empty: unchanged
  };
  const Row rows[] = {
      {"new.tmp", "Subject: a\r\n" + body, "Subject: a\r\nX-AntiSpam-Status: 0\r\n" + body, "Genuine"},
      {"zero.tmp", "X-AntiSpam-Status: 0\r\n" + body, "", ""},
      {"one.tmp", "X-AntiSpam-Status: 1\r\nTo: b\r\n" + body, "X-AntiSpam-Status: 0\r\nTo: b\r\n" + body,
       "Spam-Genuine"},
      {"two.TMP", "x-antispam-status: 2\r\n" + body, "X-AntiSpam-Status: 0\r\n" + body, "Spam-Genuine"},
      {"yes.tmp", "X-AntiSpam-Status: yes\r\n" + body, "", ""},
      {"big.tmp", "X-AntiSpam-Status: 99999999999\r\n" + body, "", ""},
      {"folded.tmp", "X-AntiSpam-Status:\r\n 1\r\nTo: c\r\n" + body, "X-AntiSpam-Status: 0\r\nTo: c\r\n" + body,
       "Spam-Genuine"},
      {"noblank.tmp", "Subject: no end of header", "", ""},
      {"x.tmpl", "Subject: x\r\n" + body, "", ""},
      {"x.txt", "Subject: x\r\n" + body, "", ""},
      {"m.imap", Imap + "Subject: i\r\n\r\n.kept dot\r\n",
       Imap + "Subject: i\r\nX-AntiSpam-Status: 0\r\n\r\n.kept dot\r\n", "Genuine"},
      {"readonly.tmp", "Subject: r\r\n" + body, "", ""},
      {"held.tmp", "Subject: h\r\n" + body, "", ""},
  };
  std::vector<std::uint32_t> stamps;
  for (const Row& row : rows) {
    WriteAll(inbox + row.name, row.before);
    SetFileDate(inbox + row.name, 0x5A8B6000u + 2);  // an old even stamp
    stamps.push_back(GetFileStamp(inbox + row.name));
  }
  SetFileAttributesA((inbox + "readonly.tmp").c_str(), FILE_ATTRIBUTE_READONLY);
  SetFileAttributesA((inbox + "new.tmp").c_str(), FILE_ATTRIBUTE_HIDDEN);
  UniqueHandle held(CreateFileA((inbox + "held.tmp").c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(held);

  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(IndexSpamFolder(inbox, false), 5);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  held.reset();

  const std::string index = SpamIndexFolder();
  for (std::size_t i = 0; i < std::size(rows); ++i) {
    const Row& row = rows[i];
    const std::string want = row.after.empty() ? row.before : row.after;
    EXPECT_EQ(ReadAll(inbox + row.name), want) << row.name;
    EXPECT_EQ(GetFileStamp(inbox + row.name), stamps[i]) << row.name;
    if (!row.copiedTo.empty()) {
      EXPECT_EQ(ReadAll(index + row.copiedTo + "\\" + row.name), want) << row.name;
    }
  }
  EXPECT_NE(GetFileAttributesA((inbox + "new.tmp").c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);
  EXPECT_EQ(Listing(index + "Genuine\\"), "m.imap new.tmp ");
  EXPECT_EQ(Listing(index + "Spam-Genuine\\"), "folded.tmp one.tmp two.TMP ");
  // No temporary left, and a second run has nothing to do.
  EXPECT_EQ(Listing(inbox).find("~"), std::string::npos) << Listing(inbox);
  EXPECT_EQ(IndexSpamFolder(inbox, false), 1);  // only the one held open before
  EXPECT_EQ(IndexSpamFolder(inbox, false), 0);

  // The spam folder of the same mailbox: everything marked becomes spam.
  const std::string spam = inbox + "~Spam\\";
  CreateDirectoryA(spam.c_str(), nullptr);
  WriteAll(spam + "s.tmp", "Subject: s\r\n" + body);
  WriteAll(spam + "g.tmp", "X-AntiSpam-Status: 0\r\n" + body);
  EXPECT_EQ(IndexSpamFolder(spam, true), 2);
  EXPECT_EQ(ReadAll(index + "Spam\\s.tmp"), "Subject: s\r\nX-AntiSpam-Status: 1\r\n" + body);
  EXPECT_EQ(ReadAll(index + "Genuine-Spam\\g.tmp"), "X-AntiSpam-Status: 1\r\n" + body);
  SetFileAttributesA((inbox + "readonly.tmp").c_str(), FILE_ATTRIBUTE_NORMAL);
}

// Messages written by tests/core/antispam/spam_index_files.py, which checks
// them afterwards.
TEST(SpamIndex, MarksScriptWrittenMailbox) {
  const char* fixtures = std::getenv("VM_SPAM_FIXTURES");
  ASSERT_NE(fixtures, nullptr);
  testinst::Installation install("spamfixtures");
  SetConfigFolder(install.config);
  const std::string inbox = testinst::HostPath(fixtures) + "\\box\\";
  EXPECT_EQ(IndexSpamFolder(inbox, false), 4);
  EXPECT_EQ(IndexSpamFolder(inbox + "~Spam\\", true), 2);
}

// A failure at any write of the rewrite leaves the message and no temporary.
TEST(SpamIndex, FailedWriteAtEachStepKeepsTheOriginal) {
  testinst::Installation install("spamfail");
  SetConfigFolder(install.config);
  const std::string inbox = install.root + "box\\";
  CreateDirectoryA(inbox.c_str(), nullptr);
  for (const std::string& name : {std::string("a.tmp"), std::string("b.imap")}) {
    const std::string before = (name == "b.imap" ? Imap : "") + "Subject: f\r\nTo: g\r\n\r\nline\r\n";
    WriteAll(inbox + name, before);
    int step = 1;
    for (; step < 40; ++step) {
      FailSpamIndexWriteStep(step);
      if (IndexSpamFolder(inbox, true) == 1) break;
      EXPECT_EQ(ReadAll(inbox + name), before) << name << " step " << step;
      EXPECT_EQ(Listing(inbox), name + " ") << name << " step " << step;
    }
    FailSpamIndexWriteStep(0);
    EXPECT_GT(step, 5) << name;
    EXPECT_LT(step, 40) << name;
    EXPECT_NE(ReadAll(inbox + name), before) << name;
    DeleteFileA((inbox + name).c_str());
  }
}

}  // namespace
