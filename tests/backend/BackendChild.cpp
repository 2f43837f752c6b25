// Second process of the back-end tests: loads a DB.dll, connects and appends
// accounts to one domain, as another service or tool sharing the database
// would. Arguments: library, connection text ("-" for the default), domain,
// alias prefix, count, name of the start event. Once connected it releases
// the semaphore of that name + " ready" and waits for the event, so that
// every child appends at the same time. Exit code: the number of appends
// that failed, or 100 when the library could not be used at all.
//
// "hold", connection text, event name: takes the database's write lock
// (SQLite: the whole file, readers too; PostgreSQL: the three tables)
// outside the library, releases the semaphore of that name + " ready" and
// keeps the lock until the event is set.
#include <windows.h>

#include <sql.h>
#include <sqlext.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/db/DbInterface.h"
#include "tests/support/records.h"

namespace {

int Hold(std::string connection, const char* event) {
  SQLHENV env = SQL_NULL_HENV;
  SQLHDBC dbc = SQL_NULL_HDBC;
  SQLHSTMT st = SQL_NULL_HSTMT;
  SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
  SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
  if (!SQL_SUCCEEDED(SQLDriverConnect(dbc, nullptr, reinterpret_cast<SQLCHAR*>(connection.data()), SQL_NTS, nullptr, 0,
                                      nullptr, SQL_DRIVER_NOPROMPT)))
    return 100;
  const bool sqlite = connection.find("SQLite") != std::string::npos;
  // SQLite: the transaction is begun by hand (the driver's own would not be
  // exclusive); PostgreSQL: the driver begins it.
  if (!sqlite) SQLSetConnectAttr(dbc, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0);
  SQLAllocHandle(SQL_HANDLE_STMT, dbc, &st);
  std::string sql =
      sqlite ? "BEGIN EXCLUSIVE" : "LOCK TABLE domains, accounts, account_aliases IN ACCESS EXCLUSIVE MODE";
  if (!SQL_SUCCEEDED(SQLExecDirect(st, reinterpret_cast<SQLCHAR*>(sql.data()), SQL_NTS))) return 101;
  SQLFreeStmt(st, SQL_CLOSE);
  const HANDLE ready = OpenSemaphoreA(SEMAPHORE_MODIFY_STATE, FALSE, (std::string(event) + " ready").c_str());
  const HANDLE go = OpenEventA(SYNCHRONIZE, FALSE, event);
  if (ready == nullptr || go == nullptr) return 100;
  ReleaseSemaphore(ready, 1, nullptr);
  WaitForSingleObject(go, 60000);
  sql = "ROLLBACK";
  if (sqlite) SQLExecDirect(st, reinterpret_cast<SQLCHAR*>(sql.data()), SQL_NTS);
  SQLEndTran(SQL_HANDLE_DBC, dbc, SQL_ROLLBACK);
  SQLFreeHandle(SQL_HANDLE_STMT, st);
  SQLDisconnect(dbc);
  SQLFreeHandle(SQL_HANDLE_DBC, dbc);
  SQLFreeHandle(SQL_HANDLE_ENV, env);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "hold") return Hold(argv[2], argv[3]);
  if (argc != 7) return 100;
  const HMODULE db = LoadLibraryA(argv[1]);
  if (db == nullptr) return 100;
  const auto set =
      reinterpret_cast<core::DBSetConnectionProc>(reinterpret_cast<void*>(GetProcAddress(db, "DBSetConnection")));
  const auto reload =
      reinterpret_cast<core::DBReloadConfigProc>(reinterpret_cast<void*>(GetProcAddress(db, "DBReloadConfig")));
  const auto save = reinterpret_cast<core::DBSaveUsersProc>(reinterpret_cast<void*>(GetProcAddress(db, "DBSaveUsers")));
  if (set == nullptr || reload == nullptr || save == nullptr) return 100;
  set(std::string(argv[2]) == "-" ? "" : argv[2]);
  if (reload() == 0) return 100;
  const HANDLE ready = OpenSemaphoreA(SEMAPHORE_MODIFY_STATE, FALSE, (std::string(argv[6]) + " ready").c_str());
  const HANDLE go = OpenEventA(SYNCHRONIZE, FALSE, argv[6]);
  if (ready == nullptr || go == nullptr) return 100;
  ReleaseSemaphore(ready, 1, nullptr);
  if (WaitForSingleObject(go, 30000) != WAIT_OBJECT_0) return 100;
  int failed = 0;
  const int count = std::atoi(argv[5]);
  for (int i = 0; i < count; ++i) {
    std::vector<std::uint8_t> record(records::AccountSize, 0);
    records::PutText(record.data(), records::user::Aliases, std::string(argv[4]) + std::to_string(i));
    if (save(argv[3], record.data(), -1) == 0) ++failed;
  }
  return failed;
}
