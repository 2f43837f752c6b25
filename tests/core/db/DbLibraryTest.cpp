#include "core/db/DbLibrary.h"

#include "core/config/ConfigStore.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "core/config/ConfigStore.h"
#include "core/platform/LockTable.h"
#include "tests/support/db_standin/StandinControl.h"
#include "tests/support/records.h"

namespace {

using namespace core;
using Bytes = std::vector<std::uint8_t>;
using Names = std::vector<std::string>;

// Entry point names of "Name ThreadId" call-log lines, in order.
Names CallNames(std::istream& lines) {
  Names names;
  std::string name;
  DWORD thread = 0;
  while (lines >> name >> thread)
    names.push_back(name);
  return names;
}

const char* const Fixture =
    "domain|a.test\ndomain|b.test\n"
    "account|a.test|john;jd|john|pw1\naccount|a.test|mary|mary|pw2\naccount|b.test|bob|bob|pw3\n";

// A fresh folder under the temporary folder, holding a copy of a stand-in as
// "DB.dll" (or, with no source, nothing). Build paths are host paths, which
// Wine sees under drive Z:.
class TempRoot {
 public:
  explicit TempRoot(const char* source) {
    static std::atomic<int> serial{0};
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    path_ = std::string(temp) + "dbtest-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++serial);
    path_ += "\\";
    CreateDirectoryA(path_.c_str(), nullptr);
    if (source == nullptr) return;
    std::string from = std::string(source[0] == '/' ? "Z:" : "") + source;
    for (char& c : from)
      c = c == '/' ? '\\' : c;
    CopyFileA(from.c_str(), dll().c_str(), FALSE);
  }
  ~TempRoot() {
    DeleteFileA(dll().c_str());
    DeleteFileA(callLogFile().c_str());
    RemoveDirectoryA(path_.c_str());
  }
  const std::string& path() const { return path_; }
  std::string dll() const { return path_ + "DB.dll"; }
  // The stand-in's own record of the calls that reached it, readable after
  // the library is gone.
  std::string callLogFile() const { return path_ + "standin-calls.log"; }
  Names LoggedCalls() const {
    std::ifstream in(callLogFile());
    return CallNames(in);
  }

 private:
  std::string path_;
};

// The control exports of the stand-in that the loader has loaded, found by its
// path; the test takes no reference of its own, so unloading frees it.
struct Standin {
  explicit Standin(const std::string& dll) : module(GetModuleHandleA(dll.c_str())) {}

  template <typename Proc>
  Proc Get(const char* name) const {
    FARPROC address = module != nullptr ? GetProcAddress(module, name) : nullptr;
    if (address == nullptr) ADD_FAILURE() << "stand-in control missing: " << name;
    return reinterpret_cast<Proc>(reinterpret_cast<void (*)()>(address));
  }
  static std::string Read(std::int32_t(__stdcall* proc)(char*, std::int32_t)) {
    std::string text(static_cast<std::size_t>(proc(nullptr, 0)) + 1, '\0');
    proc(text.data(), static_cast<std::int32_t>(text.size()));
    text.pop_back();
    return text;
  }
  // Entry point names in call order.
  Names Calls() const {
    std::istringstream lines(Read(callLog));
    return CallNames(lines);
  }

  HMODULE module;
  standin::ResetProc reset = Get<standin::ResetProc>("StandinReset");
  standin::LoadFixtureProc loadFixture = Get<standin::LoadFixtureProc>("StandinLoadFixture");
  standin::RaiseInCallProc raiseInCall = Get<standin::RaiseInCallProc>("StandinRaiseInCall");
  standin::CallLogProc callLog = Get<standin::CallLogProc>("StandinCallLog");
  standin::MaxConcurrentCallsProc maxConcurrentCalls =
      Get<standin::MaxConcurrentCallsProc>("StandinMaxConcurrentCalls");
  standin::SetCallDelayProc setCallDelay = Get<standin::SetCallDelayProc>("StandinSetCallDelay");
  standin::ConnectionProc connection = Get<standin::ConnectionProc>("StandinConnection");
};

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
  int call = 0;
  for (const bool answered :
       {DbReloadConfig(), DbGetDomain("a.test", domain.data()), DbSetDomain("a.test", domain.data()),
        DbAddDomain("new.test"), DbDeleteDomain("a.test"), DbRenameDomain("a.test", "c.test"),
        DbSetDomainIP("a.test", "10.0.0.1"), DbGetDomains(entries.data(), 2), DbSaveUsers("a.test", account.data(), -1),
        DbGetUsers("a.test", account.data(), 0) != 0, DbDeleteUsers(0), DbGetUsersIndex("a.test", "john") != -1,
        DbInitUsers("a.test", block.data(), -1, 0, ""), DbNextUser(block.data()) != 1, DbDoneUsers(block.data()),
        DbCheckNewAlias("a.test", "new"), DbCheckForMailbox("john", "pw1", "other", false, "b.test"),
        DbGetMailBoxUser(0, "john", "pw1", account.data(), domainOut, "", false),
        DbGetLocalUser("john@a.test", account.data())})
    EXPECT_FALSE(answered) << "call " << call++;
  EXPECT_TRUE(domainOut.empty());
  bool failed = false;  // not to be taken for a domain without accounts
  EXPECT_EQ(DbGetUsers("a.test", account.data(), 0, &failed), 0);
  EXPECT_TRUE(failed);
}

// Settings byte 152: calls into the back end go without lock 5.
void SetNoLock(bool on) { Settings()[records::settings::NoBackEndLock] = on ? 1 : 0; }

class DbLibraryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CreateLockTable(true);
    SetNoLock(false);
  }
  void TearDown() override {
    SetNoLock(false);
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
  std::string folder = root_.path();
  folder.pop_back();  // the folder without its final separator still finds DB.dll
  ASSERT_TRUE(ConnectDatabase(folder, "Server=db1;User=mail"));
  EXPECT_TRUE(IsDBLoaded());
  Standin standin(root_.dll());
  ASSERT_NE(standin.module, nullptr);
  EXPECT_EQ(Standin::Read(standin.connection), "Server=db1;User=mail");
  EXPECT_EQ(standin.Calls(), (Names{"DBSetConnection", "DBReloadConfig"}));

  // Loaded already: another folder does not replace the library.
  TempRoot other(nullptr);
  EXPECT_TRUE(LoadDBLibrary(other.path()));
  EXPECT_EQ(GetModuleHandleA(root_.dll().c_str()), standin.module);
}

TEST_F(DbLibraryTest, MissingOrBrokenLibraryStaysUnloaded) {
  TempRoot empty(nullptr), broken(nullptr);
  EXPECT_FALSE(LoadDBLibrary(empty.path()));
  EXPECT_FALSE(ConnectDatabase(empty.path(), "conn"));
  EXPECT_FALSE(LoadDBLibrary(""));  // never searched along the system's path
  ASSERT_TRUE(std::ofstream(broken.dll(), std::ios::binary) << "not a library");
  EXPECT_FALSE(LoadDBLibrary(broken.path()));
  EXPECT_FALSE(IsDBLoaded());
  ExpectEveryCallFails();
  UnloadDBLibrary();  // nothing to do
}

TEST_F(DbLibraryTest, UnloadClosesFreesAndAllowsReconnect) {
  ASSERT_TRUE(ConnectDatabase(root_.path(), "first"));
  UnloadDBLibrary();
  EXPECT_FALSE(IsDBLoaded());
  EXPECT_EQ(GetModuleHandleA(root_.dll().c_str()), nullptr);  // the loader's reference is gone
  ExpectEveryCallFails();
  UnloadDBLibrary();
  // One DBDoneConnection, made while the library was still there (the test
  // holds no reference of its own), and nothing after it reached the library.
  EXPECT_EQ(root_.LoggedCalls(), (Names{"DBSetConnection", "DBReloadConfig", "DBDoneConnection"}));

  ASSERT_TRUE(ConnectDatabase(root_.path(), "second"));
  Standin fresh(root_.dll());
  EXPECT_EQ(Standin::Read(fresh.connection), "second");
  EXPECT_EQ(fresh.Calls(), (Names{"DBSetConnection", "DBReloadConfig"}));
}

TEST_F(DbLibraryTest, CallsPassArgumentsAndAnswers) {
  ConnectWithFixture();
  Bytes domain(DbDomainRecordSize, 0x5C), readBack(DbDomainRecordSize), block(DbEnumerationSize, 0);
  EXPECT_TRUE(DbSetDomain("b.test", domain.data()));
  EXPECT_TRUE(DbGetDomain("B.TEST", readBack.data()));
  EXPECT_EQ(readBack, domain);
  ASSERT_TRUE(DbInitUsers("a.test", block.data(), -1, 0, ""));
  Names walked;
  while (DbNextUser(block.data()) == 0)  // the account's alias list, a short string
    walked.emplace_back(reinterpret_cast<char*>(&block[DbAccountAliasOffset + 1]), block[DbAccountAliasOffset]);
  EXPECT_EQ(walked, (Names{"john;jd", "mary"}));
  EXPECT_TRUE(DbDoneUsers(block.data()));
  Bytes account(DbAccountRecordSize);
  for (const auto& [name, count] : {std::pair<const char*, int>{"a.test", 2}, {"nowhere.test", 0}}) {
    bool failed = true;
    EXPECT_EQ(DbGetUsers(name, account.data(), 0, &failed), count) << name;
    EXPECT_FALSE(failed) << name;  // an unknown domain is an answer
  }
}

TEST_F(DbLibraryTest, MissingEntryPointsAnswerFailure) {
  TempRoot partial(DB_STANDIN_PARTIAL_PATH);
  ASSERT_TRUE(ConnectDatabase(partial.path(), "partial"));  // DBReloadConfig is missing
  Standin standin(partial.dll());
  EXPECT_EQ(standin.Calls(), (Names{"DBSetConnection"}));
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
    for (int t = 0; t < 4; ++t)
      threads.emplace_back([] {
        for (int i = 0; i < 3; ++i)
          DbGetDomainCount();
      });
    for (std::thread& th : threads)
      th.join();
  };
  standin.setCallDelay(30);
  hammer();
  EXPECT_EQ(standin.maxConcurrentCalls(), 1);
  EXPECT_EQ(standin.Calls().size(), 12u);

  SetNoLock(true);
  standin.reset();
  standin.setCallDelay(100);
  hammer();
  EXPECT_GT(standin.maxConcurrentCalls(), 1);
}

TEST_F(DbLibraryTest, CallsWaitForLockFiveHeldElsewhere) {
  ConnectWithFixture();
  std::atomic<bool> called{false};
  EnterLock(DatabaseLockIndex);
  std::thread caller([&] {
    DbGetDomainCount();
    called = true;
  });
  Sleep(300);
  EXPECT_FALSE(called.load()) << "a database call ran while lock 5 was held";
  LeaveLock(DatabaseLockIndex);
  caller.join();
  EXPECT_TRUE(called.load());
}

TEST_F(DbLibraryTest, RaisingEntryPointsAnswerFailure) {
  Standin standin = ConnectWithFixture();
  const char* const raising[] = {"DBSetConnection", "DBReloadConfig",   "DBGetDomain",      "DBGetUsers", "DBNextUser",
                                 "DBGetUsersIndex", "DBGetMailBoxUser", "DBGetDomainCount", "DBInitUsers"};
  Bytes domain(DbDomainRecordSize), account(DbAccountRecordSize), block(DbEnumerationSize);
  std::string domainName;
  for (std::int32_t kind : {standin::RaiseCustom, standin::RaiseAccessViolation}) {
    SCOPED_TRACE(kind);
    for (const char* name : raising)
      standin.raiseInCall(name, kind);
    const auto before = static_cast<std::ptrdiff_t>(standin.Calls().size());
    EXPECT_TRUE(ConnectDatabase(root_.path(), "text"));  // failures swallowed: both called, still loaded
    const Names calls = standin.Calls();
    EXPECT_EQ(Names(calls.begin() + before, calls.end()), (Names{"DBSetConnection", "DBReloadConfig"}));
    EXPECT_FALSE(DbGetDomain("a.test", domain.data()));
    EXPECT_EQ(DbGetUsers("a.test", account.data(), 0), 0);
    EXPECT_EQ(DbGetUsersIndex("a.test", "john"), -1);
    EXPECT_EQ(DbGetDomainCount(), 0);
    EXPECT_FALSE(DbInitUsers("a.test", block.data(), -1, 0, ""));
    EXPECT_EQ(DbNextUser(block.data()), 1);
    EXPECT_FALSE(DbGetMailBoxUser(0, "john", "pw1", account.data(), domainName, "", false));

    // Lock 5 was left: another thread gets through at once.
    auto done = std::make_shared<std::atomic<bool>>(false);
    std::thread([done] {
      DbCheckNewAlias("a.test", "x");
      *done = true;
    }).detach();
    for (int waited = 0; waited < 5000 && !*done; waited += 10)
      Sleep(10);
    EXPECT_TRUE(*done);

    for (const char* name : raising)
      standin.raiseInCall(name, standin::RaiseNothing);
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
    SetNoLock(noLock);
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t) {
      threads.emplace_back([&wrong] {
        Bytes domain(DbDomainRecordSize), account(DbAccountRecordSize);
        for (int i = 0; i < 30; ++i) {
          wrong += DbGetDomain("a.test", domain.data()) || DbGetUsers("a.test", account.data(), 0) != 0 ||
                   DbGetDomainCount() != 2 || DbGetUsersIndex("a.test", "mary") != 1;
        }
      });
    }
    for (std::thread& th : threads)
      th.join();
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
  for (int i = 0; i < 500 && standin.Calls().empty(); ++i)
    Sleep(2);  // until the call is inside the library
  ASSERT_EQ(standin.Calls(), (Names{"DBGetDomainCount"}));
  UnloadDBLibrary();
  EXPECT_TRUE(callReturned.load());
  caller.join();
  EXPECT_EQ(count.load(), 2);
  EXPECT_FALSE(IsDBLoaded());
  EXPECT_EQ(GetModuleHandleA(root_.dll().c_str()), nullptr);
}

}  // namespace
