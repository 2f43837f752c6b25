#include "core/startup/ConfigLoad.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "core/accounts/AccountCache.h"
#include "core/accounts/RecordCaches.h"
#include "core/antispam/AntiSpamSettings.h"
#include "core/config/ConfigStore.h"
#include "core/db/DbLibrary.h"
#include "core/domains/AddressChecks.h"
#include "core/domains/DomainBindings.h"
#include "core/domains/DomainTable.h"
#include "core/platform/Files.h"
#include "core/platform/Handles.h"
#include "core/platform/LockTable.h"
#include "tests/support/db_standin/StandinControl.h"
#include "tests/support/installation.h"

namespace {

using namespace core;

using namespace records;
using namespace records::settings;
using testinst::ReadAll;
using testinst::WriteAll;

std::string Entry(const std::string& name, std::uint8_t a = 0, std::uint8_t b = 0, std::uint8_t c = 0,
                  std::uint8_t d = 0) {
  return DomainEntry(name, Dotted(a, b, c, d));
}

std::uint8_t At(std::size_t o) { return Settings()[o]; }
std::uint32_t U16At(std::size_t o) { return UAt(Settings().data(), o, 2); }
std::uint32_t U32At(std::size_t o) { return UAt(Settings().data(), o, 4); }
std::string TextAt(std::size_t o) { return records::TextAt(Settings().data(), o); }

// Each test gets a fresh installation folder with its "config\" folder.
class ConfigLoadTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { CreateLockTable(true); }

  void settings(const Record& r, std::size_t length = SettingsSize) const {
    WriteAll(config + "settings.cfg", records::Scrambled(r.bytes.substr(0, length)));
  }
  void file(const std::string& name, const std::string& text) const { WriteAll(config + name, text); }
  // What Init does: folders, path overrides, then the load.
  bool load(bool missingIsFailure = true) const { return install.Load(missingIsFailure); }

  testinst::Installation install{"storetest"};
  const std::string root = install.root, config = install.config;
};

TEST_F(ConfigLoadTest, ShortFileKeepsTheTailOfTheImageAndOfThePreviousLoad) {
  ASSERT_FALSE(load());  // no file: the built-in image
  ASSERT_EQ(Settings(), BuiltInSettingsImage());
  SettingsFile r;
  for (std::size_t i = 20000; i < SettingsSize; ++i)
    r.U8(i, 0xA5);
  settings(r.Text(Id106, "short"), 20000);
  ASSERT_TRUE(load());
  EXPECT_EQ(TextAt(Id106), "short");
  for (std::size_t i = 20000; i < SettingsSize; ++i)
    ASSERT_EQ(At(i), BuiltInSettingsImage()[i]) << i;

  settings(r);
  ASSERT_TRUE(load());
  settings(r.Text(Id106, "again"), 20000);
  ASSERT_TRUE(load());
  EXPECT_EQ(TextAt(Id106), "again");
  for (std::size_t i = 20000; i < SettingsSize; ++i)
    ASSERT_EQ(At(i), 0xA5) << i;
}

TEST_F(ConfigLoadTest, ClampsAndDefaultsAreLoadedAndSaved) {
  SettingsFile r;
  r.U32(Id101, 1001).U32(Id102, 1000).U32(Id103, 5242881).U16(Id12, 77).U8(Id61, 1).U8(Id50, 1);
  settings(r.Text(Id73, "postmaster"));
  ASSERT_TRUE(load());
  using U32s = std::vector<std::uint32_t>;
  EXPECT_EQ((U32s{U32At(Id101), U32At(Id102), U32At(Id103)}), (U32s{0, 1000, 0}));
  EXPECT_EQ(U16At(Id31), 143);  // 0 takes the default
  EXPECT_EQ(U16At(Id12), 77);   // a set value stays
  EXPECT_EQ(TextAt(Id73), "postmaster");
  EXPECT_EQ(TextAt(Id74), "Mail Delivery Subsystem");
  EXPECT_EQ(At(Id50), 0);  // the switch pair: id 61 on turns id 50 off

  ASSERT_TRUE(SaveServerConfig());  // the default is what the save writes
  Record saved(0);
  saved.bytes = records::Scrambled(ReadAll(config + "settings.cfg"));
  ASSERT_EQ(saved.bytes.size(), SettingsSize);
  EXPECT_EQ(saved.ReadU16(Id31), 143);

  // Each bound stays, one above it goes, at every clamped offset.
  settings(SettingsFile().U32(Id101, 1000).U32(Id102, 1001).U32(Id103, 5242880));
  ASSERT_TRUE(load());
  EXPECT_EQ((U32s{U32At(Id101), U32At(Id102), U32At(Id103)}), (U32s{1000, 0, 5242880}));
}

TEST_F(ConfigLoadTest, FoldersListsConnectionTextAndPathOverrides) {
  SettingsFile r;
  r.Text(MailFolder, "D:\\mail")
      .Text(ArchiveFolder, std::string(240, 'a'))
      .Text(Id1, " a , b ,c ")
      .Text(Id90, "x.test, y.test");
  r.Text(Id2, "a; b").Text(Id124, " a;b ");
  r.Text(BackEndConnection, "  Server=db, 1433; User Id=mail  ").Text(PrefixText, " b");
  settings(r);
  file("..\\path.cfg", "\n\n\n  MX  \n");
  ASSERT_TRUE(load());
  EXPECT_EQ(TextAt(TempFolder), root + "temp\\");  // empty folders default under the root
  EXPECT_EQ(TextAt(MailFolder), "D:\\mail\\");
  EXPECT_EQ(TextAt(ArchiveFolder).size(), 240u);
  EXPECT_EQ(TextAt(Id1), "a;b;c");
  EXPECT_EQ(TextAt(Id90), "x.test;y.test");
  EXPECT_EQ(TextAt(Id2), "a;b");  // blanks go even without a ","
  EXPECT_EQ(TextAt(Id124), "a;b");
  EXPECT_EQ(TextAt(BackEndConnection), "Server=db, 1433; User Id=mail");
  EXPECT_EQ(MessageFilePrefix(), "MXb");
  EXPECT_EQ(AntiSpamFolder(), root + "Spam\\");

  settings(SettingsFile().Text(HostList, "host.test").Text(Id39, "old"));
  const std::string spam = root + "filter";
  file("..\\path.cfg", "# the first line is empty after its comment\n2\n3\n\n5\n" + spam +
                           "\n7\n8\n9\n relay.test | 192.0.2.9 \nmail.example.org\n");
  ASSERT_TRUE(load());
  EXPECT_EQ(ConfigFolder(), config);
  EXPECT_EQ(TextAt(Id39), "relay.test");
  EXPECT_EQ(TextAt(HostList), "mail.example.org");
  EXPECT_EQ(OutgoingBindAddress(), "192.0.2.9");
  EXPECT_EQ(AntiSpamFolder(), spam + "\\");

  // A first line naming a folder: that folder, with a trailing "\".
  const std::string other = root + "elsewhere";
  CreateDirectoryA(other.c_str(), nullptr);
  WriteAll(other + "\\settings.cfg", SettingsFile().Text(HostList, "other.test").Scrambled());
  file("..\\path.cfg", other + "\n");
  ASSERT_TRUE(load());
  EXPECT_EQ(ConfigFolder(), other + "\\");
  EXPECT_EQ(TextAt(HostList), "other.test");  // and the overrides of the earlier file are gone
  EXPECT_EQ(OutgoingBindAddress(), "");
}

TEST_F(ConfigLoadTest, LoadSaveLoadIsAFixpointAndLeavesNoTemporaryFile) {
  settings(SettingsFile(2).Text(HostList, "a.test, b.test").U32(Id101, 5000));
  file("domains.cfg", Entry("One.Test") + Entry("two.test", 192, 0, 2, 1));
  ASSERT_TRUE(load());
  ASSERT_TRUE(SaveServerConfig());
  const std::string first = ReadAll(config + "settings.cfg");
  const std::string domains = ReadAll(config + "domains.cfg");
  ASSERT_TRUE(load());
  ASSERT_TRUE(SaveServerConfig());
  EXPECT_EQ(ReadAll(config + "settings.cfg"), first);
  EXPECT_EQ(ReadAll(config + "domains.cfg"), domains);
  EXPECT_EQ(domains.substr(0, 9), std::string("\x08one.test", 9));

  int files = 0;
  WIN32_FIND_DATAA found{};
  HANDLE search = FindFirstFileA((config + "*").c_str(), &found);
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  do {
    files += (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? 0 : 1;
  } while (FindNextFileA(search, &found));
  FindClose(search);
  EXPECT_EQ(files, 2) << "temporary files left behind";
}

TEST_F(ConfigLoadTest, OtherThreadsNeverSeeTheRecordScrambled) {
  settings(SettingsFile().Text(Id73, "postmaster"));
  ASSERT_TRUE(load());
  std::atomic<bool> done{false};
  std::atomic<int> wrong{0};
  std::thread reader([&] {
    const volatile std::uint8_t* length = &Settings()[Id73];
    while (!done.load()) {
      if (*length != 10) ++wrong;
    }
  });
  for (int i = 0; i < 30; ++i) {
    load();
    SaveServerConfig();
  }
  done.store(true);
  reader.join();
  EXPECT_EQ(wrong.load(), 0);
}

TEST_F(ConfigLoadTest, MissingAndLockedSettingsFile) {
  settings(SettingsFile().Text(HostList, "kept.test"));
  ASSERT_TRUE(load());
  // Locked by another writer: the load fails and nothing overwrites the file.
  const std::string name = config + "settings.cfg";
  const std::string before = ReadAll(name);
  HANDLE lock = CreateFileA(name.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(lock, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(load());
  EXPECT_TRUE(SettingsFileUnreadable());
  CloseHandle(lock);
  EXPECT_FALSE(SaveServerConfig());
  EXPECT_EQ(ReadAll(name), before);
  ASSERT_TRUE(load());
  EXPECT_TRUE(SaveServerConfig());

  // Missing: a failure when asked to, and the built-in defaults.
  DeleteFileA(name.c_str());
  EXPECT_FALSE(load(true));
  EXPECT_EQ(Settings(), BuiltInSettingsImage());
  EXPECT_EQ(core::DomainCount(), 0u);
  EXPECT_TRUE(load(false));
}

TEST_F(ConfigLoadTest, DomainTableFromBothSourcesAndCountBounds) {
  // Older installations: the list inside "settings.cfg" from byte 20,344, scrambled from key index 8.
  SettingsFile r(2);
  const std::string legacy =
      records::Scrambled(r.bytes.substr(0, LegacyDomains)) + records::Scrambled(Entry("OLD.test") + Entry("b.test"), 8);
  WriteAll(config + "settings.cfg", legacy + std::string(SettingsSize - legacy.size(), '\0'));
  ASSERT_TRUE(load());
  EXPECT_EQ(DomainListGetName(0), "old.test");
  EXPECT_EQ(DomainListFind("B.TEST"), 1);
  ASSERT_TRUE(SaveServerConfig());
  EXPECT_EQ(ReadAll(config + "domains.cfg").size(), 192u);

  // A count beyond what the file holds keeps the missing entries empty.
  settings(r.U32(settings::DomainCount, 3));
  file("domains.cfg", Entry("a.test", 10, 0, 0, 1) + std::string(50, 'x'));
  ASSERT_TRUE(load());
  EXPECT_EQ(core::DomainCount(), 3u);
  EXPECT_EQ(DomainListGetIP(0), "10.0.0.1");
  EXPECT_EQ(DomainListGetName(2), "");

  // A damaged count is capped, not trusted for an allocation; a negative
  // one is no count at all.
  settings(r.U32(settings::DomainCount, 2000000));
  ASSERT_TRUE(load());
  EXPECT_EQ(core::DomainCount(), MaxDomainEntries);
  EXPECT_EQ(DomainListGetName(0), "a.test");
  settings(r.U32(settings::DomainCount, 0xFFFFFFFFu));
  ASSERT_TRUE(load());
  EXPECT_EQ(core::DomainCount(), 0u);
}

TEST_F(ConfigLoadTest, GlobalAndDomainBindings) {
  settings(SettingsFile(3));
  file("domains.cfg", Entry("a.test", 255, 255, 255, 255) + Entry("b.test", 192, 0, 2, 8) + Entry("c.test"));
  CreateDirectoryA((config + "a.test").c_str(), nullptr);
  CreateDirectoryA((config + "c.test").c_str(), nullptr);
  file("a.test\\bind.dat", "   192.0.2.7   \r\n");
  file("bind.dat",
       "# outgoing\r\n\r\nOutgoing_BIND = 192.0.2.1 ; 192.0.2.2\r\nnoequals\r\n"
       "IPv6_Bind=2001:db8::1; 2001:db8::2\r\n");
  ASSERT_TRUE(load());
  EXPECT_EQ(OutgoingBindAddress(), "192.0.2.1");
  EXPECT_EQ(IPv6BindList(), "2001:db8::1;2001:db8::2");
  EXPECT_EQ(ReadDomainBind(0), "192.0.2.7");  // the marker counts as no address
  EXPECT_EQ(ReadDomainBind(1), "192.0.2.8");
  EXPECT_EQ(ReadDomainBind(2), "");
  EXPECT_TRUE(UsesDomainBinding());

  WriteDomainBind(2, "  198.51.100.1;198.51.100.2 ", false);
  EXPECT_EQ(ReadAll(config + "c.test\\bind.dat"), "198.51.100.1;198.51.100.2\r\n");
  EXPECT_EQ(DomainListGetIP(2), "255.255.255.255");
  EXPECT_EQ(ReadDomainBind(2), "198.51.100.1;198.51.100.2");

  WriteDomainBind(0, "", false);
  EXPECT_FALSE(FileExists(config + "a.test\\bind.dat"));
  EXPECT_EQ(ReadDomainBind(0), "");
  EXPECT_TRUE(UsesDomainBinding());  // remembered until the next load
  // An index outside the table never reaches the global "bind.dat".
  WriteDomainBind(7, "", false);
  EXPECT_TRUE(FileExists(config + "bind.dat"));
}

TEST_F(ConfigLoadTest, AddressListsDomainShieldAndRelayFile) {
  settings(SettingsFile(1).U8(DomainShield, 1));
  file("domains.cfg", Entry("shield.test"));
  ASSERT_TRUE(load());
  EXPECT_EQ(IPInList("10.1.*.*", "10.1.2.3"), 1);
  EXPECT_EQ(IPInList("10.1.*.*", "10.2.2.3"), 0);
  EXPECT_EQ(IPInList(" 192.0.2.1 ; 192.168.1.10-30 ", "192.168.1.20"), 1);
  EXPECT_EQ(IPInList("10.0.0.0/8", "10.200.1.1"), 1);
  EXPECT_EQ(IPInList("192.0.2.30", "192.0.2.3"), 0);

  // Without "domainshield.dat" a served domain admits every address.
  EXPECT_EQ(IPInList("user@shield.test", "203.0.113.5"), 1);
  EXPECT_EQ(IPInList("other.test", "203.0.113.5"), 0);
  file("domainshield.dat", "# shields\r\nSHIELD.test = 198.51.100.*; 203.0.113.0/24\r\nopen.test=192.0.2.1\r\n");
  EXPECT_EQ(CheckDomainShield("shield.test", "203.0.113.5"), 1);
  EXPECT_EQ(CheckDomainShield("shield.test", "192.0.2.1"), 0);
  EXPECT_EQ(CheckDomainShield("unlisted.test", "192.0.2.1"), 1);
  EXPECT_EQ(IPInList("@shield.test", "192.0.2.1"), 0);
  EXPECT_EQ(IPInList("@shield.test", "198.51.100.1"), 1);
  Settings()[DomainShield] = 0;  // shield check off: domain items admit nothing
  EXPECT_EQ(IPInList("@shield.test", "198.51.100.1"), 0);

  EXPECT_EQ(CheckRelayIP("10.9.1.1", "", true, ""), 0);  // no relay file
  file("relay.dat", "# relays\r\n\r\n192.0.2.1\r\n172.16-31.*.*; 10.9.*.*\r\n");
  EXPECT_EQ(CheckRelayIP("10.9.1.1", "", true, ""), 1);
  EXPECT_EQ(CheckRelayIP("10.9.1.1", "", false, ""), 0);
  EXPECT_EQ(CheckRelayIP("10.9.1.1", "198.51.100.1", true, root + "none.dat"), 0);
  EXPECT_EQ(CheckRelayIP("198.51.100.1", "198.51.100.1", false, ""), 1);
}

TEST_F(ConfigLoadTest, ProcessorAffinityAndCacheSizing) {
  DWORD_PTR process = 0;
  DWORD_PTR system = 0;
  settings(SettingsFile().U8(FirstProcessor, 1));
  ASSERT_TRUE(load());
  ASSERT_TRUE(GetProcessAffinityMask(GetCurrentProcess(), &process, &system));
  EXPECT_EQ(process, 1u);
  settings(SettingsFile());
  ASSERT_TRUE(load());
  ASSERT_TRUE(GetProcessAffinityMask(GetCurrentProcess(), &process, &system));
  EXPECT_EQ(process, system);

  SetRequestedCacheCounts(0, 0);
  ASSERT_TRUE(load());  // 0 MB takes the default of 10
  EXPECT_EQ(AccountCacheSize(), 1227u);
  SetRequestedCacheCounts(0, 0);
  settings(SettingsFile().U32(CacheMegabytes, 0xFFFFFFFFu));  // capped, allocated or left empty
  ASSERT_TRUE(load());
  EXPECT_LE(AccountCacheSize(), MaxCacheEntries);
  SetRequestedCacheCounts(0, 0);
  FreeRecordCaches();
}

TEST_F(ConfigLoadTest, DatabaseBackEndNotBeforeTheStopAndTakesDomainBindings) {
  ASSERT_TRUE(CopyFileA(testinst::HostPath(DB_STANDIN_PATH).c_str(), (root + "DB.dll").c_str(), FALSE));
  settings(SettingsFile(1).U8(StorageMode, 2));
  file("domains.cfg", Entry("db.test"));
  SetRootFolder(root);
  SetConfigFolder(config);
  ASSERT_TRUE(InitServerConfig(true, true));
  EXPECT_FALSE(IsDBLoaded());
  ASSERT_TRUE(load());
  ASSERT_TRUE(IsDBLoaded());

  WriteDomainBind(0, "192.0.2.50", true);
  EXPECT_EQ(DomainListGetIP(0), "255.255.255.255");
  const auto callLog = reinterpret_cast<standin::CallLogProc>(
      reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleA((root + "DB.dll").c_str()), "StandinCallLog")));
  ASSERT_NE(callLog, nullptr);
  std::string calls(4096, '\0');
  callLog(calls.data(), static_cast<std::int32_t>(calls.size()));
  EXPECT_NE(calls.find("DBSetDomainIP"), std::string::npos);
  UnloadDBLibrary();
  SetDomainReloadPending(false);
}

std::vector<SpamRulesRequest> g_rulesCalls;

TEST_F(ConfigLoadTest, AntiSpamSettingsWithTheirRulesStepAndTheChallengeSwitch) {
  ASSERT_TRUE(CopyFileA(testinst::HostPath(DB_STANDIN_PATH).c_str(), (root + "DB.dll").c_str(), FALSE));
  SetSpamRulesStep([](const SpamRulesRequest& request) { g_rulesCalls.push_back(request); });
  settings(SettingsFile());
  const std::string spam = root + "Spam\\";
  CreateDirectoryA(spam.c_str(), nullptr);
  struct Row {
    std::string file;
    bool connected;
    std::vector<std::string> rules;  // folder and skip switch of each rules step
  };
  const std::string rulesElsewhere = "D:\\" + std::string(300, 'r');
  const Row rows[] = {
      {"SpamChallenge=1\r\nSpamUpdateTime=24:00\r\nSpamAssassinNoCustom=1\r\n", true, {spam + "Rules\\", "1"}},
      {"SpamAssassinEnabled=0\r\nSpamChallenge=0\r\n", false, {}},
      {"SpamAssassinEnabled=1\r\nSpamAssassinNoCustom=0\r\nSpamAssassinRulesPath=" + rulesElsewhere + "\r\n",
       false,
       {rulesElsewhere.substr(0, 255), "0"}},
  };
  for (const Row& row : rows) {
    WriteAll(spam + "spam.dat", row.file);
    g_rulesCalls.clear();
    ASSERT_TRUE(load());
    EXPECT_EQ(IsDBLoaded(), row.connected) << row.file;
    std::vector<std::string> rules;
    for (const SpamRulesRequest& call : g_rulesCalls) {
      rules.push_back(call.rulesFolder);
      rules.push_back(call.skipCustom ? "1" : "0");
    }
    EXPECT_EQ(rules, row.rules) << row.file;
    UnloadDBLibrary();
    SetDomainReloadPending(false);
  }
  SetSpamRulesStep(nullptr);

  // Written back through a temporary: the keys read so rulesElsewhere, nothing left over.
  LoadSaveSpamSettings({}, SpamDatWrite, false);
  const std::string written = ReadAll(spam + "spam.dat");
  EXPECT_NE(written.find("\r\nSpamUpdateTime=0:00\r\nSpamUseCustomDB=1\r\n"), std::string::npos);
  EXPECT_NE(written.find("\r\nSpamAssassinRulesPath=" + rulesElsewhere + "\r\n"), std::string::npos);
  WIN32_FIND_DATAA found;
  UniqueFindHandle listing(FindFirstFileA((spam + "*").c_str(), &found));
  int entries = 0;
  if (listing) do
      ++entries;
    while (FindNextFileA(listing.get(), &found));
  EXPECT_EQ(entries, 3);  // ".", ".." and spam.dat

  // A file nobody may share: the write throws and the old bytes stay.
  UniqueHandle held(CreateFileA((spam + "spam.dat").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(held);
  EXPECT_THROW(LoadSaveSpamSettings({}, SpamDatWrite, false), std::runtime_error);
  held.reset();
  EXPECT_EQ(ReadAll(spam + "spam.dat"), written);
}

}  // namespace
