// The maintenance exports in-process with fake services: what a restore
// leaves for Done to save, the anti-spam notice on the SMTP pipe, and the
// holds both take. The files they write are checked by the client session
// (admin_client.c with maintenance_files.py).
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "core/archive/FolderArchive.h"
#include "core/control/PipeClient.h"
#include "core/control/ServiceControl.h"
#include "core/platform/Files.h"
#include "core/platform/InstallationLock.h"
#include "core/platform/LockTable.h"
#include "include/Api.h"
#include "tests/api/ExportSession.h"
#include "tests/api/Fixture.h"
#include "tests/support/fake_services.h"

namespace {

const auto* const registered = ::testing::AddGlobalTestEnvironment(new fixture::CoreUnits);

using namespace records;
using fake::FakeMode;

constexpr std::int32_t MailFolderId = 5;
std::vector<std::uint8_t> dom(API_DOMAIN_RECORD_SIZE);

std::string FileBytes(const std::string& path) {
  std::string bytes;
  core::ReadFileToString(path, false, bytes);
  return bytes;
}

std::string MailFolderSetting() {
  char text[256] = {};
  const std::int32_t length = GetConfigSetting(MailFolderId, text, sizeof text);
  return length < 0 ? "" : std::string(text, static_cast<std::size_t>(length));
}

std::vector<std::uint8_t> Account(const std::string& aliases, bool indexed) {
  auto record = NewAccount{.aliases = aliases, .password = "pw1"}.Make<std::vector<std::uint8_t>>();
  record[user::SpamIndexed] = indexed ? 1 : 0;
  return record;
}

// An installation with its mail folder under the root, initialised.
struct Session : fixture::MailSession {
  Session() : fixture::MailSession("maint") {}
};

// A restore that wrote "settings.cfg" or "domains.cfg" (in any case) leaves
// nothing for Done to save, also when it answers -1; one that wrote neither
// leaves the change to be saved and announced.
TEST(MaintenanceRestore, DoneSavesOnlyWhatNoRestoreReplaced) {
  fake::FakeServiceSet fakes;
  ASSERT_TRUE(fakes.AddRunning({0, 1, 2, 3, 4})) << fakes.Error();
  enum class Source { BackupThenRefused, DomainTableOnly, OtherFileOnly };
  const struct {
    const char* what;
    Source source;
    int answer;
    bool saved;
  } rows[] = {
      {"backup, then a refused entry", Source::BackupThenRefused, -1, false},
      {"DOMAINS.CFG alone", Source::DomainTableOnly, 0, false},
      {"neither file", Source::OtherFileOnly, 0, true},
  };
  for (const auto& row : rows) {
    Session session;
    const std::string config = session.install.config(), archive = session.install.root() + "a.ilds";
    const std::string before = FileBytes(config + "settings.cfg");
    const std::string source = session.install.root() + "source\\";
    ASSERT_TRUE(core::ForceDirectory(source));
    switch (row.source) {
      case Source::BackupThenRefused:
        ASSERT_EQ(BackupConfig(archive.c_str()), 0) << row.what;
        std::ofstream(archive, std::ios::binary | std::ios::app) << std::string("\x04..\\x\0\0\0\0", 9);
        break;
      case Source::DomainTableOnly:
        std::ofstream(source + "DOMAINS.CFG", std::ios::binary) << FileBytes(config + "domains.cfg");
        ASSERT_TRUE(core::PackFolder(archive, source)) << row.what;
        break;
      case Source::OtherFileOnly:
        std::ofstream(source + "other.dat", std::ios::binary) << "x";
        ASSERT_TRUE(core::PackFolder(archive, source)) << row.what;
        break;
    }
    const std::string other = session.install.root() + "other\\";
    ASSERT_EQ(SetConfigSetting(MailFolderId, other.data(), static_cast<std::int32_t>(other.size())), 0);
    std::vector<std::size_t> told;
    for (int index = 0; index < 5; ++index)
      told.push_back(fakes.Records(index).size());

    EXPECT_EQ(RestoreConfig(archive.c_str()), row.answer) << row.what;
    Done();
    for (int index = 0; index < 5 && row.saved; ++index)
      EXPECT_TRUE(fakes.WaitForRecords(index, told[index] + 1)) << row.what << " " << index;
    Sleep(200);  // time for a notice too many
    for (int index = 0; index < 5; ++index) {
      const auto records = fakes.Records(index);
      ASSERT_EQ(records.size(), told[index] + (row.saved ? 1 : 0)) << row.what << " " << index;
      if (!row.saved) continue;
      EXPECT_EQ(records.back().Message(), 0x500u) << row.what;
    }
    EXPECT_EQ(FileBytes(config + "settings.cfg") == before, !row.saved) << row.what;
    ASSERT_EQ(Init(session.install.root().c_str()), 0) << row.what;
    EXPECT_EQ(MailFolderSetting(), row.saved ? other : session.mail) << row.what;
  }
}

// The restore waits for another holder of the installation and writes
// nothing before; afterwards this process checks new accounts against the
// restored account files of every domain, not against what it knew.
TEST(MaintenanceRestore, WaitsForTheInstallationAndForgetsWhatItKnewOfAccounts) {
  Session session;
  ASSERT_EQ(AddDomain("a.test", dom.data(), 913), 0);
  ASSERT_EQ(AddDomain("b.test", dom.data(), 913), 0);
  auto kept = NewAccount{.aliases = "x", .mailbox = "m", .password = "pw1"}.Make<std::vector<std::uint8_t>>();
  ASSERT_EQ(AddUser("b.test", kept.data(), 2848), 0);
  const std::string archive = session.install.root() + "a.ilds", users = session.install.config() + "b.test\\users.cfg";
  ASSERT_EQ(BackupConfig(archive.c_str()), 0);
  ASSERT_EQ(DeleteUser("b.test", 0), 0);
  const std::string emptied = FileBytes(users);

  std::atomic<bool> held{false}, release{false}, restored{false};
  std::thread holder([&] {
    core::InstallationHold hold;
    held = hold.held();
    while (!release)
      Sleep(10);
  });
  while (!held)
    Sleep(10);
  std::int32_t answer = 1;
  std::thread restorer([&] {
    answer = RestoreConfig(archive.c_str());
    restored = true;
  });
  Sleep(500);
  EXPECT_FALSE(restored);
  EXPECT_TRUE(FileBytes(users) == emptied);
  release = true;
  holder.join();
  restorer.join();
  EXPECT_EQ(answer, 0);
  // The same mailbox and password in another domain: taken again.
  auto same = NewAccount{.aliases = "y", .mailbox = "m", .password = "pw1"}.Make<std::vector<std::uint8_t>>();
  EXPECT_EQ(AddUser("a.test", same.data(), 2848), -1);
  EXPECT_EQ(GetUserIndex("b.test", "x"), 0);
}

// Exactly one {0x1000, 0x5A0, 0, 0} over the SMTP pipe for an account that
// passed its checks (by any form of its address) and for null, never to the
// window; nothing for an account that did not pass. (How the notice reaches
// a stopped service or the published pipe pair is the service control's.)
TEST(MaintenanceSpamIndex, OneNoticeOnTheSmtpPipeAfterTheChecks) {
  Session session;
  ASSERT_EQ(AddDomain("a.test", dom.data(), 913), 0);
  for (const auto& [aliases, indexed] : {std::pair{"ann", true}, std::pair{"bob", false}}) {
    auto record = Account(aliases, indexed);
    ASSERT_EQ(AddUser("a.test", record.data(), 2848), 0);
  }
  const struct {
    const char* what;
    const char* email;
    int answer;
  } rows[] = {
      {"account", "ann@a.test", 0},
      {"null", nullptr, 0},
      {"alias alone", "ann", 0},
      {"in brackets, any case", "<ANN@A.test>", 0},
      {"unknown account", "nobody@a.test", -1},
      {"not indexed", "bob@a.test", -1},
      {"empty", "", -1},
  };
  for (const auto& row : rows) {
    fake::FakeServiceSet fakes;
    ASSERT_TRUE(fakes.Add({core::ServerSmtp, FakeMode::Service, true, {}})) << row.what << ": " << fakes.Error();
    EXPECT_EQ(SpamIndexNow(row.email), row.answer) << row.what;
    if (row.answer == 0) {
      EXPECT_TRUE(fakes.WaitForRecords(core::ServerSmtp, 1)) << row.what;
    }
    Sleep(200);  // time for a notice too many
    const auto records = fakes.Records(core::ServerSmtp);
    ASSERT_EQ(records.size(), row.answer == 0 ? 1u : 0u) << row.what;
    if (records.empty()) continue;
    EXPECT_EQ(records[0].kind, 'P') << row.what;
    EXPECT_EQ(records[0].bytes, fake::Words(0x1000, 0x5A0, 0, 0)) << row.what;
  }
}

// The notice waits for a busy SMTP pipe after the state hold is gone:
// meanwhile a new session starts and ends without waiting for it.
TEST(MaintenanceSpamIndex, ABusySmtpPipeHoldsUpNoSession) {
  Session session;
  const std::string pipe = "\\\\.\\pipe\\" + core::GetServicePipeName(core::ServerSmtp);
  const core::UniqueHandle server(
      CreateNamedPipeA(pipe.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_WAIT, 1, 64, 64, 0, nullptr));
  const core::UniqueHandle taken(
      CreateFileA(pipe.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(server.valid() && taken.valid());  // its one instance is in use
  const std::uint32_t wait = core::SetPipeBusyWait(6000);
  std::atomic<bool> sent{false};
  std::thread notice([&] {
    EXPECT_EQ(SpamIndexNow(nullptr), 0);
    sent = true;
  });
  Sleep(500);  // the notice waits for the pipe now
  EXPECT_EQ(Init(session.install.root().c_str()), 0);
  Done();
  EXPECT_FALSE(sent);
  notice.join();
  core::SetPipeBusyWait(wait);
}

}  // namespace
