#include "core/db/DbLibrary.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "core/config/LockTable.h"
#include "tests/support/db_standin/StandinControl.h"

namespace {

using namespace core;
using Bytes = std::vector<std::uint8_t>;

const char* const Fixture =
    "domain|a.test\n"
    "domain|b.test\n"
    "account|a.test|john;jd|john|pw1\n"
    "account|a.test|mary|mary|pw2\n"
    "account|b.test|bob|bob|pw3\n";

// Build paths are host paths; Wine sees the host's root as drive Z:.
std::string WindowsPath(std::string path) {
  if (!path.empty() && path[0] == '/') path = "Z:" + path;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

// A fresh folder under the temporary folder, holding a copy of a stand-in
// as "DB.dll" (or, with no source, nothing).
class TempRoot {
 public:
  explicit TempRoot(const char* source) {
    static std::atomic<int> serial{0};
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    path_ = std::string(temp) + "dbtest-" + std::to_string(GetCurrentProcessId()) + "-" +
            std::to_string(++serial) + "\\";
    CreateDirectoryA(path_.c_str(), nullptr);
    if (source != nullptr) CopyFileA(WindowsPath(source).c_str(), dll().c_str(), FALSE);
  }
  ~TempRoot() {
    DeleteFileA(dll().c_str());
    RemoveDirectoryA(path_.c_str());
  }
  TempRoot(const TempRoot&) = delete;
  TempRoot& operator=(const TempRoot&) = delete;

  const std::string& path() const { return path_; }
  std::string dll() const { return path_ + "DB.dll"; }

 private:
  std::string path_;
};

// The control exports of the stand-in that the loader has loaded, found by
// its path; the test takes no reference of its own, so unloading frees it.
struct Standin {
  explicit Standin(const std::string& dll) : module(GetModuleHandleA(dll.c_str())) {
    Bind("StandinReset", reset);
    Bind("StandinLoadFixture", loadFixture);
    Bind("StandinFailCall", failCall);
    Bind("StandinRaiseInCall", raiseInCall);
    Bind("StandinCallLog", callLog);
    Bind("StandinMaxConcurrentCalls", maxConcurrentCalls);
    Bind("StandinSetCallDelay", setCallDelay);
    Bind("StandinConnection", connection);
  }

  template <typename Proc>
  void Bind(const char* name, Proc& slot) {
    FARPROC address = module != nullptr ? GetProcAddress(module, name) : nullptr;
    slot = reinterpret_cast<Proc>(reinterpret_cast<void (*)()>(address));
    if (slot == nullptr) ADD_FAILURE() << "stand-in control missing: " << name;
  }

  static std::string Read(std::int32_t (__stdcall* proc)(char*, std::int32_t)) {
    std::string text(static_cast<std::size_t>(proc(nullptr, 0)) + 1, '\0');
    proc(text.data(), static_cast<std::int32_t>(text.size()));
    text.pop_back();
    return text;
  }

  // Entry point names in call order, and the thread of each.
  std::vector<std::string> Calls(std::vector<DWORD>* threads = nullptr) const {
    std::istringstream lines(Read(callLog));
    std::vector<std::string> names;
    std::string name;
    DWORD thread = 0;
    while (lines >> name >> thread) {
      names.push_back(name);
      if (threads != nullptr) threads->push_back(thread);
    }
    return names;
  }

  HMODULE module;
  standin::ResetProc reset = nullptr;
  standin::LoadFixtureProc loadFixture = nullptr;
  standin::FailCallProc failCall = nullptr;
  standin::RaiseInCallProc raiseInCall = nullptr;
  standin::CallLogProc callLog = nullptr;
  standin::MaxConcurrentCallsProc maxConcurrentCalls = nullptr;
  standin::SetCallDelayProc setCallDelay = nullptr;
  standin::ConnectionProc connection = nullptr;
};

std::string AliasesOf(const Bytes& record) {
  return std::string(reinterpret_cast<const char*>(record.data()) + DbAccountAliasOffset + 1,
                     record[DbAccountAliasOffset]);
}

// Every call answers its failure value; skipPartialExports leaves out the two
// entry points that the partial stand-in exports.
void ExpectEveryCallFails(bool skipPartialExports = false) {
  Bytes domain(DbDomainRecordSize), account(DbAccountRecordSize), block(DbEnumerationSize),
      entries(2 * DbDomainEntrySize);
  std::string domainOut = "stale";
  if (!skipPartialExports) {
    EXPECT_FALSE(DbSetConnection("x"));
    EXPECT_EQ(DbGetDomainCount(), 0);
  }
  EXPECT_FALSE(DbReloadConfig());
  EXPECT_FALSE(DbGetDomain("a.test", domain.data()));
  EXPECT_FALSE(DbSetDomain("a.test", domain.data()));
  EXPECT_FALSE(DbAddDomain("new.test"));
  EXPECT_FALSE(DbDeleteDomain("a.test"));
  EXPECT_FALSE(DbRenameDomain("a.test", "c.test"));
  EXPECT_FALSE(DbSetDomainIP("a.test", "10.0.0.1"));
  EXPECT_FALSE(DbGetDomains(entries.data(), 2));
  EXPECT_FALSE(DbSaveUsers("a.test", account.data(), -1));
  EXPECT_EQ(DbGetUsers("a.test", account.data(), 0), 0);
  EXPECT_FALSE(DbDeleteUsers(0));
  EXPECT_EQ(DbGetUsersIndex("a.test", "john"), -1);
  EXPECT_FALSE(DbInitUsers("a.test", block.data(), -1, 0, ""));
  EXPECT_EQ(DbNextUser(block.data()), 1);
  EXPECT_FALSE(DbDoneUsers(block.data()));
  EXPECT_FALSE(DbCheckNewAlias("a.test", "new"));
  EXPECT_FALSE(DbCheckForMailbox("john", "pw1", "other", false, "b.test"));
  EXPECT_FALSE(DbGetMailBoxUser(0, "john", "pw1", account.data(), domainOut, "", false));
  EXPECT_TRUE(domainOut.empty());
  EXPECT_FALSE(DbGetLocalUser("john@a.test", account.data()));
}

// Runs fn on another thread; false when it has not finished within the time
// (the thread is then left behind).
template <typename Fn>
bool FinishesWithin(Fn fn, int milliseconds) {
  auto done = std::make_shared<std::atomic<bool>>(false);
  std::thread worker([fn, done] {
    fn();
    done->store(true);
  });
  for (int waited = 0; waited < milliseconds && !done->load(); waited += 10) Sleep(10);
  if (!done->load()) {
    worker.detach();
    return false;
  }
  worker.join();
  return true;
}

class DbLibraryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CreateLockTable(true);
    SetDatabaseNoLockQuery(nullptr);
  }
  void TearDown() override {
    SetDatabaseNoLockQuery(nullptr);
    UnloadDBLibrary();
  }

  // Connects the full stand-in with the fixture loaded and its log emptied.
  Standin ConnectWithFixture() {
    EXPECT_TRUE(ConnectDatabase(root_.path(), "conn"));
    Standin standin(root_.dll());
    standin.reset();
    EXPECT_EQ(standin.loadFixture(Fixture), 5);
    return standin;
  }

  TempRoot root_{DB_STANDIN_PATH};
};

TEST_F(DbLibraryTest, ConnectSetsTheConnectionThenReloads) {
  ASSERT_TRUE(ConnectDatabase(root_.path(), "Server=db1;User=mail"));
  EXPECT_TRUE(IsDBLoaded());
  Standin standin(root_.dll());
  ASSERT_NE(standin.module, nullptr);
  EXPECT_EQ(Standin::Read(standin.connection), "Server=db1;User=mail");
  std::vector<DWORD> threads;
  EXPECT_EQ(standin.Calls(&threads), (std::vector<std::string>{"DBSetConnection", "DBReloadConfig"}));
  EXPECT_EQ(threads, (std::vector<DWORD>{GetCurrentThreadId(), GetCurrentThreadId()}));

  // Loaded already: another folder does not replace the library.
  TempRoot other(nullptr);
  EXPECT_TRUE(LoadDBLibrary(other.path()));
  EXPECT_EQ(GetModuleHandleA(root_.dll().c_str()), standin.module);
}

TEST_F(DbLibraryTest, ConnectSwallowsFailuresOfTheLibrary) {
  // The folder without its final separator still finds DB.dll.
  std::string folder = root_.path();
  folder.pop_back();
  ASSERT_TRUE(LoadDBLibrary(folder));
  Standin standin(root_.dll());
  standin.raiseInCall("DBSetConnection", standin::RaiseAccessViolation);
  standin.raiseInCall("DBReloadConfig", standin::RaiseCustom);
  EXPECT_TRUE(ConnectDatabase(root_.path(), "text"));
  EXPECT_TRUE(IsDBLoaded());
  EXPECT_EQ(standin.Calls(), (std::vector<std::string>{"DBSetConnection", "DBReloadConfig"}));
  EXPECT_EQ(Standin::Read(standin.connection), "");
}

TEST_F(DbLibraryTest, MissingOrBrokenLibraryStaysUnloaded) {
  TempRoot empty(nullptr);
  EXPECT_FALSE(LoadDBLibrary(empty.path()));
  EXPECT_FALSE(ConnectDatabase(empty.path(), "conn"));
  EXPECT_FALSE(LoadDBLibrary(""));
  EXPECT_FALSE(IsDBLoaded());

  TempRoot broken(nullptr);
  HANDLE file = CreateFileA(broken.dll().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  WriteFile(file, "not a library", 13, &written, nullptr);
  CloseHandle(file);
  EXPECT_FALSE(LoadDBLibrary(broken.path()));
  EXPECT_FALSE(IsDBLoaded());

  ExpectEveryCallFails();
  UnloadDBLibrary();  // nothing to do
  EXPECT_FALSE(IsDBLoaded());
}

TEST_F(DbLibraryTest, UnloadClosesFreesAndAllowsReconnect) {
  ASSERT_TRUE(ConnectDatabase(root_.path(), "first"));
  // Our own reference keeps the module readable after the loader lets go.
  HMODULE extra = LoadLibraryA(root_.dll().c_str());
  ASSERT_NE(extra, nullptr);
  Standin standin(root_.dll());

  UnloadDBLibrary();
  EXPECT_FALSE(IsDBLoaded());
  EXPECT_EQ(standin.Calls().back(), "DBDoneConnection");
  ExpectEveryCallFails();
  EXPECT_EQ(standin.Calls().back(), "DBDoneConnection");  // nothing reached the library
  UnloadDBLibrary();
  EXPECT_EQ(standin.Calls().size(), 3u);  // no second DBDoneConnection

  FreeLibrary(extra);
  EXPECT_EQ(GetModuleHandleA(root_.dll().c_str()), nullptr);  // the loader's reference is gone

  ASSERT_TRUE(ConnectDatabase(root_.path(), "second"));
  Standin fresh(root_.dll());
  EXPECT_EQ(Standin::Read(fresh.connection), "second");
  EXPECT_EQ(fresh.Calls(), (std::vector<std::string>{"DBSetConnection", "DBReloadConfig"}));
}

TEST_F(DbLibraryTest, CallsPassArgumentsAndAnswers) {
  Standin standin = ConnectWithFixture();
  Bytes entries(3 * DbDomainEntrySize, 0xAA);
  EXPECT_EQ(DbGetDomainCount(), 2);
  EXPECT_TRUE(DbAddDomain("c.test"));
  EXPECT_TRUE(DbRenameDomain("c.test", "d.test"));
  EXPECT_TRUE(DbSetDomainIP("d.test", "10.0.0.1"));
  ASSERT_TRUE(DbGetDomains(entries.data(), 3));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(&entries[2 * DbDomainEntrySize + 1]),
                        entries[2 * DbDomainEntrySize]),
            "d.test");
  EXPECT_EQ(entries[2 * DbDomainEntrySize + 92], 0xFF);

  Bytes domain(DbDomainRecordSize, 0x5C), readBack(DbDomainRecordSize);
  EXPECT_TRUE(DbSetDomain("b.test", domain.data()));
  EXPECT_TRUE(DbGetDomain("B.TEST", readBack.data()));
  EXPECT_EQ(readBack, domain);
  EXPECT_FALSE(DbGetDomain("none.test", readBack.data()));

  Bytes account(DbAccountRecordSize, 0x11);
  EXPECT_EQ(DbGetUsers("a.test", account.data(), 5), 2);  // past the end: record untouched
  EXPECT_EQ(account, Bytes(DbAccountRecordSize, 0x11));
  EXPECT_EQ(DbGetUsers("a.test", account.data(), 1), 2);
  EXPECT_EQ(AliasesOf(account), "mary");
  account[DbAccountAliasOffset] = 3;
  std::memcpy(&account[DbAccountAliasOffset + 1], "ann", 3);
  EXPECT_TRUE(DbSaveUsers("a.test", account.data(), -1));
  EXPECT_EQ(DbGetUsersIndex("a.test", "x; ANN"), 2);
  EXPECT_FALSE(DbCheckNewAlias("a.test", "jd"));
  EXPECT_TRUE(DbCheckForMailbox("john", "pw1", "other", false, "b.test"));
  EXPECT_FALSE(DbCheckForMailbox("john", "pw1", "other", true, "b.test"));
  EXPECT_EQ(DbGetUsers("a.test", account.data(), 0), 3);
  EXPECT_TRUE(DbDeleteUsers(0));
  EXPECT_EQ(DbGetUsers("a.test", account.data(), 0), 2);
  EXPECT_EQ(AliasesOf(account), "mary");

  // Walk: "mary", "ann", then the end.
  Bytes block(DbEnumerationSize, 0);
  ASSERT_TRUE(DbInitUsers("a.test", block.data(), -1, 0, ""));
  std::vector<std::string> walked;
  while (DbNextUser(block.data()) == 0) {
    walked.push_back(AliasesOf(Bytes(block.begin(), block.begin() + DbAccountRecordSize)));
  }
  EXPECT_EQ(walked, (std::vector<std::string>{"mary", "ann"}));
  EXPECT_TRUE(DbDoneUsers(block.data()));

  std::string domainName;
  EXPECT_TRUE(DbGetMailBoxUser(0, "bob@B.test", "pw3", account.data(), domainName, "10.0.0.9", true));
  EXPECT_EQ(domainName, "b.test");
  EXPECT_EQ(AliasesOf(account), "bob");
  EXPECT_FALSE(DbGetMailBoxUser(0, "bob", "wrong", account.data(), domainName, "", false));
  EXPECT_TRUE(domainName.empty());
  EXPECT_TRUE(DbGetLocalUser("mary@a.test", account.data()));

  standin.failCall("DBGetDomainCount");
  EXPECT_EQ(DbGetDomainCount(), 0);
}

TEST_F(DbLibraryTest, MissingEntryPointsAnswerFailure) {
  TempRoot partial(DB_STANDIN_PARTIAL_PATH);
  ASSERT_TRUE(ConnectDatabase(partial.path(), "partial"));  // DBReloadConfig is missing
  Standin standin(partial.dll());
  EXPECT_EQ(standin.Calls(), (std::vector<std::string>{"DBSetConnection"}));
  EXPECT_EQ(standin.loadFixture(Fixture), 5);
  EXPECT_EQ(DbGetDomainCount(), 2);
  ExpectEveryCallFails(true);

  UnloadDBLibrary();  // DBDoneConnection is missing too
  EXPECT_FALSE(IsDBLoaded());
  EXPECT_EQ(GetModuleHandleA(partial.dll().c_str()), nullptr);
}

TEST_F(DbLibraryTest, DatabaseLockSerialisesCallsUnlessTurnedOff) {
  Standin standin = ConnectWithFixture();
  auto hammer = [] {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
      threads.emplace_back([] {
        for (int i = 0; i < 3; ++i) DbGetDomainCount();
      });
    }
    for (std::thread& th : threads) th.join();
  };
  standin.setCallDelay(30);
  hammer();
  EXPECT_EQ(standin.maxConcurrentCalls(), 1);
  EXPECT_EQ(standin.Calls().size(), 12u);

  SetDatabaseNoLockQuery([] { return true; });
  standin.reset();
  standin.setCallDelay(100);
  hammer();
  EXPECT_GT(standin.maxConcurrentCalls(), 1);
}

TEST_F(DbLibraryTest, RaisingEntryPointsAnswerFailure) {
  Standin standin = ConnectWithFixture();
  const char* const raising[] = {"DBGetDomain", "DBGetUsers", "DBNextUser", "DBGetUsersIndex",
                                 "DBGetMailBoxUser", "DBGetDomainCount", "DBInitUsers"};
  Bytes domain(DbDomainRecordSize), account(DbAccountRecordSize), block(DbEnumerationSize);
  std::string domainName;
  for (std::int32_t kind : {standin::RaiseCustom, standin::RaiseAccessViolation}) {
    SCOPED_TRACE(kind);
    for (const char* name : raising) standin.raiseInCall(name, kind);
    EXPECT_FALSE(DbGetDomain("a.test", domain.data()));
    EXPECT_EQ(DbGetUsers("a.test", account.data(), 0), 0);
    EXPECT_EQ(DbGetUsersIndex("a.test", "john"), -1);
    EXPECT_EQ(DbGetDomainCount(), 0);
    EXPECT_FALSE(DbInitUsers("a.test", block.data(), -1, 0, ""));
    EXPECT_EQ(DbNextUser(block.data()), 1);
    EXPECT_FALSE(DbGetMailBoxUser(0, "john", "pw1", account.data(), domainName, "", false));
    EXPECT_TRUE(domainName.empty());

    // Lock 5 was left: another thread gets through at once.
    EXPECT_TRUE(FinishesWithin([] { DbCheckNewAlias("a.test", "x"); }, 5000));

    for (const char* name : raising) standin.raiseInCall(name, standin::RaiseNothing);
    EXPECT_TRUE(DbGetDomain("a.test", domain.data()));
    EXPECT_EQ(DbGetUsersIndex("a.test", "john"), 0);
    EXPECT_TRUE(DbGetMailBoxUser(0, "john", "pw1", account.data(), domainName, "", false));
    EXPECT_EQ(domainName, "a.test");
  }
}

TEST_F(DbLibraryTest, RaisingEntryPointsOnSeveralThreads) {
  Standin standin = ConnectWithFixture();
  standin.raiseInCall("DBGetDomain", standin::RaiseAccessViolation);
  standin.raiseInCall("DBGetUsers", standin::RaiseCustom);
  for (bool noLock : {false, true}) {
    SCOPED_TRACE(noLock);
    SetDatabaseNoLockQuery(noLock ? +[] { return true; } : nullptr);
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t) {
      threads.emplace_back([&wrong] {
        Bytes domain(DbDomainRecordSize), account(DbAccountRecordSize);
        for (int i = 0; i < 30; ++i) {
          if (DbGetDomain("a.test", domain.data())) ++wrong;
          if (DbGetUsers("a.test", account.data(), 0) != 0) ++wrong;
          if (DbGetDomainCount() != 2) ++wrong;
          if (DbGetUsersIndex("a.test", "mary") != 1) ++wrong;
        }
      });
    }
    for (std::thread& th : threads) th.join();
    EXPECT_EQ(wrong.load(), 0);
  }
}

TEST_F(DbLibraryTest, UnloadWaitsForCallsInFlight) {
  Standin standin = ConnectWithFixture();
  standin.setCallDelay(300);
  std::atomic<std::int32_t> count{-1};
  std::atomic<bool> callReturned{false};
  std::thread caller([&] {
    count = DbGetDomainCount();
    callReturned = true;
  });
  // Wait until the call is inside the library.
  for (int i = 0; i < 500 && standin.Calls().empty(); ++i) Sleep(2);
  ASSERT_EQ(standin.Calls(), (std::vector<std::string>{"DBGetDomainCount"}));
  UnloadDBLibrary();
  const bool returnedBeforeUnloadEnded = callReturned.load();
  caller.join();
  EXPECT_TRUE(returnedBeforeUnloadEnded);
  EXPECT_EQ(count.load(), 2);
  EXPECT_FALSE(IsDBLoaded());
  EXPECT_EQ(GetModuleHandleA(root_.dll().c_str()), nullptr);
}

}  // namespace
