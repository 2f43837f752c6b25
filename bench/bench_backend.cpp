// The database back end DB.dll on SQLite with 100,000 accounts in one domain:
//  - appends through DBSaveUsers (one transaction each, in batches of 10,000
//    whose times show whether an append slows as the domain grows) against a
//    bulk insert of the same rows in one transaction;
//  - DBGetMailBoxUser per login against a bare prepared SELECT of the record
//    by mailbox name (target: well under a millisecond per login, warm);
//  - DBGetUsersIndex per look-up; bench/bench_backend.sh compares it with the
//    sqlite3 command-line tool running the same look-ups (lookups.sql).
// Argument: a host folder to work in. Run through bench/bench_backend.sh.
#include <windows.h>

#include <sql.h>
#include <sqlext.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "bench/harness.h"
#include "core/db/DbInterface.h"

namespace {

constexpr int Accounts = 100000;
constexpr int Batch = 10000;
constexpr int Lookups = 10000;

std::vector<std::uint8_t> Account(int i) {
  std::vector<std::uint8_t> r(core::DbAccountRecordSize, 0);
  const auto put = [&](int offset, const std::string& text) {
    r[offset] = static_cast<std::uint8_t>(text.size());
    std::copy(text.begin(), text.end(), r.begin() + offset + 1);
  };
  const std::string n = std::to_string(i);
  put(core::DbAccountAliasOffset, "user" + n + ";alias" + n);
  put(core::DbAccountMailboxOffset, "Mailbox" + n);
  put(core::DbAccountPasswordOffset, "pw" + n);
  return r;
}

std::string Hex(const std::string& bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  for (const unsigned char c : bytes)
    out += {digits[c >> 4], digits[c & 15]};
  return out;
}

long long Now() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

template <typename Proc>
Proc Entry(HMODULE module, const char* name) {
  return reinterpret_cast<Proc>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// The baseline's own ODBC connection.
struct Raw {
  SQLHENV env = SQL_NULL_HENV;
  SQLHDBC dbc = SQL_NULL_HDBC;
  explicit Raw(std::string text) {
    SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
    SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
    SQLDriverConnect(dbc, nullptr, reinterpret_cast<SQLCHAR*>(text.data()), SQL_NTS, nullptr, 0, nullptr,
                     SQL_DRIVER_NOPROMPT);
  }
  ~Raw() {
    SQLDisconnect(dbc);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    SQLFreeHandle(SQL_HANDLE_ENV, env);
  }
  SQLHSTMT Prepare(const char* sql) {
    SQLHSTMT st = SQL_NULL_HSTMT;
    SQLAllocHandle(SQL_HANDLE_STMT, dbc, &st);
    SQLPrepare(st, reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql)), SQL_NTS);
    return st;
  }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: bench_backend HOST-FOLDER\n");
    return 2;
  }
  const std::string folder = std::string(argv[1]) + "/";
  std::string library = std::string("Z:") + DB_BACKEND_PATH;  // Wine shows the host's root as Z:
  for (char& c : library)
    c = c == '/' ? '\\' : c;
  const HMODULE db = LoadLibraryA(library.c_str());
  if (db == nullptr) {
    std::fprintf(stderr, "cannot load %s\n", library.c_str());
    return 1;
  }
  const auto setConnection = Entry<core::DBSetConnectionProc>(db, "DBSetConnection");
  const auto reload = Entry<core::DBReloadConfigProc>(db, "DBReloadConfig");
  const auto addDomain = Entry<core::DBAddDomainProc>(db, "DBAddDomain");
  const auto save = Entry<core::DBSaveUsersProc>(db, "DBSaveUsers");
  const auto index = Entry<core::DBGetUsersIndexProc>(db, "DBGetUsersIndex");
  const auto login = Entry<core::DBGetMailBoxUserProc>(db, "DBGetMailBoxUser");

  // Baseline first: the schema made by the back end, the rows by one bulk insert.
  const std::string bulkText = "Driver={SQLite3};Database=" + folder + "bulk.db";
  setConnection(bulkText.c_str());
  if (reload() == 0 || addDomain("bench.test") == 0) {
    std::fprintf(stderr, "no database (is ODBCSYSINI set?)\n");
    return 1;
  }
  long long bulk = 0;
  {
    Raw raw(bulkText);
    SQLHSTMT account =
        raw.Prepare("INSERT INTO accounts (id, domain_id, position, mailbox, record) VALUES (?, 1, ?, ?, ?)");
    SQLHSTMT alias = raw.Prepare("INSERT INTO account_aliases (account_id, domain_id, alias) VALUES (?, 1, ?)");
    const long long start = Now();
    SQLSetConnectAttr(raw.dbc, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0);
    for (int i = 0; i < Accounts; ++i) {
      std::vector<std::uint8_t> record = Account(i);
      SQLINTEGER id = i + 1, position = i;
      std::string mailbox = "mailbox" + std::to_string(i);
      SQLLEN mailboxLength = static_cast<SQLLEN>(mailbox.size()), recordLength = core::DbAccountRecordSize;
      SQLLEN zero = 0;
      SQLBindParameter(account, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &id, 0, &zero);
      SQLBindParameter(account, 2, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &position, 0, &zero);
      SQLBindParameter(account, 3, SQL_PARAM_INPUT, SQL_C_BINARY, SQL_VARBINARY, mailbox.size(), 0, mailbox.data(),
                       mailboxLength, &mailboxLength);
      SQLBindParameter(account, 4, SQL_PARAM_INPUT, SQL_C_BINARY, SQL_VARBINARY, record.size(), 0, record.data(),
                       recordLength, &recordLength);
      SQLExecute(account);
      for (const std::string& key : {"user" + std::to_string(i), "alias" + std::to_string(i)}) {
        SQLLEN keyLength = static_cast<SQLLEN>(key.size());
        SQLBindParameter(alias, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &id, 0, &zero);
        SQLBindParameter(alias, 2, SQL_PARAM_INPUT, SQL_C_BINARY, SQL_VARBINARY, key.size(), 0,
                         const_cast<char*>(key.data()), keyLength, &keyLength);
        SQLExecute(alias);
      }
    }
    SQLEndTran(SQL_HANDLE_DBC, raw.dbc, SQL_COMMIT);
    bulk = Now() - start;
    SQLFreeHandle(SQL_HANDLE_STMT, account);
    SQLFreeHandle(SQL_HANDLE_STMT, alias);
  }

  // Ours: every account its own call and transaction.
  const std::string oursText = "Driver={SQLite3};Database=" + folder + "ours.db";
  setConnection(oursText.c_str());
  if (reload() == 0 || addDomain("bench.test") == 0) return 1;
  long long appends = 0;
  for (int b = 0; b < Accounts / Batch; ++b) {
    const long long start = Now();
    for (int i = b * Batch; i < (b + 1) * Batch; ++i) {
      if (save("bench.test", Account(i).data(), -1) == 0) {
        std::fprintf(stderr, "append %d failed\n", i);
        return 1;
      }
    }
    const long long took = Now() - start;
    appends += took;
    std::printf("backend_append batch %d: %.1f us per account\n", b + 1, took / 1000.0 / Batch);
  }
  bench::Report("backend_append_100000", appends, bulk);

  // Logins and look-ups over a fixed spread of accounts, warm.
  std::vector<int> picks;
  for (std::uint32_t x = 12345, i = 0; i < Lookups; ++i) {
    x = x * 1103515245u + 12345u;
    picks.push_back(static_cast<int>((x >> 8) % Accounts));
  }
  std::vector<std::uint8_t> record(core::DbAccountRecordSize);
  char domain[core::DbDomainNameOutSize];
  const auto logins = [&] {
    int accepted = 0;
    for (const int i : picks)
      accepted += login(0, ("mailbox" + std::to_string(i)).c_str(), ("pw" + std::to_string(i)).c_str(), record.data(),
                        domain, "", 0);
    return accepted;
  };
  if (logins() != Lookups) std::fprintf(stderr, "some logins were refused\n");
  const long long ours = bench::MedianNanoseconds(3, logins) / Lookups;
  long long bare = 0;
  {
    Raw raw(oursText);
    SQLHSTMT select = raw.Prepare("SELECT record FROM accounts WHERE mailbox = ?");
    const auto selects = [&] {
      int found = 0;
      for (const int i : picks) {
        std::string key = "mailbox" + std::to_string(i);
        SQLLEN length = static_cast<SQLLEN>(key.size()), got = 0;
        SQLBindParameter(select, 1, SQL_PARAM_INPUT, SQL_C_BINARY, SQL_VARBINARY, key.size(), 0, key.data(), length,
                         &length);
        SQLExecute(select);
        if (SQL_SUCCEEDED(SQLFetch(select))) {
          SQLGetData(select, 1, SQL_C_BINARY, record.data(), static_cast<SQLLEN>(record.size()), &got);
          ++found;
        }
        SQLFreeStmt(select, SQL_CLOSE);
      }
      return found;
    };
    selects();
    bare = bench::MedianNanoseconds(3, selects) / Lookups;
    SQLFreeHandle(SQL_HANDLE_STMT, select);
  }
  bench::Report("backend_login", ours, bare);
  std::printf("backend_login: %.1f us per login\n", ours / 1000.0);

  const auto lookups = [&] {
    int found = 0;
    for (const int i : picks)
      found += index("bench.test", ("alias" + std::to_string(i)).c_str()) == i ? 1 : 0;
    return found;
  };
  if (lookups() != Lookups) std::fprintf(stderr, "some look-ups went wrong\n");
  std::printf("backend_index_ours_ns=%lld\n", bench::MedianNanoseconds(3, lookups) / Lookups);
  std::ofstream sql(std::string("Z:") + folder + "lookups.sql");
  for (const int i : picks) {
    sql << "SELECT MIN(a.position) FROM account_aliases x JOIN accounts a ON a.id = x.account_id WHERE x.domain_id = "
           "(SELECT id FROM domains WHERE name = X'"
        << Hex("bench.test") << "') AND x.alias IN (X'" << Hex("alias" + std::to_string(i)) << "');\n";
  }
  Entry<core::DBDoneConnectionProc>(db, "DBDoneConnection")();
  FreeLibrary(db);
  return 0;
}
