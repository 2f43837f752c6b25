#pragma once
// A thin layer over ODBC for the back end: one connection with its prepared
// statements kept by their SQL text, parameters always bound (texts as bytes,
// never pasted into SQL), transactions, and failures raised as OdbcError.
//
// Only the ANSI functions under their plain names are called: some driver
// managers (Wine's among them) lack the "A"-suffixed forms.
#include <windows.h>

#include <sql.h>
#include <sqlext.h>

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "core/platform/UniqueResource.h"

namespace backend {

inline void FreeEnvironment(SQLHENV handle) noexcept { SQLFreeHandle(SQL_HANDLE_ENV, handle); }
inline void FreeConnection(SQLHDBC handle) noexcept {
  SQLDisconnect(handle);
  SQLFreeHandle(SQL_HANDLE_DBC, handle);
}
inline void FreeStatement(SQLHSTMT handle) noexcept { SQLFreeHandle(SQL_HANDLE_STMT, handle); }

using UniqueEnvironment = core::UniqueResource<SQLHENV, &FreeEnvironment>;
using UniqueConnection = core::UniqueResource<SQLHDBC, &FreeConnection>;
using UniqueStatement = core::UniqueResource<SQLHSTMT, &FreeStatement>;

// A failed ODBC call: the five-character SQLSTATE and the driver's message.
class OdbcError : public std::runtime_error {
 public:
  OdbcError(std::string state, const std::string& message) : std::runtime_error(message), state_(std::move(state)) {}
  const std::string& state() const { return state_; }
  // Class 08: the connection is gone; the next call connects again.
  bool connectionLost() const { return state_.rfind("08", 0) == 0; }

 private:
  std::string state_;
};

// The two kinds of database the schema is written for.
enum class Dialect { SQLite, PostgreSQL };

class Connection {
 public:
  Connection() = default;
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Connects with an ODBC connection text (no prompt); raises on failure.
  void Open(const std::string& text);
  void Close() noexcept;
  // Open and not given up: a connection whose transaction could not be ended
  // cleanly is in a state no later call can rely on, so it counts as closed
  // and the next call connects again (statements still running on it are
  // released with it then).
  bool IsOpen() const { return connection_.valid() && !broken_; }
  void GiveUp() noexcept { broken_ = true; }
  Dialect dialect() const { return dialect_; }

  // The prepared statement of this SQL text, prepared at its first use.
  SQLHSTMT Prepared(const std::string& sql);
  // Runs a statement without parameters (schema creation).
  void Execute(const std::string& sql);

  void SetAutoCommit(bool on);
  void EndTransaction(bool commit);

  // Raises OdbcError for a failed return code of a call on handle.
  [[noreturn]] static void Raise(SQLSMALLINT type, SQLHANDLE handle);
  static void Check(SQLRETURN rc, SQLSMALLINT type, SQLHANDLE handle) {
    if (!SQL_SUCCEEDED(rc) && rc != SQL_NO_DATA) Raise(type, handle);
  }

 private:
  UniqueEnvironment environment_;
  UniqueConnection connection_;
  std::map<std::string, UniqueStatement, std::less<>> statements_;
  Dialect dialect_ = Dialect::SQLite;
  bool broken_ = false;
};

// How long a statement waits for a lock another process holds before it
// fails: far below what a caller holding the database lock can afford.
inline constexpr SQLULEN StatementTimeoutSeconds = 3;

// The SQLite driver ignores the statement time-out and waits for a lock as
// long as its own Timeout= key says (far too long by default): a text for
// it that does not say gets the same wait as everything else.
std::string WithLockWait(const std::string& connectionText);

// One transaction: every statement until Commit; rolled back unless
// committed (also when an exception leaves the scope). Autocommit is always
// switched back on; where ending the transaction or switching it back fails,
// the connection is given up.
class Transaction {
 public:
  explicit Transaction(Connection& connection);
  ~Transaction();
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;
  void Commit();

 private:
  Connection& connection_;
  bool open_ = true;
};

// One run of a prepared statement: bind parameters in order, Run, then read
// rows; the cursor is closed and the parameters released at the end.
class Query {
 public:
  Query(Connection& connection, const std::string& sql);
  ~Query();
  Query(const Query&) = delete;
  Query& operator=(const Query&) = delete;

  Query& Bytes(std::string_view bytes);
  Query& BytesOrNull(std::string_view bytes);  // an empty text binds NULL
  Query& Int(std::int64_t value);

  Query& Run();
  std::int64_t RowCount();
  bool Next();
  std::optional<std::int64_t> IntAt(int column);
  std::optional<std::string> BytesAt(int column);  // NULL gives nothing

 private:
  SQLHSTMT statement_;
  std::deque<std::string> texts_;  // deques: bound buffers never move
  std::deque<std::int64_t> ints_;
  std::deque<SQLLEN> lengths_;
  SQLUSMALLINT next_ = 1;
};

}  // namespace backend
