// Authentication under Wine: the search plan, the lockout and its counting,
// bindings, outside checks and the back end.
#include "core/auth/Authenticate.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "core/accounts/AccountCache.h"
#include "core/accounts/AccountStore.h"
#include "core/auth/LoginFailures.h"
#include "core/config/ConfigStore.h"
#include "core/db/DbInterface.h"
#include "core/db/DbLibrary.h"
#include "core/domains/DomainBindings.h"
#include "core/platform/Files.h"
#include "core/platform/LockTable.h"
#include "core/platform/System.h"
#include "core/startup/ConfigLoad.h"
#include "tests/support/db_standin/StandinControl.h"
#include "tests/support/installation.h"

namespace {

using namespace core;

using namespace testinst;

// A kind-0 account: aliases, mailbox name, password, mailbox path.
AccountRecordBytes Account(const std::string& aliases, const std::string& mailbox, const std::string& password,
                           const std::string& path, std::uint8_t authMode = 0, const std::string& authValue = "") {
  return NewAccount{.aliases = aliases,
                    .mailbox = mailbox,
                    .password = password,
                    .path = path,
                    .authValue = authValue,
                    .authMode = authMode}
      .Make<AccountRecordBytes>();
}

// The Windows logon seam's fake: only "alice" with "pw", in CORP or without a
// domain; the token it hands out is an event the test checks was closed.
HANDLE g_lastToken = nullptr;
BOOL WINAPI FakeLogon(LPCSTR user, LPCSTR domain, LPCSTR password, DWORD type, DWORD provider, PHANDLE token) {
  if (type != LOGON32_LOGON_NETWORK || provider != LOGON32_PROVIDER_DEFAULT) return FALSE;
  const bool domainAccepted = domain == nullptr || std::string(domain) == "CORP";
  if (std::string(user) != "alice" || std::string(password) != "pw" || !domainAccepted) return FALSE;
  *token = g_lastToken = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  return TRUE;
}

double g_now = 45000.0;
double TestClock() { return g_now; }
std::atomic<int> g_pauses{0};
void CountPause(unsigned) { ++g_pauses; }

// "login.dat" as an independent writer lays it out: i32, 4 zero bytes, f64.
std::string LoginRecord(std::int32_t count, double days) {
  std::string bytes(16, '\0');
  std::memcpy(&bytes[0], &count, 4);
  std::memcpy(&bytes[8], &days, 8);
  return bytes;
}

// Runs body(t) for t = 0 .. threads-1 at once.
void InParallel(int threads, const std::function<void(int)>& body) {
  std::vector<std::thread> running;
  for (int t = 0; t < threads; ++t)
    running.emplace_back(body, t);
  for (std::thread& thread : running)
    thread.join();
}

class AuthTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { StartLibraryProcess(); }
  void SetUp() override {
    g_now = 45000.0;
    g_pauses = 0;
    SetAuthenticationClock(&TestClock);
    SetAuthenticationPause(&CountPause);
  }
  void TearDown() override {
    SetAuthenticationClock(nullptr);
    SetAuthenticationPause(nullptr);
    SetLdapBindFunction({});
    SetLogonFunction(nullptr);
    UnloadDBLibrary();
    SizeAccountCache(0);
  }
  // Domains a.test and b.test, the mail folder under the root, lockout on
  // (threshold 5, ten minutes); then the given settings bytes.
  void Install(std::vector<std::pair<std::size_t, std::uint8_t>> bytes = {}, std::uint8_t storageMode = 1,
               const std::string& connection = "") {
    SettingsFile settings(2);
    settings.U8(settings::StorageMode, storageMode)
        .Text(settings::MailFolder, mail)
        .U8(settings::Lockout, 1)
        .U8(settings::LockoutThreshold, 5)
        .U8(settings::LockoutMinutes, 10)
        .Text(settings::BackEndConnection, connection);
    for (const auto& [offset, value] : bytes)
      settings.U8(offset, value);
    ASSERT_TRUE(install.Install(settings, {"a.test", "b.test"}));
  }
  bool Login(const std::string& login, const std::string& password, const std::string& ip = "",
             std::string* domain = nullptr) {
    LoginAttempt attempt;
    attempt.login = login;
    attempt.password = password;
    attempt.ip = ip;
    attempt.noDelay = true;
    AccountRecordBytes record{};
    std::string found;
    const bool ok = AuthenticateAccount(attempt, record, found);
    if (domain != nullptr) *domain = found;
    return ok;
  }
  std::int32_t Failures(const std::string& path) {
    LoginFailureRecord record;
    return ReadLoginFailures(mail + path + "\\", record) ? record.count : -1;
  }

  testinst::Installation install{"authtest"};
  const std::string& root = install.root;
  const std::string& config = install.config;
  const std::string mail = root + "mail\\";
};

TEST_F(AuthTest, TheSearchPlanNamesAndNormalForms) {
  Install();
  ASSERT_TRUE(WriteAccountRecord(1, Account("john;jd", "John", "pw", "b.test\\john"), -1));
  ASSERT_TRUE(WriteAccountRecord(1, Account("box", "box@b.test", "pw", "b.test\\box"), -1));
  ASSERT_TRUE(WriteAccountRecord(0, Account("a", "ma", "x", "a.test\\ma"), -1));
  ASSERT_TRUE(WriteAccountRecord(0, Account("b", "mb", "y", "a.test\\mb"), -1));
  std::string domain;
  EXPECT_TRUE(Login("JOHN", "pw", "", &domain));
  EXPECT_EQ(domain, "b.test");
  EXPECT_TRUE(Login("box@b.test", "pw"));  // the mailbox name itself is that text
  EXPECT_FALSE(Login("jd@b.test", "pw"));  // an alias login only with the full-address option
  EXPECT_FALSE(Login("john%b.test", "pw"));
  Install({{3638, 1}});  // normalisation: "%" and "/" stand for "@"
  EXPECT_FALSE(Login("jd%b.test", "pw"));
  Install({{3631, 1}, {3638, 1}});
  EXPECT_TRUE(Login("jd/b.test", "pw"));
  EXPECT_TRUE(Login("JD@B.TEST", "pw"));
  EXPECT_FALSE(Login("john", "pw"));  // without "@" nothing is searched
  EXPECT_FALSE(Login("jd@a.test", "pw"));
  // Without "@", only through the IP binding (here of b.test).
  WriteDomainBind(0, "10.0.0.1", false);
  WriteDomainBind(1, "10.0.0.2", false);
  ForgetDomainBindingAnswer();
  EXPECT_TRUE(Login("john", "pw", "10.0.0.2", &domain));
  EXPECT_EQ(domain, "b.test");
  // Refused without a search, and without a file touched ("a;b" would try
  // the aliases a and b of the bound a.test).
  for (const char* login : {"", "  ", "@b.test", "a;jd@b.test", "a;b"}) {
    g_pauses = 0;
    LoginAttempt attempt;
    attempt.login = login;
    attempt.password = "pw";
    attempt.ip = "10.0.0.1";
    AccountRecordBytes record{};
    std::string found;
    EXPECT_FALSE(AuthenticateAccount(attempt, record, found)) << login;
    EXPECT_EQ(g_pauses.load(), 1) << login;  // the pause still applies
  }
  for (const char* path : {"b.test\\john", "a.test\\ma", "a.test\\mb"})
    EXPECT_EQ(Failures(path), -1) << path;
  Install({}, 3);  // a storage mode this library does not know
  EXPECT_FALSE(Login("JOHN", "pw"));
}

TEST_F(AuthTest, AuthModesAndTheOutsideChecks) {
  Install();
  std::vector<std::string> binds;
  SetLdapBindFunction([&](const std::string& server, std::uint16_t port, const std::string& name, const std::string&) {
    binds.push_back(server + ":" + std::to_string(port) + "|" + name);
    return name == "uid=bob,dc=x" ? 0 : 49;
  });
  ASSERT_TRUE(WriteAccountRecord(0, Account("any", "any", "", "a.test\\any", 3), -1));
  ASSERT_TRUE(WriteAccountRecord(0, Account("none", "none", "pw", "a.test\\none", 7), -1));
  ASSERT_TRUE(WriteAccountRecord(0, Account("bob", "bob", "", "a.test\\bob", 2, "127.0.0.1:1389;uid=bob,dc=x"), -1));
  ASSERT_TRUE(WriteAccountRecord(0, Account("carl;c2", "carl", "", "a.test\\carl", 2, ";carl"), -1));
  ASSERT_TRUE(WriteAccountRecord(0, Account("dora", "dora", "", "a.test\\dora", 2), -1));
  EXPECT_TRUE(Login("any", ""));
  EXPECT_TRUE(Login("any", "whatever"));
  EXPECT_FALSE(Login("none", "pw"));
  EXPECT_FALSE(Login("bob", ""));  // no bind at all for an empty password
  EXPECT_TRUE(binds.empty());
  EXPECT_TRUE(Login("bob", "secret"));
  EXPECT_FALSE(Login("carl", "secret"));
  EXPECT_FALSE(Login("dora", "secret"));
  EXPECT_EQ(binds, (std::vector<std::string>{"127.0.0.1:1389|uid=bob,dc=x", "localhost:389|carl@a.test",
                                             "localhost:389|dora@a.test"}));

  // Windows logon through the seam: only CORP\alice with "pw".
  SetLogonFunction(&FakeLogon);
  ASSERT_TRUE(WriteAccountRecord(0, Account("w1", "w1", "", "a.test\\w1", 1, "CORP;alice"), -1));
  ASSERT_TRUE(WriteAccountRecord(0, Account("w2", "w2", "", "a.test\\w2", 1, ";alice"), -1));
  ASSERT_TRUE(WriteAccountRecord(0, Account("alice", "alice", "", "a.test\\alice", 1, ""), -1));
  ASSERT_TRUE(WriteAccountRecord(0, Account("w3", "w3", "", "a.test\\w3", 1, "OTHER;alice"), -1));
  for (const char* login : {"w1", "w2", "alice"}) {
    EXPECT_TRUE(Login(login, "pw")) << login;
    DWORD flags = 0;
    EXPECT_FALSE(GetHandleInformation(g_lastToken, &flags)) << "token left open";
  }
  EXPECT_FALSE(Login("w3", "pw"));
  EXPECT_FALSE(Login("w1", "wrong"));
}

TEST_F(AuthTest, LockoutWindowAndItsCounting) {
  Install();
  ASSERT_TRUE(WriteAccountRecord(0, Account("ann", "ann", "right", "a.test\\ann"), -1));
  for (int i = 0; i < 5; ++i)
    EXPECT_FALSE(Login("ann", "wrong"));
  EXPECT_EQ(Failures("a.test\\ann"), 5);
  EXPECT_FALSE(Login("ann", "right"));  // locked, and not counted
  EXPECT_EQ(Failures("a.test\\ann"), 5);
  g_now += 11.0 / 1440;
  EXPECT_TRUE(Login("ann", "right"));
  EXPECT_FALSE(FileExists(mail + "a.test\\ann\\login.dat"));

  // A back-dated record of five failures: after the window a sixth locks again.
  WriteAll(mail + "a.test\\ann\\login.dat", LoginRecord(5, g_now - 20.0 / 1440));
  EXPECT_FALSE(Login("ann", "wrong"));
  EXPECT_FALSE(Login("ann", "right"));
  // A failure "in the future" (a clock set back) counts from now: the lock
  // ends its ten minutes later, not a hundred days later.
  WriteAll(mail + "a.test\\ann\\login.dat", LoginRecord(9, g_now + 100));
  EXPECT_FALSE(Login("ann", "right"));
  g_now += 11.0 / 1440;
  EXPECT_TRUE(Login("ann", "right"));
  WriteAll(mail + "a.test\\ann\\login.dat", LoginRecord(-7, g_now));  // a negative count reads as 0
  EXPECT_TRUE(Login("ann", "right"));
  // Unreadable: refused, uncounted.
  WriteAll(mail + "a.test\\ann\\login.dat", LoginRecord(1, g_now));
  HANDLE held =
      CreateFileA((mail + "a.test\\ann\\login.dat").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_FALSE(Login("ann", "right"));
  CloseHandle(held);
  EXPECT_EQ(Failures("a.test\\ann"), 1);
  // A reader holding it for a moment does not keep a success from forgetting.
  held = CreateFileA((mail + "a.test\\ann\\login.dat").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                     0, nullptr);
  std::thread reader([&] {
    Sleep(200);
    CloseHandle(held);
  });
  EXPECT_TRUE(Login("ann", "right"));
  reader.join();
  EXPECT_EQ(Failures("a.test\\ann"), -1);

  // Back-dated records: the count saturates, a time that is no finite
  // number is no lock, a wrong password while locked is not counted.
  const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
  const struct {
    std::int32_t count;
    double ago;  // days before now
    const char* password;
    bool accepted;
    std::int32_t after;  // -1: no file
  } rows[] = {
      {2147483647, 20.0 / 1440, "wrong", false, 2147483647},
      {5, 1.0 / 1440, "wrong", false, 5},
      {9, nan, "right", true, -1},
      {9, nan, "wrong", false, 10},
      {9, inf, "right", true, -1},
      {9, -inf, "right", true, -1},
  };
  for (const auto& row : rows) {
    WriteAll(mail + "a.test\\ann\\login.dat", LoginRecord(row.count, g_now - row.ago));
    EXPECT_EQ(Login("ann", row.password), row.accepted) << row.count << " " << row.ago;
    EXPECT_EQ(Failures("a.test\\ann"), row.after) << row.count << " " << row.ago;
  }
  // Threshold 0 (and below): no lockout, no file.
  for (const std::uint8_t fill : {0x00, 0xFF}) {
    Install({{20436, fill}, {20437, fill}, {20438, fill}, {20439, fill}});
    for (int i = 0; i < 6; ++i)
      EXPECT_FALSE(Login("ann", "wrong"));
    EXPECT_EQ(Failures("a.test\\ann"), -1);
    EXPECT_TRUE(Login("ann", "right"));
  }
}

TEST_F(AuthTest, EachCandidateIsChargedOnceAndOnlyOnRefusal) {
  Install();
  ASSERT_TRUE(WriteAccountRecord(0, Account("john", "john", "a-pw", "a.test\\john"), -1));
  ASSERT_TRUE(WriteAccountRecord(1, Account("john", "john", "b-pw", "b.test\\john"), -1));
  for (int i = 0; i < 10; ++i)
    EXPECT_TRUE(Login("john", "b-pw"));
  EXPECT_EQ(Failures("a.test\\john"), -1);  // the other domain's john is not charged
  EXPECT_FALSE(Login("john", "nothing"));   // each candidate charged once
  EXPECT_EQ(Failures("b.test\\john"), 1);
  EXPECT_EQ(Failures("a.test\\john"), 1);
  SizeAccountCache(8);
  EXPECT_TRUE(Login("john", "a-pw"));  // stored in the cache
  EXPECT_FALSE(Login("john", "nothing"));
  EXPECT_EQ(Failures("a.test\\john"), 1);  // cache and scan: one failure each
  EXPECT_EQ(Failures("b.test\\john"), 2);

  // The domain's binding.
  WriteDomainBind(0, "10.0.0.1", false);
  ForgetDomainBindingAnswer();
  EXPECT_TRUE(Login("john", "a-pw", ""));
  EXPECT_TRUE(Login("john", "a-pw", "10.0.0.1"));
  EXPECT_FALSE(Login("john", "a-pw", "10.0.0.2"));
  EXPECT_FALSE(Login("john", "a-pw", "10.0.0.9;10.0.0.1"));
  EXPECT_EQ(Failures("a.test\\john"), -1);  // a right password refused by the binding: no charge

  // Bound to b.test: the cache (a.test's john), pass 1 (b.test) and pass 2
  // (the others) try each john once; then without the cache.
  WriteDomainBind(1, "10.0.0.2", false);
  ForgetDomainBindingAnswer();
  DeleteFileA((mail + "b.test\\john\\login.dat").c_str());  // four failures by now
  for (const std::int32_t expected : {1, 2}) {
    EXPECT_FALSE(Login("john", "nothing", "10.0.0.2"));
    EXPECT_EQ(Failures("a.test\\john"), expected);
    EXPECT_EQ(Failures("b.test\\john"), expected);
    SizeAccountCache(0);
  }
}

TEST_F(AuthTest, ParallelAttemptsCountExactly) {
  Install({{20436, 0x40}, {20437, 0x42}, {20438, 0x0F}});  // threshold 1,000,000
  ASSERT_TRUE(WriteAccountRecord(0, Account("eve", "eve", "right", "a.test\\eve"), -1));
  std::atomic<int> accepted{0};
  InParallel(16, [&](int) {
    for (int i = 0; i < 25; ++i)
      accepted += Login("eve", "wrong") ? 1 : 0;
  });
  EXPECT_EQ(accepted.load(), 0);
  EXPECT_EQ(Failures("a.test\\eve"), 400);

  // 8 threads over 20 accounts, each thread meeting each account 3 times:
  // even ones only attacked, odd ones mostly logging in right (and forgiven).
  for (int i = 0; i < 20; ++i) {
    const std::string n = std::to_string(i);
    ASSERT_TRUE(WriteAccountRecord(0, Account("u" + n, "u" + n, "pw" + n, "a.test\\u" + n), -1));
  }
  SizeAccountCache(8);
  std::atomic<int> wrongAccepted{0}, rightRefused{0};
  InParallel(8, [&](int t) {
    for (int k = 0; k < 60; ++k) {
      const int i = (3 * t + k) % 20;
      const bool right = i % 2 == 1 && k % 3 != 0;
      if (Login("u" + std::to_string(i), right ? "pw" + std::to_string(i) : "bad") != right)
        ++(right ? rightRefused : wrongAccepted);
    }
  });
  EXPECT_EQ(wrongAccepted.load(), 0);
  EXPECT_EQ(rightRefused.load(), 0);
  for (int i = 0; i < 20; i += 2)
    EXPECT_EQ(Failures("a.test\\u" + std::to_string(i)), 24) << i;

  // Threshold 5: after 50 parallel failures the right password is refused.
  Install();
  ASSERT_TRUE(WriteAccountRecord(0, Account("zed", "zed", "right", "a.test\\zed"), -1));
  InParallel(10, [&](int) {
    for (int i = 0; i < 5; ++i)
      accepted += Login("zed", "wrong") ? 1 : 0;
  });
  EXPECT_EQ(accepted.load(), 0);
  EXPECT_GE(Failures("a.test\\zed"), 5);
  EXPECT_FALSE(Login("zed", "right"));
}

TEST_F(AuthTest, TheBackEndDecidesInModeTwoAndARealRefusalPauses) {
  CopyFileA((std::string("Z:") + DB_STANDIN_PATH).c_str(), (root + "DB.dll").c_str(), FALSE);
  Install({{20848, 0}}, 2);
  HMODULE db = GetModuleHandleA((root + "DB.dll").c_str());
  ASSERT_NE(db, nullptr);
  auto load =
      reinterpret_cast<standin::LoadFixtureProc>(reinterpret_cast<void*>(GetProcAddress(db, "StandinLoadFixture")));
  auto raise =
      reinterpret_cast<standin::RaiseInCallProc>(reinterpret_cast<void*>(GetProcAddress(db, "StandinRaiseInCall")));
  ASSERT_EQ(load("domain|a.test\naccount|a.test|kim|kim|pw\n"), 2);
  std::string domain;
  EXPECT_TRUE(Login("kim@a.test", "pw", "", &domain));
  EXPECT_EQ(domain, "a.test");
  EXPECT_FALSE(Login("kim@a.test", "wrong"));
  // An account that expires when inactive (high half of the value at 660):
  // "active.dat" stamped, no lockout and no "login.dat".
  auto save = reinterpret_cast<DBSaveUsersProc>(reinterpret_cast<void*>(GetProcAddress(db, "DBSaveUsers")));
  AccountRecordBytes lee = Account("lee", "lee", "pw", "a.test\\lee");
  lee[user::Expiry + 2] = 1;
  ASSERT_EQ(save("a.test", lee.data(), -1), 1);
  EXPECT_TRUE(Login("lee@a.test", "pw"));
  EXPECT_TRUE(FileExists(mail + "a.test\\lee\\active.dat"));
  for (int i = 0; i < 6; ++i)
    EXPECT_FALSE(Login("lee@a.test", "wrong"));
  EXPECT_TRUE(Login("lee@a.test", "pw"));
  EXPECT_FALSE(FileExists(mail + "a.test\\lee\\login.dat"));
  raise("DBGetMailBoxUser", standin::RaiseAccessViolation);
  EXPECT_FALSE(Login("kim@a.test", "pw"));

  SetAuthenticationPause(nullptr);
  LoginAttempt attempt;
  attempt.login = "kim@a.test";
  attempt.password = "wrong";
  AccountRecordBytes record{};
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(AuthenticateAccount(attempt, record, domain));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2950));
}

// The same logins in file storage and through the real back end (SQLite,
// and PostgreSQL where VM_BACKEND_POSTGRES names a running server), before
// and after a.test is bound to an address: the back end is told the binding
// itself, never the table's marker.
class AuthStorageTest : public AuthTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(AuthStorageTest, TheSameLoginsAreAcceptedInEveryStorage) {
  const std::string storage = GetParam();
  std::string connection;
  if (storage == "postgres") {
    const char* dir = std::getenv("VM_BACKEND_POSTGRES");
    if (dir == nullptr) GTEST_SKIP() << "postgres: run by auth_postgres_test";
    std::ifstream file(HostPath((std::string(dir) + "/connection").c_str()));
    std::getline(file, connection);
    if (connection.empty()) GTEST_SKIP() << "postgres: no server";
  }
  if (storage != "files") CopyFileA(HostPath(DB_BACKEND_PATH).c_str(), (root + "DB.dll").c_str(), FALSE);
  Install({}, storage == "files" ? 1 : 2, connection);
  if (storage != "files") {
    HMODULE db = GetModuleHandleA((root + "DB.dll").c_str());
    ASSERT_NE(db, nullptr);
    const auto add = reinterpret_cast<DBAddDomainProc>(reinterpret_cast<void*>(GetProcAddress(db, "DBAddDomain")));
    const auto remove =
        reinterpret_cast<DBDeleteDomainProc>(reinterpret_cast<void*>(GetProcAddress(db, "DBDeleteDomain")));
    for (const char* name : {"a.test", "b.test"}) {
      remove(name);  // a server's database outlives the test
      ASSERT_EQ(add(name), 1) << name;
    }
  }
  ASSERT_TRUE(WriteAccountRecord(0, Account("kim", "kim", "pw", "a.test\\kim"), -1));
  ASSERT_TRUE(WriteAccountRecord(1, Account("lou", "lou", "pw", "b.test\\lou"), -1));
  struct Case {
    const char* login;
    const char* ip;
    bool unbound, bound;
  };
  const Case cases[] = {
      {"kim", "", true, true},          {"kim", "10.0.0.1", true, true},
      {"kim", "10.0.0.9", true, false}, {"lou", "10.0.0.1", true, true},  // searched after the bound domain
      {"kim", "10.0.0.2", true, false}, {"kim@a.test", "10.0.0.1", false, false},
  };
  for (const bool bound : {false, true}) {
    if (bound) {
      WriteDomainBind(0, "10.0.0.1", false);
      ForgetDomainBindingAnswer();
    }
    for (const Case& c : cases)
      EXPECT_EQ(Login(c.login, "pw", c.ip), bound ? c.bound : c.unbound)
          << c.login << " from " << c.ip << " bound " << bound;
  }
}

INSTANTIATE_TEST_SUITE_P(Storages, AuthStorageTest, ::testing::Values("files", "sqlite", "postgres"));

}  // namespace
