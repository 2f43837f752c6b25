#include "core/antispam/SpamIndex.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <random>
#include <sstream>
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

std::string Listing(const std::string& folder, const char* mask = "*") {
  std::string names;
  WIN32_FIND_DATAA found;
  UniqueFindHandle listing(FindFirstFileA((folder + mask).c_str(), &found));
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

// A child process indexing 200 messages back and forth, killed at 50 random
// moments: each message is always whole, as it was or marked either way, and
// no temporary is ever listed as a message.
TEST(SpamIndex, KilledAtRandomMomentsLosesNothing) {
  testinst::Installation install("spamkill");
  SetConfigFolder(install.config);
  const std::string inbox = install.root + "box\\";
  CreateDirectoryA(inbox.c_str(), nullptr);
  struct Message {
    std::string name, original, genuine, spam;
  };
  std::vector<Message> messages;
  std::mt19937 random(20261209);
  for (int i = 0; i < 200; ++i) {
    std::string body = "\r\n";
    for (int lines = 1 + static_cast<int>(random() % 800); lines > 0; --lines)
      body += std::string(76, static_cast<char>('a' + lines % 26)) + "\r\n";
    const std::string prefix = i % 3 == 0 ? Imap : "", head = "Subject: m" + std::to_string(i) + "\r\nTo: t\r\n";
    Message m;
    m.name = "m" + std::to_string(i) + (i % 3 == 0 ? ".imap" : ".tmp");
    const auto marked = [&](char status) {
      const std::string line = std::string("X-AntiSpam-Status: ") + status + "\r\n";
      return i % 3 == 1 ? prefix + line + head + body : prefix + head + line + body;
    };
    m.original = i % 3 == 1 ? marked('1') : prefix + head + body;
    m.genuine = marked('0');
    m.spam = marked('1');
    WriteAll(inbox + m.name, m.original);
    messages.push_back(m);
  }
  std::vector<std::string> names;
  for (const Message& m : messages)
    names.push_back(m.name);
  std::sort(names.begin(), names.end());

  // A random moment within about two passes of the child, a second at most.
  auto start = std::chrono::steady_clock::now();
  IndexSpamFolder(inbox, false);
  const auto pass = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
  const unsigned range = static_cast<unsigned>(std::clamp<long long>(pass.count() * 2, 50, 1000));

  char self[MAX_PATH] = {};
  std::string child(self, GetModuleFileNameA(nullptr, self, MAX_PATH));
  child = child.substr(0, child.find_last_of('\\') + 1) + "spam_index_child.exe";
  const std::string eventName = "spamkill-" + std::to_string(GetCurrentProcessId());
  UniqueHandle started(CreateEventA(nullptr, TRUE, FALSE, eventName.c_str()));
  ASSERT_TRUE(started);
  int marked = 0;
  start = std::chrono::steady_clock::now();
  for (int kill = 0; kill < 50; ++kill) {
    ResetEvent(started.get());
    // Folders without their last "\\": before a quote it would escape it.
    std::string command = "\"" + child + "\" \"" + install.config.substr(0, install.config.size() - 1) + "\" \"" +
                          inbox.substr(0, inbox.size() - 1) + "\" " + eventName;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(
        CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process));
    UniqueHandle processHandle(process.hProcess), threadHandle(process.hThread);
    ASSERT_EQ(WaitForSingleObject(started.get(), 60000), WAIT_OBJECT_0);
    Sleep(random() % range);
    DWORD code = 0;
    ASSERT_TRUE(GetExitCodeProcess(process.hProcess, &code) && code == STILL_ACTIVE) << "the child ended by itself";
    TerminateProcess(process.hProcess, 9);
    ASSERT_EQ(WaitForSingleObject(process.hProcess, 60000), WAIT_OBJECT_0);

    for (const Message& m : messages) {
      const std::string now = ReadAll(inbox + m.name);
      ASSERT_TRUE(now == m.original || now == m.genuine || now == m.spam)
          << m.name << " after kill " << kill << ": " << now.size() << " bytes";
      marked += now == m.original ? 0 : 1;
    }
    std::vector<std::string> listed;
    for (const char* mask : {"*.tmp", "*.imap"}) {
      std::istringstream words(Listing(inbox, mask));
      for (std::string name; words >> name;)
        listed.push_back(name);
    }
    std::sort(listed.begin(), listed.end());
    ASSERT_EQ(listed, names) << "after kill " << kill;
  }
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_GT(marked, 0);
  EXPECT_LT(took, std::chrono::seconds(240));
}

}  // namespace
