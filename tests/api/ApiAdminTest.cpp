// Domain, account and remote-account exports in-process: which changes
// reach the (fake) services and how often, that a refused login's pause
// holds no one up, and the cases the client session does not reach.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "core/platform/LockTable.h"
#include "core/platform/System.h"
#include "include/Api.h"
#include "tests/api/ExportSession.h"
#include "tests/api/Fixture.h"
#include "tests/support/fake_services.h"

namespace {

const auto* const registered = ::testing::AddGlobalTestEnvironment(new fixture::CoreUnits);

std::vector<std::uint8_t> dom(API_DOMAIN_RECORD_SIZE), ra(API_REMOTE_ACCOUNT_RECORD_SIZE);

using namespace records;

std::vector<std::uint8_t> Account(const std::string& aliases, const std::string& password,
                                  const std::string& path = "") {
  return NewAccount{.aliases = aliases, .password = password, .path = path}.Make<std::vector<std::uint8_t>>();
}

// An installation with its mail folder under the root, initialised.
struct Session : fixture::MailSession {
  Session() : fixture::MailSession("admin") {}
};

TEST(AdminNotices, EachDomainWriteOneRoundRemoteWritesPop3AccountsNothing) {
  Session session;
  fake::FakeServiceSet fakes;
  ASSERT_TRUE(fakes.AddRunning({0, 1, 2, 3, 4})) << fakes.Error();
  const std::vector<int> all{0, 1, 2, 4, 3}, pop3{1}, none{};
  auto ann = Account("ann", "pw1");
  struct Step {
    const char* what;
    std::function<int()> call;
    int answer;
    const std::vector<int>& told;  // in the order of arrival
  };
  const Step steps[] = {
      {"AddDomain", [] { return AddDomain("a.test", dom.data(), 913); }, 0, all},
      {"AddDomain refused", [] { return AddDomain("a_b.test", dom.data(), 913); }, -1, none},
      {"SaveDomain", [] { return SaveDomain(0, dom.data(), 913); }, 0, all},
      {"SetDomainIP", [] { return SetDomainIP(0, "192.0.2.1", 9); }, 0, all},
      {"RenameDomain", [] { return RenameDomain("a.test", "b.test"); }, 0, all},
      {"AddUser", [&] { return AddUser("b.test", ann.data(), 2848); }, 0, none},
      {"AddUser refused", [&] { return AddUser("b.test", ann.data(), 2848); }, -1, none},
      {"SaveUser", [&] { return SaveUser("b.test", 0, ann.data(), 2848); }, 0, none},
      {"DeleteUser", [] { return DeleteUser("b.test", 0); }, 0, none},
      {"AddRA", [] { return AddRA(ra.data(), 1828); }, 0, pop3},
      {"SaveRA", [] { return SaveRA(0, ra.data(), 1828); }, 0, pop3},
      {"DeleteRA outside", [] { return DeleteRA(1); }, -1, none},
      {"DeleteRA", [] { return DeleteRA(0); }, 0, pop3},
      {"DeleteDomain", [] { return DeleteDomain(0); }, 0, all},
  };
  for (const Step& step : steps) {
    std::vector<std::size_t> before;
    for (int index = 0; index < 5; ++index)
      before.push_back(fakes.Records(index).size());
    EXPECT_EQ(step.call(), step.answer) << step.what;
    for (int index : step.told)
      EXPECT_TRUE(fakes.WaitForRecords(index, before[index] + 1)) << step.what << " " << index;
    Sleep(150);  // time for a notice too many to arrive
    std::vector<std::pair<std::uint64_t, int>> arrivals;
    for (int index = 0; index < 5; ++index) {
      const auto records = fakes.Records(index);
      const bool told = std::count(step.told.begin(), step.told.end(), index) != 0;
      ASSERT_EQ(records.size(), before[index] + (told ? 1 : 0)) << step.what << " " << index;
      if (!told) continue;
      EXPECT_EQ(records.back().Message(), 0x500u) << step.what;
      arrivals.emplace_back(records.back().time, index);
    }
    std::sort(arrivals.begin(), arrivals.end());
    std::vector<int> order;
    for (const auto& arrival : arrivals)
      order.push_back(arrival.second);
    EXPECT_EQ(order, step.told) << step.what;
  }
}

// Storage mode 2 over the real back end on its default SQLite database:
// while another process holds the database's lock, adding an account or a
// domain answers -1 within seconds, and once the lock goes every answer is
// what is stored and the same changes go through.
TEST(AdminBackEnd, ALockedDatabaseFailsWithinSecondsAndLosesNothing) {
  fixture::TempInstall install{"admindb"};
  ASSERT_TRUE(CopyFileA(std::getenv("VM_DB_BACKEND"), (install.root() + "DB.dll").c_str(), FALSE));
  fixture::SettingsFile settings;
  settings.U8(fixture::settings::StorageMode, 2);
  settings.Text(fixture::settings::MailFolder, install.root() + "mail\\");
  fixture::WriteSettings(install.config(), settings);
  ASSERT_EQ(Init(install.root().c_str()), 0);
  auto ann = Account("ann", "pw1"), bob = Account("bob", "pw2");
  ASSERT_EQ(AddDomain("a.test", dom.data(), 913), 0);
  ASSERT_EQ(AddUser("a.test", ann.data(), 2848), 0);

  using ToUnix = char*(CDECL*)(const WCHAR*);
  const auto toUnix = reinterpret_cast<ToUnix>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
  const std::string file = install.config() + "mail.db";
  char* path = toUnix(std::wstring(file.begin(), file.end()).c_str());
  const std::string name = "admin-hold-" + std::to_string(GetCurrentProcessId());
  const HANDLE go = CreateEventA(nullptr, TRUE, FALSE, name.c_str());
  const HANDLE ready = CreateSemaphoreA(nullptr, 0, 1, (name + " ready").c_str());
  std::string command = std::string("\"") + std::getenv("VM_BACKEND_CHILD") +
                        "\" hold \"Driver={SQLite3};Database=" + path + "\" \"" + name + "\"";
  HeapFree(GetProcessHeap(), 0, path);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION holder{};
  ASSERT_TRUE(CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &holder));
  ASSERT_EQ(WaitForSingleObject(ready, 30000), WAIT_OBJECT_0);
  const std::pair<const char*, std::function<int()>> refused[] = {
      {"AddUser", [&] { return AddUser("a.test", bob.data(), 2848); }},
      {"AddDomain", [] { return AddDomain("b.test", dom.data(), 913); }}};
  for (const auto& [what, call] : refused) {
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(call(), -1) << what;
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10)) << what;
  }
  SetEvent(go);
  EXPECT_EQ(WaitForSingleObject(holder.hProcess, 30000), WAIT_OBJECT_0);
  CloseHandle(holder.hThread);
  CloseHandle(holder.hProcess);
  CloseHandle(go);
  CloseHandle(ready);

  EXPECT_EQ(GetDomainCount(), 1);
  EXPECT_EQ(GetDomainIndex("b.test"), -1);
  EXPECT_EQ(GetUserCount("a.test"), 1);
  EXPECT_EQ(GetUserIndex("a.test", "bob"), -1);
  EXPECT_EQ(AddUser("a.test", bob.data(), 2848), 0);
  EXPECT_EQ(AddDomain("b.test", dom.data(), 913), 0);
  EXPECT_EQ(GetUserCount("a.test"), 2);
  EXPECT_EQ(GetDomainIndex("b.test"), 1);
  Done();
}

TEST(AdminLogins, RefusedLoginsPauseWithoutHoldingUpADomainChange) {
  Session session;
  ASSERT_EQ(AddDomain("a.test", dom.data(), 913), 0);
  std::vector<std::thread> logins;
  for (int i = 0; i < 4; ++i) {
    logins.emplace_back([] {
      std::vector<std::uint8_t> record(2848);
      std::int32_t index = 0;
      EXPECT_EQ(AuthenticateUser("nobody", "x", "", &index, record.data(), 2848), -1);
    });
  }
  Sleep(300);  // every login is in its pause now
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(SetDomainIP(0, "192.0.2.1", 9), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(1));
  for (std::thread& login : logins)
    login.join();
}

TEST(AdminEdges, SavedFieldsMailFoldersAndAnAddThatCannotWrite) {
  Session session;
  const std::string config = session.install.config();
  // A folder that cannot be made: the added entry is taken back.
  std::ofstream(config + "x.test") << "a file where the folder would be";
  EXPECT_EQ(AddDomain("x.test", dom.data(), 913), -1);
  EXPECT_EQ(GetDomainCount(), 0);
  ASSERT_EQ(AddDomain("a.test", dom.data(), 913), 0);
  EXPECT_EQ(GetDomainIndex("x.test"), -1);

  // An empty mailbox name and path take the first alias and the table's name.
  auto ann = Account("ann;a2", "pw1"), bob = Account("bob", "pw2");
  ASSERT_EQ(AddUser("a.test", ann.data(), 2848), 0);
  ASSERT_EQ(AddUser("a.test", bob.data(), 2848), 0);
  bob = Account("bob", "pw2");
  ASSERT_EQ(SaveUser("A.Test", 1, bob.data(), 2848), 0);
  EXPECT_EQ(TextAt(bob.data(), user::Mailbox), "");  // the caller's record is untouched
  ASSERT_EQ(LoadUser("a.test", 1, bob.data(), 2848), 2848);
  EXPECT_EQ(TextAt(bob.data(), user::Mailbox), "bob");
  EXPECT_EQ(TextAt(bob.data(), user::MailboxPath), "a.test\\bob\\");

  // A mail folder goes only when no other account and no domain keeps it.
  auto cy = Account("cy", "pw3", "a.test\\shared\\"), dee = Account("dee", "pw4", "a.test\\shared\\");
  auto eve = Account("eve", "pw5", "a.test\\");
  // Folders outside the mail root, named absolutely or climbing out of it.
  const std::string outside = session.install.root() + "outside\\";
  auto abs = Account("abs", "pw7", outside), up = Account("up", "pw8", "a.test\\..\\..\\climbed\\");
  for (auto* r : {&cy, &dee, &eve, &abs})
    ASSERT_EQ(AddUser("a.test", r->data(), 2848), 0);
  // One that climbs out is never stored, so its mail cannot land elsewhere.
  EXPECT_EQ(AddUser("a.test", up.data(), 2848), -1);
  for (const char* folder : {"a.test\\shared\\", "a.test\\bob\\"})
    ASSERT_TRUE(core::ForceDirectory(session.mail + folder));
  ASSERT_TRUE(core::ForceDirectory(outside));
  const struct {
    const char* alias;
    const char* folder;
    bool stays;
  } deletions[] = {{"cy", "a.test\\shared", true},
                   {"eve", "a.test", true},
                   {"dee", "a.test\\shared", false},
                   {"bob", "a.test\\bob", false},
                   {"abs", "..\\outside", true}};
  for (const auto& d : deletions) {
    EXPECT_EQ(DeleteUser("a.test", GetUserIndex("a.test", d.alias)), 0) << d.alias;
    EXPECT_EQ(fixture::Exists(session.mail + d.folder), d.stays) << d.alias;
  }
  // An empty first alias would end the list text early: it gives no item.
  auto zed = Account(";zed", "pw6");
  ASSERT_EQ(AddUser("a.test", zed.data(), 2848), 0);
  char list[16] = {};
  EXPECT_EQ(GetUserList("a.test", list, sizeof list), 5);
  EXPECT_EQ(std::string(list, 5), std::string("ann\0\0", 5));
}

}  // namespace
