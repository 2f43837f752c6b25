// The database back end DB.dll through its entry points: against SQLite by
// default and, with VM_BACKEND_POSTGRES naming the folder of a throwaway
// server (tests/backend/pg-cluster.sh), against PostgreSQL. Expected values
// are written out here, not taken from the library.
#include <windows.h>

#include <sql.h>
#include <sqlext.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "core/db/DbInterface.h"
#include "core/platform/Files.h"
#include "tests/support/records.h"

namespace {

using Record = std::vector<std::uint8_t>;

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}
std::string HostPath(const std::string& path) {  // Wine shows the host's root as Z:
  std::string text = "Z:" + path;
  std::replace(text.begin(), text.end(), '/', '\\');
  return text;
}

// The PostgreSQL server's connection text, or why there is none ("" = SQLite).
std::string PostgresConnection(std::string& whyNot) {
  const std::string dir = Env("VM_BACKEND_POSTGRES");
  if (dir.empty()) return "";
  std::ifstream connection(HostPath(dir + "/connection")), unavailable(HostPath(dir + "/unavailable"));
  std::string text;
  if (std::getline(connection, text) && !text.empty()) return text;
  std::getline(unavailable, whyNot);
  if (whyNot.empty()) whyNot = "the cluster script left no connection";
  return "";
}

Record Account(const std::string& aliases, const std::string& mailbox = "", const std::string& password = "",
               std::uint8_t kind = 0, std::uint8_t authMode = 0) {
  return records::NewAccount{
      .aliases = aliases, .mailbox = mailbox, .password = password, .kind = kind, .authMode = authMode}
      .Make<Record>();
}
std::string Aliases(const std::uint8_t* r) { return records::TextAt(r, records::user::Aliases); }

// The 22 entry points of one loaded copy of the library.
struct Db {
  HMODULE module = nullptr;
  core::DBSetConnectionProc SetConnection;
  core::DBReloadConfigProc ReloadConfig;
  core::DBDoneConnectionProc DoneConnection;
  core::DBGetDomainProc GetDomain;
  core::DBSetDomainProc SetDomain;
  core::DBAddDomainProc AddDomain;
  core::DBDeleteDomainProc DeleteDomain;
  core::DBRenameDomainProc RenameDomain;
  core::DBSetDomainIPProc SetDomainIP;
  core::DBGetDomainCountProc GetDomainCount;
  core::DBGetDomainsProc GetDomains;
  core::DBSaveUsersProc SaveUsers;
  core::DBGetUsersProc GetUsers;
  core::DBDeleteUsersProc DeleteUsers;
  core::DBGetUsersIndexProc GetUsersIndex;
  core::DBInitUsersProc InitUsers;
  core::DBNextUserProc NextUser;
  core::DBDoneUsersProc DoneUsers;
  core::DBCheckNewAliasProc CheckNewAlias;
  core::DBCheckForMailboxProc CheckForMailbox;
  core::DBGetMailBoxUserProc GetMailBoxUser;
  core::DBGetLocalUserProc GetLocalUser;

  template <typename Proc>
  void Bind(Proc& proc, const char* name) {
    proc = reinterpret_cast<Proc>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    ASSERT_NE(proc, nullptr) << name;
  }
  void Load(const std::string& path) {
    module = LoadLibraryA(path.c_str());
    ASSERT_NE(module, nullptr) << path;
    Bind(SetConnection, "DBSetConnection"), Bind(ReloadConfig, "DBReloadConfig");
    Bind(DoneConnection, "DBDoneConnection"), Bind(GetDomain, "DBGetDomain"), Bind(SetDomain, "DBSetDomain");
    Bind(AddDomain, "DBAddDomain"), Bind(DeleteDomain, "DBDeleteDomain"), Bind(RenameDomain, "DBRenameDomain");
    Bind(SetDomainIP, "DBSetDomainIP"), Bind(GetDomainCount, "DBGetDomainCount"), Bind(GetDomains, "DBGetDomains");
    Bind(SaveUsers, "DBSaveUsers"), Bind(GetUsers, "DBGetUsers"), Bind(DeleteUsers, "DBDeleteUsers");
    Bind(GetUsersIndex, "DBGetUsersIndex"), Bind(InitUsers, "DBInitUsers"), Bind(NextUser, "DBNextUser");
    Bind(DoneUsers, "DBDoneUsers"), Bind(CheckNewAlias, "DBCheckNewAlias");
    Bind(CheckForMailbox, "DBCheckForMailbox"), Bind(GetMailBoxUser, "DBGetMailBoxUser");
    Bind(GetLocalUser, "DBGetLocalUser");
  }
  void Unload() {
    if (module == nullptr) return;
    DoneConnection();
    FreeLibrary(module);
    module = nullptr;
  }
  std::string AliasesAt(const char* domain, std::int32_t index) {
    Record r(records::AccountSize, 0);
    return GetUsers(domain, r.data(), index) > index ? Aliases(r.data()) : "(none)";
  }
  std::vector<std::string> DomainNames() {
    const std::int32_t count = GetDomainCount();
    std::vector<std::uint8_t> entries(static_cast<std::size_t>(count + 1) * records::EntrySize, 0xAB);
    std::vector<std::string> names;
    if (count == 0 || GetDomains(entries.data(), count + 1) == 0) return names;
    for (std::int32_t i = 0; i <= count; ++i) {
      const std::uint8_t* e = entries.data() + static_cast<std::size_t>(i) * records::EntrySize;
      using records::entry::Address;
      std::string name = records::TextAt(e, records::entry::Name);
      if (e[Address] == 0xFF && e[Address + 3] == 0xFF) name += " [bound]";
      if (i == count) name = e[0] == 0 && e[Address] == 0 ? "(zero)" : "(garbage)";
      names.push_back(name);
    }
    return names;
  }
};

// The tables of the database, seen outside the library.
std::vector<std::string> Tables(std::string connection) {
  SQLHENV env = SQL_NULL_HENV;
  SQLHDBC dbc = SQL_NULL_HDBC;
  SQLHSTMT st = SQL_NULL_HSTMT;
  SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
  SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
  std::vector<std::string> names;
  if (SQL_SUCCEEDED(SQLDriverConnect(dbc, nullptr, reinterpret_cast<SQLCHAR*>(connection.data()), SQL_NTS, nullptr, 0,
                                     nullptr, SQL_DRIVER_NOPROMPT))) {
    SQLAllocHandle(SQL_HANDLE_STMT, dbc, &st);
    SQLCHAR type[] = "TABLE";
    SQLTables(st, nullptr, 0, nullptr, 0, nullptr, 0, type, SQL_NTS);
    char name[128] = {};
    SQLLEN length = 0;
    while (SQL_SUCCEEDED(SQLFetch(st)) && SQL_SUCCEEDED(SQLGetData(st, 3, SQL_C_CHAR, name, sizeof name, &length)))
      names.push_back(name);
    SQLFreeHandle(SQL_HANDLE_STMT, st);
    SQLDisconnect(dbc);
  }
  SQLFreeHandle(SQL_HANDLE_DBC, dbc);
  SQLFreeHandle(SQL_HANDLE_ENV, env);
  std::sort(names.begin(), names.end());
  return names;
}

// Runs statements on the database outside the library; false at the first
// that fails.
bool RunOutside(std::string connection, const std::vector<std::string>& statements) {
  SQLHENV env = SQL_NULL_HENV;
  SQLHDBC dbc = SQL_NULL_HDBC;
  SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
  SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
  bool ok = SQL_SUCCEEDED(SQLDriverConnect(dbc, nullptr, reinterpret_cast<SQLCHAR*>(connection.data()), SQL_NTS,
                                           nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT));
  if (ok) {
    for (std::string sql : statements) {
      SQLHSTMT st = SQL_NULL_HSTMT;
      SQLAllocHandle(SQL_HANDLE_STMT, dbc, &st);
      ok = ok && SQL_SUCCEEDED(SQLExecDirect(st, reinterpret_cast<SQLCHAR*>(sql.data()), SQL_NTS));
      SQLFreeHandle(SQL_HANDLE_STMT, st);
    }
    SQLDisconnect(dbc);
  }
  SQLFreeHandle(SQL_HANDLE_DBC, dbc);
  SQLFreeHandle(SQL_HANDLE_ENV, env);
  return ok;
}

class Backend : public ::testing::Test {
 protected:
  void SetUp() override {
    postgres = !Env("VM_BACKEND_POSTGRES").empty();
    std::string whyNot;
    connection = PostgresConnection(whyNot);
    if (postgres && connection.empty()) GTEST_SKIP() << "postgres: no server: " << whyNot;
    root = NewRoot("a");
    ASSERT_NO_FATAL_FAILURE(db.Load(root + "DB.dll"));
    db.SetConnection(connection.c_str());  // SQLite: "" = mail.db in the configuration folder
    ASSERT_EQ(db.ReloadConfig(), 1);
    for (const std::string& name : db.DomainNames()) {  // the server's database outlives each test
      if (name != "(zero)") {
        ASSERT_EQ(db.DeleteDomain(name.substr(0, name.find(" [")).c_str()), 1);
      }
    }
  }
  void TearDown() override {
    db.Unload();
    for (const std::string& folder : roots)
      core::DeleteDirectory(folder, "*.*", true);
  }
  // A fresh installation folder holding a copy of the library.
  std::string NewRoot(const char* tag) {
    static int serial = 0;
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    const std::string folder = std::string(temp) + "backend-" + std::to_string(GetCurrentProcessId()) + "-" +
                               std::to_string(++serial) + tag + "\\";
    CreateDirectoryA(folder.c_str(), nullptr);
    CreateDirectoryA((folder + "config").c_str(), nullptr);
    CopyFileA(HostPath(DB_BACKEND_PATH).c_str(), (folder + "DB.dll").c_str(), FALSE);
    roots.push_back(folder);
    return folder;
  }
  void Save(const char* domain, const std::vector<Record>& accounts) {
    for (const Record& r : accounts)
      ASSERT_EQ(db.SaveUsers(domain, r.data(), -1), 1) << Aliases(r.data());
  }
  // Connection text of this test's database for a library outside this one.
  std::string SharedConnection() {
    if (postgres) return connection;
    using ToUnix = char*(CDECL*)(const WCHAR*);
    const auto toUnix = reinterpret_cast<ToUnix>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    const std::string file = root + "config\\mail.db";
    char* path = toUnix(std::wstring(file.begin(), file.end()).c_str());
    const std::string text = std::string("Driver={SQLite3};Database=") + path;
    HeapFree(GetProcessHeap(), 0, path);
    return text;
  }

  bool postgres = false;
  std::string connection, root;
  std::vector<std::string> roots;
  Db db;
};

TEST_F(Backend, DomainsKeepNamesOrderRecordsAndBindings) {
  for (const char* name : {" One.Test ", "two.test", "caf\xE9.test", "x'); DROP TABLE domains; --", "50%_off.test"})
    EXPECT_EQ(db.AddDomain(name), 1) << name;
  for (const char* name : {"ONE.TEST", " ", "CAF\xE9.test"})
    EXPECT_EQ(db.AddDomain(name), 0) << name;  // known already (letters folded) or empty
  EXPECT_EQ(db.DomainNames(), (std::vector<std::string>{"one.test", "two.test", "caf\xE9.test",
                                                        "x'); drop table domains; --", "50%_off.test", "(zero)"}));
  Record record(records::DomainSize), read(records::DomainSize, 0xAB);
  for (std::size_t i = 0; i < record.size(); ++i)
    record[i] = static_cast<std::uint8_t>(i * 7);
  EXPECT_EQ(db.SetDomain("CAF\xE9.TEST", record.data()), 1);
  EXPECT_EQ(db.GetDomain("caf\xE9.test", read.data()), 1);
  EXPECT_EQ(read, record);
  for (const char* name : {"caf\xC9.test", "50%", "_wo.test", "%"}) {  // no other folding, no wildcards
    EXPECT_EQ(db.GetDomain(name, read.data()), 0) << name;
    EXPECT_EQ(db.SetDomain(name, record.data()), 0) << name;
  }
  EXPECT_EQ(db.SetDomainIP("two.test", "10.0.0.1;10.0.0.2"), 1);
  EXPECT_EQ(db.DomainNames()[1], "two.test [bound]");
  EXPECT_EQ(db.SetDomainIP("two.test", ""), 1);
  EXPECT_EQ(db.SetDomainIP("nowhere.test", "10.0.0.1"), 0);
  EXPECT_EQ(db.DomainNames()[1], "two.test");
  EXPECT_EQ(db.RenameDomain("two.test", "ONE.test"), 0);  // taken
  EXPECT_EQ(db.RenameDomain("nowhere.test", "x.test"), 0);
  EXPECT_EQ(db.RenameDomain("two.test", " "), 0);
  EXPECT_EQ(db.RenameDomain("two.test", "Deux.test"), 1);
  EXPECT_EQ(db.DeleteDomain("one.test"), 1);
  EXPECT_EQ(db.DeleteDomain("one.test"), 0);
  EXPECT_EQ(db.DomainNames(), (std::vector<std::string>{"deux.test", "caf\xE9.test", "x'); drop table domains; --",
                                                        "50%_off.test", "(zero)"}));
  Save("x'); drop table domains; --", {Account("o'brien;x\"y;--;100%;a_b;' OR 1=1 --")});
  for (const char* alias : {"O'BRIEN", "x\"y", "--", "100%", "a_b", "' or 1=1 --"})
    EXPECT_EQ(db.GetUsersIndex("x'); drop table domains; --", alias), 0) << alias;
  for (const char* alias : {"100", "a%", "axb", "o", "'"})
    EXPECT_LT(db.GetUsersIndex("x'); drop table domains; --", alias), 0) << alias;
  EXPECT_EQ(Tables(SharedConnection()), (std::vector<std::string>{"account_aliases", "accounts", "domains"}));
}

TEST_F(Backend, AccountPositionsStayDenseAndLookupsUseTheAliases) {
  ASSERT_EQ(db.AddDomain("a.test"), 1);
  Save("a.test", {Account("a0"), Account("a1")});
  EXPECT_EQ(db.SaveUsers("a.test", Account("a2").data(), 2), 1);  // index == count appends
  Save("a.test", {Account("a3")});
  EXPECT_EQ(db.SaveUsers("a.test", Account("x").data(), 5), 0);
  EXPECT_EQ(db.SaveUsers("a.test", Account("x").data(), -2), 0);
  EXPECT_EQ(db.SaveUsers("a.test", Account(" ; ").data(), -1), 0);  // no alias
  EXPECT_EQ(db.SaveUsers("nowhere.test", Account("x").data(), -1), 0);
  EXPECT_EQ(db.SaveUsers("a.test", Account("b1; Shared").data(), 1), 1);
  EXPECT_EQ(db.AliasesAt("a.test", 1), "b1; Shared");
  EXPECT_EQ(db.GetUsersIndex("A.TEST", "nope;SHARED"), 1);
  EXPECT_LT(db.GetUsersIndex("a.test", "a1"), 0);  // replaced aliases are gone
  Record buffer(records::AccountSize, 0xAB);
  EXPECT_EQ(db.GetUsers("a.test", buffer.data(), 9), 4);
  EXPECT_EQ(buffer, Record(records::AccountSize, 0xAB));
  EXPECT_EQ(db.GetUsers("nowhere.test", buffer.data(), 0), 0);
  EXPECT_EQ(db.GetUsers("a.test", buffer.data(), 2), 4);
  EXPECT_EQ(db.DeleteUsers(2), 1);
  EXPECT_EQ(db.GetUsers("a.test", buffer.data(), 7), 3);
  EXPECT_EQ(db.DeleteUsers(7), 0);
  EXPECT_EQ(db.AliasesAt("a.test", 0) + "|" + db.AliasesAt("a.test", 1) + "|" + db.AliasesAt("a.test", 2),
            "a0|b1; Shared|a3");
  EXPECT_EQ(db.GetUsersIndex("a.test", "a3"), 2);
  std::string many;  // more aliases than one statement takes
  for (int i = 0; i < 40; ++i)
    many += "m" + std::to_string(i) + ";";
  Save("a.test", {Account(many)});
  EXPECT_EQ(db.GetUsersIndex("a.test", "zz;M39"), 3);
  EXPECT_EQ(db.GetUsersIndex("a.test", (many + "a0").c_str()), 0);
  EXPECT_EQ(db.CheckNewAlias("a.test", "zz;A0"), 0);
  EXPECT_EQ(db.CheckNewAlias("a.test", "zz;a1"), 1);
  EXPECT_EQ(db.CheckNewAlias("nowhere.test", "a0"), 1);
  EXPECT_EQ(db.DeleteDomain("a.test"), 1);
  ASSERT_EQ(db.AddDomain("a.test"), 1);
  EXPECT_EQ(db.GetUsers("a.test", buffer.data(), 0), 0);  // the accounts went with the domain
  EXPECT_LT(db.GetUsersIndex("a.test", "a0"), 0);
}

// Another process's deletion moves positions between a caller's read and its
// delete: the account read is deleted, not its new neighbour.
TEST_F(Backend, DeleteRemovesTheAccountThatWasReadWhilePositionsMove) {
  ASSERT_EQ(db.AddDomain("d.test"), 1);
  Save("d.test", {Account("a0"), Account("a1"), Account("a2"), Account("a3")});
  const std::string other = NewRoot("b");
  Db second;
  if (!postgres) {  // the other installation's path.cfg names this one's configuration folder
    std::ofstream(other + "path.cfg") << root << "config  # shared\r\n";
  }
  ASSERT_NO_FATAL_FAILURE(second.Load(other + "DB.dll"));
  second.SetConnection(postgres ? connection.c_str() : "");
  ASSERT_EQ(second.ReloadConfig(), 1);
  Record r(records::AccountSize);
  EXPECT_EQ(db.GetUsers("d.test", r.data(), 2), 4);
  EXPECT_EQ(second.GetUsers("d.test", r.data(), 0), 4);
  EXPECT_EQ(second.DeleteUsers(0), 1);
  EXPECT_EQ(db.DeleteUsers(2), 1);
  EXPECT_EQ(db.AliasesAt("d.test", 0) + "|" + db.AliasesAt("d.test", 1) + "|" + db.AliasesAt("d.test", 2),
            "a1|a3|(none)");
  second.Unload();
}

TEST_F(Backend, WalkFillsTheBlockAccountByAccount) {
  ASSERT_EQ(db.AddDomain("W.test"), 1);
  std::vector<Record> accounts;
  for (int i = 0; i < 40; ++i)  // more than one read-ahead
    accounts.push_back(Account("w" + std::to_string(i)));
  Save("w.test", accounts);
  Record block(core::DbEnumerationSize, 0), other(core::DbEnumerationSize, 0);
  block[core::DbEnumOptionOffset] = 7;
  EXPECT_EQ(db.InitUsers("nowhere.test", block.data(), -1, 0, ""), 0);
  ASSERT_EQ(db.InitUsers("W.TEST", block.data(), -1, 0, ""), 1);
  const auto int32At = [](const Record& b, int offset) { return *reinterpret_cast<const std::int32_t*>(&b[offset]); };
  EXPECT_EQ(block[core::DbEnumOpenOffset], 1);
  EXPECT_EQ(int32At(block, core::DbEnumPositionOffset), -1);
  EXPECT_EQ(int32At(block, core::DbEnumCountOffset), 40);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(&block[core::DbEnumDomainOffset + 1]), block[core::DbEnumDomainOffset]),
            "w.test");
  EXPECT_EQ(block[core::DbEnumOptionOffset], 7);
  ASSERT_EQ(db.InitUsers("w.test", other.data(), -1, 3, ""), 1);  // skips three: stands on index 2
  EXPECT_EQ(int32At(other, core::DbEnumPositionOffset), 2);
  for (int i = 0; i < 40; ++i) {
    ASSERT_EQ(db.NextUser(block.data()), 0) << i;
    EXPECT_EQ(Aliases(block.data()), "w" + std::to_string(i));
    EXPECT_EQ(int32At(block, core::DbEnumPositionOffset), i);
    if (i < 37) {  // the second walk goes on beside the first
      ASSERT_EQ(db.NextUser(other.data()), 0);
      EXPECT_EQ(Aliases(other.data()), "w" + std::to_string(i + 3));
    }
  }
  EXPECT_EQ(db.NextUser(block.data()), 1);
  EXPECT_EQ(db.NextUser(other.data()), 1);
  EXPECT_EQ(db.DoneUsers(block.data()), 1);
  EXPECT_EQ(block[core::DbEnumOpenOffset], 0);
  EXPECT_EQ(db.NextUser(block.data()), 1);
  EXPECT_EQ(db.DoneUsers(other.data()), 1);
}

TEST_F(Backend, LoginsAndChecksFollowTheRecordFiles) {
  ASSERT_EQ(db.AddDomain("d1.test"), 1);
  ASSERT_EQ(db.AddDomain("d2.test"), 1);
  Save("d1.test",
       {Account("ann;anne", "Ann", "secret"), Account("carl", "shared", "one"), Account("win", "win", "x", 0, 1),
        Account("free", "free", "", 0, 3), Account("list", "list", "l", 1), Account("ren\xE9", "Ren\xC9", "p\xE4ss")});
  Save("d2.test", {Account("ann", "ann2", "other"), Account("dora", "shared", "two")});
  struct Case {
    const char* login;
    const char* password;
    const char* ip;
    int fullAddress;
    const char* expected;  // "alias list@domain", or "" for refused
  };
  const Case logins[] = {
      {"ANN", "secret", "", 0, "ann;anne@d1.test"},
      {" ann ", "secret", "", 0, "ann;anne@d1.test"},
      {"ann", "Secret", "", 0, ""},
      {"ann", "secret", "", 1, ""},                           // full address wanted
      {"ann@d1.test", "secret", "", 0, ""},                   // an alias counts only with full addresses
      {"ANNE@D1.test", "secret", "", 1, "ann;anne@d1.test"},  // alias in the login's domain
      {"ann@d2.test", "other", "", 1, "ann@d2.test"},
      {"ann@d2.test", "secret", "", 1, ""},
      {"ann@nowhere.test", "secret", "", 1, ""},
      {"shared", "two", "", 0, "dora@d2.test"},
      {"shared", "one", "", 0, "carl@d1.test"},
      {"win", "x", "", 0, ""},  // outside check: not possible here
      {"free", "any", "", 0, "free@d1.test"},
      {"list", "l", "", 0, ""},           // not a mailbox account
      {"ren\xE9", "p\xE4ss", "", 0, ""},  // only ASCII letters fold
      {"REN\xC9", "p\xE4ss", "", 0, "ren\xE9@d1.test"},
  };
  const auto login = [&](const Case& c) {
    Record r(records::AccountSize, 0);
    char domain[core::DbDomainNameOutSize];
    std::memset(domain, 'x', sizeof domain);
    if (db.GetMailBoxUser(0, c.login, c.password, r.data(), domain, c.ip, c.fullAddress) == 0) return std::string();
    return Aliases(r.data()) + "@" + domain;
  };
  for (const Case& c : logins)
    EXPECT_EQ(login(c), c.expected) << c.login << " / " << c.password << " / " << c.fullAddress;
  Record r(records::AccountSize);
  char domain[core::DbDomainNameOutSize];
  EXPECT_EQ(db.GetMailBoxUser(1, "ANN", "secret", r.data(), domain, "", 0), 0);  // other methods

  ASSERT_EQ(db.SetDomainIP("d1.test", "10.0.0.1"), 1);  // the first domain is bound: bindings are in use
  const Case bound[] = {
      {"ann", "secret", "10.0.0.2", 0, ""},
      {"ann", "secret", "10.0.0.1", 0, "ann;anne@d1.test"},
      {"ann", "secret", "", 0, "ann;anne@d1.test"},
      {"shared", "two", "10.0.0.1", 0, "dora@d2.test"},  // the bound domain first, then every domain
  };
  for (const Case& c : bound)
    EXPECT_EQ(login(c), c.expected) << c.login << " / " << c.ip;

  struct MailboxCase {
    const char* mailbox;
    const char* password;
    const char* aliases;
    int usesBinding;
    const char* domain;
    int expected;
  };
  const MailboxCase mailboxes[] = {
      {"SHARED", "one", "zed", 0, "d2.test", 1},   // carl in d1
      {"shared", "one", "carl", 0, "d1.test", 0},  // the account itself
      {"shared", "one", "zed", 0, "d1.test", 1},
      {"shared", "one", "zed", 1, "d2.test", 0},  // d2 is unbound: only its own accounts
      {"shared", "", "zed", 0, "d1.test", 0},
  };
  for (const MailboxCase& c : mailboxes)
    EXPECT_EQ(db.CheckForMailbox(c.mailbox, c.password, c.aliases, c.usesBinding, c.domain), c.expected)
        << c.mailbox << " / " << c.password << " / " << c.domain << " / " << c.usesBinding;

  const std::pair<const char*, const char*> local[] = {
      {"ANNE@D1.TEST", "ann;anne"}, {"ann@d2.test", "ann"}, {"nobody@d1.test", ""}, {"ann", ""}, {"@d1.test", ""}};
  for (const auto& [address, expected] : local) {
    Record found(records::AccountSize, 0);
    const bool ok = db.GetLocalUser(address, found.data()) != 0;
    EXPECT_EQ(ok ? Aliases(found.data()) : "", expected) << address;
  }
}

TEST_F(Backend, TwoProcessesAppendingToOneDomainLeaveDensePositions) {
  ASSERT_EQ(db.AddDomain("busy.test"), 1);
  constexpr int PerProcess = 60;
  const std::string start = "backend-start-" + std::to_string(GetCurrentProcessId());
  const HANDLE go = CreateEventA(nullptr, TRUE, FALSE, start.c_str());
  const HANDLE ready = CreateSemaphoreA(nullptr, 0, 2, (start + " ready").c_str());
  std::vector<PROCESS_INFORMATION> children;
  for (const char* prefix : {"p", "q"}) {
    std::string command = "\"" + HostPath(BACKEND_CHILD_PATH) + "\" \"" + root + "DB.dll\" \"" +
                          (postgres ? connection : "-") + "\" busy.test " + prefix + " " + std::to_string(PerProcess) +
                          " \"" + start + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(
        CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process));
    children.push_back(process);
  }
  for (int i = 0; i < 2; ++i)  // both connected: go
    EXPECT_EQ(WaitForSingleObject(ready, 30000), WAIT_OBJECT_0);
  SetEvent(go);
  for (const PROCESS_INFORMATION& process : children) {
    if (WaitForSingleObject(process.hProcess, 60000) != WAIT_OBJECT_0) {
      ADD_FAILURE() << "a child hangs";
      TerminateProcess(process.hProcess, 99);
      WaitForSingleObject(process.hProcess, 10000);
    }
    DWORD failed = 1;
    GetExitCodeProcess(process.hProcess, &failed);
    EXPECT_EQ(failed, 0u);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  CloseHandle(go);
  CloseHandle(ready);
  Record r(records::AccountSize);
  ASSERT_EQ(db.GetUsers("busy.test", r.data(), 0), 2 * PerProcess);
  int next[2] = {0, 0};  // each process's accounts in its own order, none missing
  for (int i = 0; i < 2 * PerProcess; ++i) {
    const std::string alias = db.AliasesAt("busy.test", i);
    const int who = alias[0] == 'p' ? 0 : 1;
    EXPECT_EQ(alias.substr(1), std::to_string(next[who]++)) << "position " << i;
  }
  EXPECT_EQ(next[0], PerProcess);
  EXPECT_EQ(next[1], PerProcess);
}

// The fixture script wrote the database; it reads back what this test
// writes (tests/backend/backend_fixture.py holds both sides).
TEST_F(Backend, ReadsAndWritesTheIndependentFixture) {
  const std::string file = Env("VM_BACKEND_FIXTURE");
  if (postgres || file.empty()) GTEST_SKIP() << "the fixture is a SQLite file";
  db.SetConnection(("Driver={SQLite3};Database=" + file).c_str());
  ASSERT_EQ(db.ReloadConfig(), 1);
  EXPECT_EQ(db.DomainNames(), (std::vector<std::string>{"alpha.test [bound]", "caf\xE9.test", "(zero)"}));
  Record record(records::DomainSize);
  ASSERT_EQ(db.GetDomain("CAF\xE9.test", record.data()), 1);
  for (std::size_t i = 0; i < record.size(); ++i)
    ASSERT_EQ(record[i], i % 251) << i;
  EXPECT_EQ(db.AliasesAt("alpha.test", 2), "ren\xC9; r\xE9ne ");
  EXPECT_EQ(db.GetUsersIndex("alpha.test", "REN\xC9"), 2);
  EXPECT_LT(db.GetUsersIndex("alpha.test", "ren\xE9"), 0);
  EXPECT_EQ(db.GetUsersIndex("alpha.test", "R\xE9NE"), 2);
  Record account(records::AccountSize);
  char domain[core::DbDomainNameOutSize];
  EXPECT_EQ(db.GetMailBoxUser(0, "ren\xE9", "p\xE4ss", account.data(), domain, "10.0.0.2", 0), 1);
  EXPECT_EQ(std::string(domain), "alpha.test");

  ASSERT_EQ(db.AddDomain("Neu.test"), 1);
  ASSERT_EQ(db.SaveUsers("caf\xE9.test", Account("J\xFCrgen;jy", "J\xFCrgen", "x").data(), -1), 1);
  ASSERT_EQ(db.GetUsers("alpha.test", account.data(), 1), 3);
  ASSERT_EQ(db.DeleteUsers(1), 1);
  ASSERT_EQ(db.SetDomainIP("caf\xE9.test", "192.0.2.7"), 1);
  ASSERT_EQ(db.RenameDomain("alpha.test", "alpha2.test"), 1);
  std::ofstream(HostPath(file + ".done")) << "done\n";
}

// Writes that cannot be made (SQLite cannot create its journal; another
// process holds the lock) fail within seconds, and afterwards every answer
// is what the database holds and writes go through again.
TEST_F(Backend, FailedWritesLeaveAConnectionThatAnswersWhatIsStored) {
  ASSERT_EQ(db.AddDomain("keep.test"), 1);
  Save("keep.test", {Account("a0")});
  const std::string journal = root + "config\\mail.db-journal";
  const std::string name = "backend-hold-" + std::to_string(GetCurrentProcessId());
  const HANDLE go = CreateEventA(nullptr, TRUE, FALSE, name.c_str());
  const HANDLE ready = CreateSemaphoreA(nullptr, 0, 1, (name + " ready").c_str());
  PROCESS_INFORMATION holder{};
  const auto holdElsewhere = [&] {
    std::string command =
        "\"" + HostPath(BACKEND_CHILD_PATH) + "\" hold \"" + SharedConnection() + "\" \"" + name + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    ResetEvent(go);
    return CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &holder) &&
           WaitForSingleObject(ready, 30000) == WAIT_OBJECT_0;
  };
  const auto release = [&] {
    SetEvent(go);
    DWORD code = 1;
    const bool ended = WaitForSingleObject(holder.hProcess, 30000) == WAIT_OBJECT_0;
    GetExitCodeProcess(holder.hProcess, &code);
    CloseHandle(holder.hThread);
    CloseHandle(holder.hProcess);
    return ended && code == 0;
  };
  struct Obstacle {
    const char* what;
    bool sqliteOnly;
    std::function<bool()> put, remove;
    const char* account;
    const char* domain;
    std::vector<std::string> domainsAfter;
  };
  const Obstacle obstacles[] = {
      {"no journal",
       true,
       [&] { return CreateDirectoryA(journal.c_str(), nullptr) != 0; },
       [&] { return RemoveDirectoryA(journal.c_str()) != 0; },
       "j1",
       "j.test",
       {"keep.test", "j.test", "(zero)"}},
      {"locked elsewhere", false, holdElsewhere, release, "h1", "h.test", {"keep.test", "h.test", "(zero)"}},
      {"locked elsewhere, a text without Timeout=",
       true,
       [&] {
         db.SetConnection(SharedConnection().c_str());
         return db.ReloadConfig() == 1 && holdElsewhere();
       },
       release,
       "t1",
       "t.test",
       {"keep.test", "t.test", "(zero)"}},
  };
  for (const Obstacle& o : obstacles) {
    if (postgres && o.sqliteOnly) continue;
    SCOPED_TRACE(o.what);
    ASSERT_TRUE(o.put());
    for (const auto& write : std::vector<std::function<std::int32_t()>>{
             [&] { return db.SaveUsers("keep.test", Account(o.account).data(), -1); },
             [&] { return db.AddDomain(o.domain); }}) {
      const auto start = std::chrono::steady_clock::now();
      EXPECT_EQ(write(), 0);
      EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    }
    ASSERT_TRUE(o.remove());
    EXPECT_EQ(db.DomainNames(), (std::vector<std::string>{"keep.test", "(zero)"}));
    EXPECT_EQ(db.AliasesAt("keep.test", 0) + "|" + db.AliasesAt("keep.test", 1), "a0|(none)");
    EXPECT_EQ(db.SaveUsers("keep.test", Account(o.account).data(), 1), 1);
    EXPECT_EQ(db.AddDomain(o.domain), 1);
    EXPECT_EQ(db.DomainNames(), o.domainsAfter);
    EXPECT_EQ(db.AliasesAt("keep.test", 0) + "|" + db.AliasesAt("keep.test", 1), std::string("a0|") + o.account);
    ASSERT_EQ(db.DeleteDomain(o.domain), 1);
    ASSERT_EQ(db.GetUsers("keep.test", Record(core::DbAccountRecordSize).data(), 1), 2);
    ASSERT_EQ(db.DeleteUsers(1), 1);
  }
  CloseHandle(go);
  CloseHandle(ready);
}

// A write refused part-way (a trigger refuses the alias "zz" after the
// account row and its first alias went in) leaves nothing of itself behind.
TEST_F(Backend, AWriteRefusedPartWayIsRolledBack) {
  ASSERT_EQ(db.AddDomain("r.test"), 1);
  Save("r.test", {Account("a0")});
  const std::vector<std::string> refuse =
      postgres ? std::vector<std::string>{"CREATE OR REPLACE FUNCTION refuse_zz() RETURNS trigger AS $$ BEGIN "
                                          "IF NEW.alias = 'zz'::bytea THEN RAISE EXCEPTION 'refused'; END IF; "
                                          "RETURN NEW; END $$ LANGUAGE plpgsql",
                                          "DROP TRIGGER IF EXISTS refuse_zz ON account_aliases",
                                          "CREATE TRIGGER refuse_zz BEFORE INSERT ON account_aliases FOR EACH ROW "
                                          "EXECUTE FUNCTION refuse_zz()"}
               : std::vector<std::string>{"CREATE TRIGGER refuse_zz BEFORE INSERT ON account_aliases "
                                          "WHEN NEW.alias = X'7A7A' BEGIN SELECT RAISE(ABORT, 'refused'); END"};
  ASSERT_TRUE(RunOutside(SharedConnection(), refuse));
  EXPECT_EQ(db.SaveUsers("r.test", Account("new;zz").data(), -1), 0);
  EXPECT_EQ(db.SaveUsers("r.test", Account("b0;zz").data(), 0), 0);
  EXPECT_EQ(db.AliasesAt("r.test", 0) + "|" + db.AliasesAt("r.test", 1), "a0|(none)");
  for (const char* alias : {"new", "b0", "zz"})
    EXPECT_LT(db.GetUsersIndex("r.test", alias), 0) << alias;
  EXPECT_EQ(db.GetUsersIndex("r.test", "a0"), 0);
  ASSERT_TRUE(RunOutside(SharedConnection(),
                         {postgres ? "DROP TRIGGER refuse_zz ON account_aliases" : "DROP TRIGGER refuse_zz"}));
  EXPECT_EQ(db.SaveUsers("r.test", Account("b0;zz").data(), 0), 1);  // the connection goes on
  EXPECT_EQ(db.GetUsersIndex("r.test", "zz"), 0);
}

TEST_F(Backend, AnUnusableDatabaseAnswersFailureValues) {
  if (!postgres) {
    EXPECT_TRUE(core::FileExists(root + "config\\mail.db"));  // the default database
  }
  ASSERT_EQ(db.AddDomain("keep.test"), 1);
  db.SetConnection("Driver={No Such Driver};Database=nothing");
  EXPECT_EQ(db.ReloadConfig(), 0);
  Record r(records::AccountSize, 0), block(core::DbEnumerationSize, 0);
  char domain[core::DbDomainNameOutSize];
  const std::pair<const char*, std::function<std::int32_t()>> calls[] = {
      {"GetDomain", [&] { return db.GetDomain("keep.test", r.data()); }},
      {"SetDomain", [&] { return db.SetDomain("keep.test", r.data()); }},
      {"AddDomain", [&] { return db.AddDomain("new.test"); }},
      {"DeleteDomain", [&] { return db.DeleteDomain("keep.test"); }},
      {"RenameDomain", [&] { return db.RenameDomain("keep.test", "x.test"); }},
      {"SetDomainIP", [&] { return db.SetDomainIP("keep.test", "10.0.0.1"); }},
      {"GetDomainCount", [&] { return db.GetDomainCount(); }},
      {"GetDomains", [&] { return db.GetDomains(r.data(), 1); }},
      {"SaveUsers", [&] { return db.SaveUsers("keep.test", Account("a").data(), -1); }},
      {"GetUsers", [&] { return db.GetUsers("keep.test", r.data(), 0) + 1; }},  // -1: not an empty domain
      {"DeleteUsers", [&] { return db.DeleteUsers(0); }},
      {"GetUsersIndex", [&] { return db.GetUsersIndex("keep.test", "a") + 1; }},
      {"InitUsers", [&] { return db.InitUsers("keep.test", block.data(), -1, 0, ""); }},
      {"NextUser", [&] { return 1 - db.NextUser(block.data()); }},
      {"CheckNewAlias", [&] { return db.CheckNewAlias("keep.test", "a"); }},
      {"CheckForMailbox", [&] { return db.CheckForMailbox("a", "b", "c", 0, "keep.test"); }},
      {"GetMailBoxUser", [&] { return db.GetMailBoxUser(0, "a", "b", r.data(), domain, "", 0); }},
      {"GetLocalUser", [&] { return db.GetLocalUser("a@keep.test", r.data()); }},
      {"GetDomain null", [&] { return db.GetDomain("keep.test", nullptr); }},
      {"GetMailBoxUser null", [&] { return db.GetMailBoxUser(0, "a", "b", r.data(), nullptr, "", 0); }},
  };
  for (const auto& [name, call] : calls)
    EXPECT_EQ(call(), 0) << name;
  db.SetConnection(connection.c_str());
  ASSERT_EQ(db.ReloadConfig(), 1);  // back again, nothing lost
  EXPECT_EQ(db.DomainNames(), (std::vector<std::string>{"keep.test", "(zero)"}));
}

}  // namespace
