// The account and remote-account store under Wine: files written and read by
// an independent script, the edge cases of writes and deletions, the cache,
// the walk, the back end in storage mode 2, and many threads at once.
#include "core/accounts/AccountStore.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "core/accounts/AccountCache.h"
#include "core/accounts/AccountHooks.h"
#include "core/config/ConfigStore.h"
#include "core/control/ServiceControl.h"
#include "core/db/DbInterface.h"
#include "core/db/DbLibrary.h"
#include "core/platform/Files.h"
#include "core/platform/InstallationLock.h"
#include "core/platform/LockTable.h"
#include "core/platform/RecordCacheTable.h"
#include "core/platform/System.h"
#include "core/startup/ConfigLoad.h"
#include "tests/support/db_standin/StandinControl.h"
#include "tests/support/fake_services.h"
#include "tests/support/installation.h"

namespace {

using namespace core;

using namespace testinst;

AccountRecordBytes Account(const std::string& aliases, const std::string& password = "pw", std::uint8_t kind = 0) {
  return NewAccount{
      .aliases = aliases, .mailbox = aliases.substr(0, aliases.find(';')), .password = password, .kind = kind}
      .Make<AccountRecordBytes>();
}

std::chrono::steady_clock::time_point g_cacheNow{};
std::chrono::steady_clock::time_point CacheClock() { return g_cacheNow; }

class AccountTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    CreateLockTable(true);
    InitPlatformUnit();
  }
  void TearDown() override {
    UnloadDBLibrary();
    SizeAccountCache(0);
    SetRecordCacheClock(nullptr);
    SetSyncUserHook({});
  }
  // One domain "a.test" in the given storage mode; loads the configuration.
  void Install(std::uint8_t storageMode = 1, std::uint8_t directorySync = 0) {
    ASSERT_TRUE(install.Install(SettingsFile(1)
                                    .U8(settings::StorageMode, storageMode)
                                    .U8(settings::DirectorySync, directorySync)
                                    .U8(settings::DirectoryConfigured, directorySync),
                                {"a.test"}));
  }
  std::string Users() const { return config + "a.test\\users.cfg"; }
  std::vector<std::string> Aliases() const {
    std::vector<std::string> out;
    AccountRecordBytes r{};
    const std::int32_t count = ReadAccountRecord(0, r, -1);
    for (std::int32_t i = 0; i < count; ++i) {
      ReadAccountRecord(0, r, i);
      out.push_back(TextAt(r.data(), user::Aliases));
    }
    return out;
  }

  testinst::Installation install{"acctest"};
  const std::string& root = install.root;
  const std::string& config = install.config;
};

TEST_F(AccountTest, FilesOfTheIndependentWriterReadAndWrittenBack) {
  const char* fixtures = std::getenv("VM_ACCOUNT_FIXTURES");
  ASSERT_NE(fixtures, nullptr);
  const std::string from = HostPath(fixtures) + "\\config\\";
  Install();
  CreateDirectoryA((config + "a.test").c_str(), nullptr);
  ASSERT_TRUE(CopyFileA((from + "a.test\\users.cfg").c_str(), Users().c_str(), FALSE));
  ASSERT_TRUE(CopyFileA((from + "remote.cfg").c_str(), (config + "remote.cfg").c_str(), FALSE));

  AccountRecordBytes r{};
  ASSERT_EQ(ReadAccountRecord(0, r, 1), 3);  // the partial tail is no account
  EXPECT_EQ(TextAt(r.data(), user::Password),
            "s\xE9"
            "cret");
  EXPECT_EQ(FindAccountIndex(0, "x;ANNA.b"), 0);
  EXPECT_EQ(FindAccountIndex(0, "nobody"), -1);
  SetAccountGroupTest(
      [](std::string_view item, std::string_view group) { return group == "[staff]" && item == "zoe"; });
  EXPECT_EQ(FindAccountIndex(0, "zoe"), 2);  // through the group in account 2's list
  SetAccountGroupTest({});
  RemoteAccountRecordBytes remote{};
  EXPECT_EQ(ReadRemoteAccounts(remote, 0), 2);
  EXPECT_EQ(TextAt(remote.data(), remote::Name), "pop1");

  ReadAccountRecord(0, r, 0);
  PutText(r.data(), user::Password, "changed");
  ASSERT_TRUE(WriteAccountRecord(0, r, 0));
  ASSERT_TRUE(DeleteAccountRecord(0, 1));
  ReadAccountRecord(0, r, 1);
  PutText(r.data(), user::Aliases, "cy-new;[Staff]");
  ASSERT_TRUE(WriteAccountRecord(0, r, 1));
  ASSERT_TRUE(WriteAccountRecord(0, Account("dan", "d"), -1));
  ASSERT_TRUE(DeleteRemoteAccount(0));
  RemoteAccountRecordBytes pop3{};
  PutText(pop3.data(), remote::Name, "pop3");
  ASSERT_TRUE(WriteRemoteAccount(pop3, -1));

  const std::string written = HostPath(fixtures) + "\\written\\";
  CreateDirectoryA(written.c_str(), nullptr);
  ASSERT_TRUE(CopyFileA(Users().c_str(), (written + "users.cfg").c_str(), FALSE));
  ASSERT_TRUE(CopyFileA((config + "remote.cfg").c_str(), (written + "remote.cfg").c_str(), FALSE));
}

TEST_F(AccountTest, AppendsRefusalsAndDeletionsKeepOrderAndNeverTouchTheCallersRecord) {
  Install();
  const AccountRecordBytes first = Account("one");
  AccountRecordBytes copy = first;
  ASSERT_TRUE(WriteAccountRecord(0, copy, 0));  // index 0 of a missing file creates it
  EXPECT_EQ(copy, first);
  ASSERT_TRUE(WriteAccountRecord(0, Account("two"), -1));
  ASSERT_TRUE(WriteAccountRecord(0, Account("three"), 2));  // the count appends too
  EXPECT_FALSE(WriteAccountRecord(0, Account("four"), 4));  // a gap would unscramble into garbage
  EXPECT_FALSE(WriteAccountRecord(0, Account("four"), -2));
  EXPECT_FALSE(WriteAccountRecord(0, Account(""), -1));
  EXPECT_EQ(Aliases(), (std::vector<std::string>{"one", "two", "three"}));

  AccountRecordBytes untouched = Account("marker");
  EXPECT_EQ(ReadAccountRecord(0, untouched, 7), 3);
  EXPECT_EQ(untouched, Account("marker"));

  EXPECT_FALSE(DeleteAccountRecord(0, -1));
  EXPECT_FALSE(DeleteAccountRecord(0, 3));
  ASSERT_TRUE(DeleteAccountRecord(0, 1));
  EXPECT_EQ(Aliases(), (std::vector<std::string>{"one", "three"}));
  {
    // Held by another program without delete sharing: the deletion fails
    // and the file stays as it was, with no temporary file left.
    HANDLE held = CreateFileA(Users().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(DeleteAccountRecord(0, 0));
    CloseHandle(held);
  }
  EXPECT_EQ(Aliases(), (std::vector<std::string>{"one", "three"}));
  EXPECT_FALSE(FileExists(Users() + ".tmp"));
}

TEST_F(AccountTest, DataFilesAndRemoteCompanionsGoOnlyInsideTheRootAfterTheCommit) {
  Install();
  CreateDirectoryA((root + "data").c_str(), nullptr);
  const std::string outside = root.substr(0, root.size() - 1) + "-outside.dat";
  for (const std::string& file : {root + "data\\k3.dat", outside, config + "state1", config + "state1.hdr",
                                  config + "state1.dom", config + "state1.rt", config + "keep.dat"})
    WriteAll(file, "x");
  AccountRecordBytes kind3 = Account("k3", "p", 3);
  PutText(kind3.data(), user::Kind3File, root + "data\\k3.dat");
  AccountRecordBytes escape = Account("esc", "p", 4);
  PutText(escape.data(), user::Kind4File, "..\\..\\" + outside.substr(outside.find_last_of('\\') + 1));
  ASSERT_TRUE(WriteAccountRecord(0, kind3, -1));
  ASSERT_TRUE(WriteAccountRecord(0, escape, -1));
  ASSERT_TRUE(DeleteAccountRecord(0, 0));
  EXPECT_FALSE(FileExists(root + "data\\k3.dat"));
  ASSERT_TRUE(DeleteAccountRecord(0, 0));
  EXPECT_TRUE(FileExists(outside));  // outside the installation: left alone
  DeleteFileA(outside.c_str());

  RemoteAccountRecordBytes remote{};
  PutText(remote.data(), remote::StateFile, "state1");
  ASSERT_TRUE(WriteRemoteAccount(remote, -1));
  EXPECT_FALSE(DeleteRemoteAccount(1));  // past the end: nothing, and no success
  ASSERT_TRUE(DeleteRemoteAccount(0));
  for (const char* name : {"state1", "state1.hdr", "state1.dom", "state1.rt"})
    EXPECT_FALSE(FileExists(config + name)) << name;
  EXPECT_TRUE(FileExists(config + "keep.dat"));
}

TEST_F(AccountTest, ThePasswordChangedWithinTheSameTickIsNotServedFromTheCache) {
  Install();
  SizeAccountCache(8);
  ASSERT_TRUE(WriteAccountRecord(0, Account("ann", "old"), -1));
  // What an authentication does: stamp, read, store.
  const AccountFileStamp before = CurrentAccountFileStamp("a.test");
  AccountRecordBytes r{};
  ReadAccountRecord(0, r, 0);
  StoreAccountCache("ann", "a.test", before, r);
  AccountRecordBytes hit{};
  ASSERT_TRUE(LookUpAccountCache("ann", "a.test", CurrentAccountFileStamp("a.test"), false, hit));
  EXPECT_EQ(TextAt(hit.data(), user::Password), "old");

  ASSERT_TRUE(WriteAccountRecord(0, Account("ann", "new"), 0));  // same size, same second
  EXPECT_FALSE(LookUpAccountCache("ann", "a.test", CurrentAccountFileStamp("a.test"), false, hit));
  // Another program's rewrite of the same size within the tick shows in the full file time.
  const AccountFileStamp again = CurrentAccountFileStamp("a.test");
  StoreAccountCache("ann", "a.test", again, Account("ann", "new"));
  Sleep(20);
  const std::string bytes = ReadAll(Users());
  WriteAll(Users(), bytes);
  EXPECT_FALSE(LookUpAccountCache("ann", "a.test", CurrentAccountFileStamp("a.test"), false, hit));
  // The fast mode trusts a fresh entry for 30 seconds.
  StoreAccountCache("ann", "a.test", CurrentAccountFileStamp("a.test"), Account("ann", "fast"));
  EXPECT_TRUE(LookUpAccountCache("ann", "a.test", AccountFileStamp{}, true, hit));
  EXPECT_EQ(AccountCacheKey(Account("Ann;b").data()), "ann");
}

// A full cache gives up the entry used longest ago; a fast entry is trusted
// for 30 seconds after its store, however often it is asked for meanwhile.
TEST_F(AccountTest, TheCacheReplacesItsOldestEntryAndFastEntriesAgeOut) {
  using std::chrono::seconds;
  Install();
  SizeAccountCache(2);
  SetRecordCacheClock(&CacheClock);
  g_cacheNow = std::chrono::steady_clock::time_point(std::chrono::hours(1));
  const AccountFileStamp stamp = CurrentAccountFileStamp("a.test");
  AccountRecordBytes hit{};
  StoreAccountCache("k1", "a.test", stamp, Account("k1"));
  g_cacheNow += seconds(1);
  StoreAccountCache("k2", "a.test", stamp, Account("k2"));
  g_cacheNow += seconds(1);
  ASSERT_TRUE(LookUpAccountCache("k1", "a.test", stamp, false, hit));  // k2 is now the oldest
  g_cacheNow += seconds(1);
  StoreAccountCache("k3", "a.test", stamp, Account("k3"));
  const std::pair<const char*, bool> kept[] = {{"k1", true}, {"k2", false}, {"k3", true}};
  for (const auto& [key, expected] : kept)
    EXPECT_EQ(LookUpAccountCache(key, "a.test", stamp, false, hit), expected) << key;

  // Seconds since the previous probe and whether a fast look-up hits: a hit
  // does not extend the entry (30 s after its store it is gone); a new store does.
  const std::pair<int, bool> ages[] = {{10, true}, {10, true}, {10, true}, {1, false}};
  for (const auto& [age, expected] : ages) {
    g_cacheNow += seconds(age);
    EXPECT_EQ(LookUpAccountCache("k3", "a.test", AccountFileStamp{}, true, hit), expected) << age;
  }
  StoreAccountCache("k3", "a.test", stamp, Account("k3"));
  g_cacheNow += seconds(30);
  EXPECT_TRUE(LookUpAccountCache("k3", "a.test", AccountFileStamp{}, true, hit));
}

TEST_F(AccountTest, WalksAndDirectorySyncSeeTheRightRecords) {
  Install(1, 1);
  std::vector<std::pair<int, std::string>> synced;
  SetSyncUserHook(
      [&](SyncMode mode, const AccountRecordBytes& record, const AccountRecordBytes* replaced, std::string_view) {
        synced.emplace_back(static_cast<int>(mode),
                            TextAt(record.data(), user::Password) +
                                (replaced != nullptr ? "<" + TextAt(replaced->data(), user::Password) : ""));
      });
  ASSERT_TRUE(WriteAccountRecord(0, Account("a", "1"), -1));
  ASSERT_TRUE(WriteAccountRecord(0, Account("b", "2"), -1));
  ASSERT_TRUE(WriteAccountRecord(0, Account("a", "3"), 0));
  ASSERT_TRUE(DeleteAccountRecord(0, 1));
  EXPECT_EQ(synced, (std::vector<std::pair<int, std::string>>{{0, "1"}, {0, "2"}, {1, "3<1"}, {2, "2"}}));

  for (int i = 0; i < 100; ++i)
    WriteAccountRecord(0, Account("w" + std::to_string(i)), -1);
  std::vector<std::uint8_t> block(AccountEnumerationSize, 0xEE), other(AccountEnumerationSize);
  EXPECT_EQ(NextUser(other.data()), 1);                      // never opened: at its end
  ASSERT_TRUE(InitUsers("a.test", block.data(), "", 0, 2));  // skips two
  int seen = 0;
  std::int32_t position = 0;
  while (NextUser(block.data()) == 0) {
    std::memcpy(&position, &block[DbEnumPositionOffset], 4);
    EXPECT_EQ(position, seen + 2);
    ++seen;
  }
  EXPECT_EQ(seen, 99);
  EXPECT_EQ(TextAt(block.data(), DbEnumDomainOffset), "a.test");
  DoneUsers(block.data());
  EXPECT_EQ(NextUser(block.data()), 1);
  EXPECT_FALSE(InitUsers("nowhere.test", block.data(), "", 0, 0));
}

TEST_F(AccountTest, ManyThreadsLeaveExactlyTheAccountsTheModelSays) {
  Install();
  std::vector<std::set<std::string>> kept(8);
  std::atomic<int> torn{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 40; ++i) {
        const std::string alias = "t" + std::to_string(t) + "-" + std::to_string(i);
        if (!WriteAccountRecord(0, Account(alias, alias), -1)) ++torn;
        kept[t].insert(alias);
        AccountRecordBytes r{};
        const std::int32_t count = ReadAccountRecord(0, r, i % 7);
        if (count > 0 && TextAt(r.data(), user::Password) != TextAt(r.data(), user::Aliases)) ++torn;
        if (i % 3 == 0) {
          // Find and delete one of this thread's own, as one step (the
          // caller's installation hold keeps the index from moving in between).
          InstallationHold hold;
          const std::string victim = *kept[t].begin();
          const std::int32_t index = FindAccountIndex(0, victim);
          if (index < 0 || !DeleteAccountRecord(0, index)) ++torn;
          kept[t].erase(victim);
        }
      }
    });
  }
  for (std::thread& thread : threads)
    thread.join();
  EXPECT_EQ(torn.load(), 0);
  std::set<std::string> expected, found;
  for (const auto& own : kept)
    expected.insert(own.begin(), own.end());
  for (const std::string& alias : Aliases())
    found.insert(alias);
  EXPECT_EQ(found, expected);
  EXPECT_EQ(ReadAll(Users()).size() % AccountRecordSize, 0u);
}

TEST_F(AccountTest, StorageModeTwoWithoutABackEndFindsAndWritesNothing) {
  Install(2);
  AccountRecordBytes r{};
  EXPECT_EQ(ReadAccountRecord(0, r, 0), 0);
  EXPECT_EQ(FindAccountIndex(0, "x"), -1);
  EXPECT_FALSE(WriteAccountRecord(0, Account("x"), -1));
  std::vector<std::uint8_t> block(AccountEnumerationSize);
  EXPECT_FALSE(InitUsers("a.test", block.data(), "", 0, 0));
}

// The same sequence against the test stand-in and the real back end; both
// are filled through the entry points only.
class AccountBackEndTest : public AccountTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(AccountBackEndTest, StorageModeTwoGoesThroughTheBackEnd) {
  CopyFileA(HostPath(GetParam()).c_str(), (root + "DB.dll").c_str(), FALSE);
  Install(2);
  HMODULE db = GetModuleHandleA((root + "DB.dll").c_str());
  ASSERT_NE(db, nullptr);
  const auto add = reinterpret_cast<DBAddDomainProc>(reinterpret_cast<void*>(GetProcAddress(db, "DBAddDomain")));
  ASSERT_EQ(add("a.test"), 1);
  ASSERT_TRUE(WriteAccountRecord(0, Account("ann;anna", "p1"), -1));
  ASSERT_TRUE(WriteAccountRecord(0, Account("bob", "p2"), -1));
  AccountRecordBytes r{};
  EXPECT_EQ(ReadAccountRecord(0, r, 1), 2);
  EXPECT_EQ(TextAt(r.data(), user::Aliases), "bob");
  EXPECT_EQ(FindAccountIndex(0, "ANNA"), 0);
  // The stand-in also logs its calls: the names since the last look.
  const auto callLog =
      reinterpret_cast<standin::CallLogProc>(reinterpret_cast<void*>(GetProcAddress(db, "StandinCallLog")));
  std::size_t seen = 0;
  const auto callsSince = [&] {
    std::string log(1 << 16, '\0');
    log.resize(std::min(log.size(), static_cast<std::size_t>(callLog(log.data(), 1 << 16))));
    std::string names;
    for (std::size_t at = seen; at < log.size();) {
      const std::size_t end = std::min(log.find('\n', at), log.size());
      names += log.substr(at, log.find(' ', at) - at) + ";";
      at = end + 1;
    }
    seen = log.size();
    return names;
  };
  if (callLog != nullptr) callsSince();
  EXPECT_FALSE(DeleteAccountRecord(0, 5));  // nothing found: nothing deleted
  if (callLog != nullptr) {
    EXPECT_EQ(callsSince().find("DBDeleteUsers"), std::string::npos);
  }
  std::vector<std::uint8_t> block(AccountEnumerationSize);
  ASSERT_TRUE(InitUsers("a.test", block.data(), "", 0, 0));
  Settings()[settings::StorageMode] = 1;  // the mode changes while the walk is open
  int walked = 0;
  while (NextUser(block.data()) == 0)
    ++walked;
  EXPECT_EQ(walked, 2);
  DoneUsers(block.data());
  Settings()[settings::StorageMode] = 2;
  if (callLog != nullptr) callsSince();
  ASSERT_TRUE(DeleteAccountRecord(0, 0));
  if (callLog != nullptr) {
    EXPECT_NE(callsSince().find("DBGetUsers;DBDeleteUsers;"), std::string::npos);
  }
  EXPECT_EQ(ReadAccountRecord(0, r, 0), 1);
  EXPECT_EQ(TextAt(r.data(), user::Aliases), "bob");
  EXPECT_FALSE(FileExists(config + "a.test\\users.cfg"));  // the back end holds the accounts

  // No file stamp changes here: each change itself ends the cached copy.
  SizeAccountCache(4);
  const std::function<bool()> changes[] = {[] { return WriteAccountRecord(0, Account("bob", "p3"), 0); },
                                           [] { return DeleteAccountRecord(0, 0); }};
  for (const auto& change : changes) {
    StoreAccountCache("bob", "a.test", CurrentAccountFileStamp("a.test"), Account("bob", "cached"));
    ASSERT_TRUE(LookUpAccountCache("bob", "a.test", CurrentAccountFileStamp("a.test"), false, r));
    ASSERT_TRUE(change());
    EXPECT_FALSE(LookUpAccountCache("bob", "a.test", CurrentAccountFileStamp("a.test"), false, r));
  }
}

INSTANTIATE_TEST_SUITE_P(BackEnds, AccountBackEndTest, ::testing::Values(DB_STANDIN_PATH, DB_BACKEND_PATH));

TEST_F(AccountTest, ARemoteAccountWriteTellsThePop3Service) {
  fake::FakeServiceSet services;
  ASSERT_TRUE(services.AddRunning({ServerPop3})) << services.Error();
  Install();
  RemoteAccountRecordBytes remote{};
  PutText(remote.data(), remote::Name, "pop");
  ASSERT_TRUE(WriteRemoteAccount(remote, -1));
  ASSERT_TRUE(services.WaitForRecords(ServerPop3, 1));
  EXPECT_EQ(services.Records(ServerPop3)[0].Message(), ConfigChangedMessage);
  EXPECT_FALSE(WriteRemoteAccount(remote, 5));  // past the end of one record
  EXPECT_EQ(ReadAll(config + "remote.cfg").size(), 1828u);
  ASSERT_TRUE(DeleteRemoteAccount(0));
  ASSERT_TRUE(services.WaitForRecords(ServerPop3, 2));
  EXPECT_EQ(services.Records(ServerPop3)[1].Message(), ConfigChangedMessage);
}

}  // namespace
