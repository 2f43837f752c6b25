// The sending library against the real Api.dll, in one process but each with
// its own state: an installation built through Api's exports reads the same
// through the sending library (every alias of every account gives the 2,848
// bytes LoadUser gives, every setting id the bytes GetConfigSetting gives),
// in the files and on the SQLite back end; and loads and lookups run on many
// threads while a second process rewrites the files through Api.dll.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "core/config/ConfigStore.h"
#include "core/config/SettingTransfer.h"
#include "core/db/DbLibrary.h"
#include "sender/config/SendingConfig.h"
#include "tests/sender/config/ApiLibrary.h"
#include "tests/sender/config/SenderFixture.h"
#include "tests/support/installation.h"

namespace {

using namespace records;
using senderfix::RegistryValue;

constexpr const char* AdministrationKey = "Software\\Velmora\\Parlinex MailServer";

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

senderfix::ApiLibrary& Api() {
  // Loaded once, while its own registry value names nothing.
  static senderfix::ApiLibrary* api = [] {
    RegistryValue none(AdministrationKey, "InstallDir", nullptr);
    return new senderfix::ApiLibrary(Env("VM_API_DLL").c_str());
  }();
  return *api;
}

std::vector<std::uint8_t> Account(const std::string& aliases, const std::string& mailbox) {
  return NewAccount{.aliases = aliases, .mailbox = mailbox, .password = "pw-" + mailbox}
      .Make<std::vector<std::uint8_t>>();
}

class SenderAgainstApi : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { senderfix::StartSendingLibrary(); }
  void SetUp() override { ASSERT_TRUE(Api().bound()) << Env("VM_API_DLL"); }
  void TearDown() override { core::UnloadDBLibrary(); }

  // Api's Init needs a settings file to start from.
  void Start(std::uint8_t storageMode) {
    SettingsFile settings;
    settings.U8(settings::FirstProcessor, 0).U8(settings::StorageMode, storageMode);
    testinst::WriteAll(install.config + "settings.cfg", settings.Scrambled());
    ASSERT_EQ(Api().Init(install.root.c_str()), 0);
  }
  void CrossCheck(std::uint8_t storageMode);
  void PointBothKeysHere() {
    sendingKey = std::make_unique<RegistryValue>(sender::SendingInstallKey, sender::InstallDirValue, &install.root);
    administrationKey = std::make_unique<RegistryValue>(AdministrationKey, "InstallDir", &install.root);
  }

  testinst::Installation install{"sendapi"};
  std::unique_ptr<RegistryValue> sendingKey, administrationKey;
};

struct Built {
  const char* domain;
  std::int32_t index;
  std::string aliases, mailbox;
  std::vector<std::string> addresses;
  bool groupsOnly = false;  // found through "groups.dat", which the back end does not read
};

void SenderAgainstApi::CrossCheck(std::uint8_t storageMode) {
  senderfix::ApiLibrary& api = Api();
  const std::string& root = install.root;
  const std::string mail = root + "mail\\";
  EXPECT_EQ(api.SetText(5, mail.c_str()), 0);
  EXPECT_EQ(api.Set<std::uint16_t>(12, 1234), 0);
  EXPECT_EQ(api.Set<std::uint8_t>(88, 1), 0);
  EXPECT_EQ(api.SetText(106, "cross-check"), 0);
  EXPECT_EQ(api.SetText(1, "a.test, b.test"), 0);
  std::vector<std::uint8_t> domainRecord(API_DOMAIN_RECORD_SIZE, 0);
  for (const char* name : {"a.test", "b.test", "c.test"})
    ASSERT_EQ(api.AddDomain(name, domainRecord.data(), API_DOMAIN_RECORD_SIZE), 0) << name;
  std::vector<Built> built = {{"a.test",
                               0,
                               "John.Doe;jd;j..d",
                               "john",
                               {"John.Doe@a.test", "JD@A.TEST", "\"j..d\"@a.test", "\"jd:x\"@a.test", "jd"}},
                              {"a.test", 1, "[staff]", "staff", {"mary@a.test"}, true},
                              {"a.test", 2, "ann", "ann", {"Ann <ann@a.test>"}},
                              {"b.test", 0, "bob;Robert", "bob", {"bob@b.test", "robert@B.test"}},
                              {"c.test", 0, "carl", "carl", {"carl@c.test"}}};
  for (const Built& b : built)
    ASSERT_EQ(api.AddUser(b.domain, Account(b.aliases, b.mailbox).data(), API_ACCOUNT_RECORD_SIZE), 0) << b.aliases;
  api.SaveConfig();
  std::vector<std::vector<std::uint8_t>> loaded;
  for (const Built& b : built) {
    loaded.emplace_back(API_ACCOUNT_RECORD_SIZE);
    ASSERT_GE(api.LoadUser(b.domain, b.index, loaded.back().data(), API_ACCOUNT_RECORD_SIZE), 0) << b.aliases;
  }
  api.Done();
  testinst::WriteAll(root + "config\\groups.dat", "[staff]\r\nmary\r\n");

  PointBothKeysHere();
  // Api's view of the settings as a start reads them (lists normalised).
  ASSERT_EQ(api.Init(root.c_str()), 0);
  ASSERT_TRUE(sender::LoadSendingConfig());
  for (std::size_t i = 0; i < built.size(); ++i) {
    if (built[i].groupsOnly && storageMode == 2) continue;
    for (const std::string& address : built[i].addresses) {
      core::AccountRecordBytes found{};
      ASSERT_TRUE(sender::FindAccountByAddress(address, found, true)) << address;
      EXPECT_TRUE(std::equal(found.begin(), found.end(), loaded[i].begin())) << address;
    }
  }
  const std::string folder = core::ConfigFolder();
  const core::SettingContext context{folder, core::Settings().data()};
  int compared = 0;
  for (std::int32_t id = 0; id <= 4096; ++id) {
    std::vector<std::uint8_t> theirs(4096), ours(4096);
    const std::int32_t length = api.GetConfigSetting(id, theirs.data(), 4096);
    const core::Outcome got =
        core::GetSetting(core::SettingFamily::Config, id, core::Settings().data(), ours.data(), 4096, context);
    ASSERT_EQ(got.ok() ? got.value : -1, length) << id;
    if (length < 0) continue;
    ++compared;
    EXPECT_EQ(std::vector<std::uint8_t>(ours.begin(), ours.begin() + length),
              std::vector<std::uint8_t>(theirs.begin(), theirs.begin() + length))
        << id;
  }
  EXPECT_GT(compared, 150);
  api.Done();
}

TEST_F(SenderAgainstApi, EveryAliasAndSettingReadsAsApiWroteItInTheFiles) {
  Start(0);
  CrossCheck(0);
}

TEST_F(SenderAgainstApi, EveryAliasAndSettingReadsAsApiWroteItOnSqlite) {
  ASSERT_TRUE(CopyFileA(Env("VM_DB_BACKEND").c_str(), (install.root + "DB.dll").c_str(), FALSE));
  Start(2);
  CrossCheck(2);
  EXPECT_TRUE(core::IsDBLoaded());
}

// Loads on 8 threads, lookups on 8 more, while api_rewriter.exe saves the
// settings and rewrites, appends and deletes accounts in another process:
// every lookup finds an account holding the alias it asked for.
TEST_F(SenderAgainstApi, LoadsAndLookupsRunWhileAnotherProcessWrites) {
  Start(0);
  std::vector<std::uint8_t> domainRecord(API_DOMAIN_RECORD_SIZE, 0);
  ASSERT_EQ(Api().AddDomain("a.test", domainRecord.data(), API_DOMAIN_RECORD_SIZE), 0);
  for (int i = 0; i < 10; ++i) {
    const std::string alias = "s" + std::to_string(i);
    ASSERT_EQ(Api().AddUser("a.test", Account(alias, alias).data(), API_ACCOUNT_RECORD_SIZE), 0);
  }
  Api().SaveConfig();
  Api().Done();
  PointBothKeysHere();
  ASSERT_TRUE(sender::LoadSendingConfig());

  constexpr int Seconds = 20;
  // The folder without its last "\\", which would escape the closing quote.
  const std::string folder = install.root.substr(0, install.root.size() - 1);
  std::string command =
      "\"" + Env("VM_API_REWRITER") + "\" \"" + Env("VM_API_DLL") + "\" \"" + folder + "\" " + std::to_string(Seconds);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION child{};
  ASSERT_TRUE(CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &child))
      << command;
  std::atomic<bool> stop{false};
  std::atomic<int> loads{0}, failedLoads{0}, lookups{0}, wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&] {
      while (!stop.load()) {
        (sender::LoadSendingConfig() ? loads : failedLoads)++;
      }
    });
    threads.emplace_back([&, t] {
      for (int n = 0; !stop.load(); ++n) {
        const std::string alias = "s" + std::to_string((t + n) % 10);
        core::AccountRecordBytes record{};
        const bool found = sender::FindAccountByAddress(alias + "@a.test", record, n % 2 == 0);
        if (!found || TextAt(record.data(), user::Aliases) != alias) wrong++;
        lookups++;
      }
    });
  }
  const DWORD waited = WaitForSingleObject(child.hProcess, (Seconds + 120) * 1000);
  stop = true;
  for (std::thread& thread : threads)
    thread.join();
  DWORD exitCode = 1;
  GetExitCodeProcess(child.hProcess, &exitCode);
  CloseHandle(child.hThread);
  CloseHandle(child.hProcess);
  EXPECT_EQ(waited, WAIT_OBJECT_0);
  EXPECT_EQ(exitCode, 0u);
  EXPECT_EQ(failedLoads.load(), 0);
  std::printf("%d loads, %d lookups\n", loads.load(), lookups.load());
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_GT(loads.load(), 8);
  EXPECT_GT(lookups.load(), 80);
}

}  // namespace
