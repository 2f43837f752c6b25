#include "backend/Odbc.h"

#include <vector>

namespace backend {

namespace {

SQLCHAR* Text(const std::string& text) { return reinterpret_cast<SQLCHAR*>(const_cast<char*>(text.c_str())); }

// A statement blocked by another process's lock gives up after a few
// seconds instead of holding its caller (and lock 5) for the driver's own
// wait; drivers without the attribute ignore it.
void LimitWait(SQLHSTMT statement) {
  SQLSetStmtAttr(statement, SQL_ATTR_QUERY_TIMEOUT, reinterpret_cast<SQLPOINTER>(StatementTimeoutSeconds), 0);
}

}  // namespace

std::string WithLockWait(const std::string& connectionText) {
  std::string lower = connectionText;
  for (char& c : lower)
    c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  if (lower.find("sqlite") == std::string::npos || lower.find("timeout=") != std::string::npos) return connectionText;
  const bool closed = connectionText.empty() || connectionText.back() == ';';
  return connectionText + (closed ? "" : ";") + "Timeout=" + std::to_string(StatementTimeoutSeconds * 1000);
}

void Connection::Raise(SQLSMALLINT type, SQLHANDLE handle) {
  SQLCHAR state[6] = {};
  SQLCHAR message[512] = {};
  SQLINTEGER native = 0;
  SQLSMALLINT length = 0;
  if (!SQL_SUCCEEDED(SQLGetDiagRec(type, handle, 1, state, &native, message, sizeof message, &length))) {
    throw OdbcError("HY000", "ODBC call failed");
  }
  throw OdbcError(reinterpret_cast<const char*>(state), reinterpret_cast<const char*>(message));
}

void Connection::Open(const std::string& text) {
  Close();
  UniqueEnvironment environment;
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, environment.put()))) {
    throw OdbcError("HY001", "no ODBC environment");
  }
  Check(SQLSetEnvAttr(environment.get(), SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0),
        SQL_HANDLE_ENV, environment.get());
  SQLHDBC raw = SQL_NULL_HDBC;
  Check(SQLAllocHandle(SQL_HANDLE_DBC, environment.get(), &raw), SQL_HANDLE_ENV, environment.get());
  // A server that does not answer must not hold the caller (and lock 5) for
  // the network's own time-out; drivers without the attribute ignore it.
  SQLSetConnectAttr(raw, SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(15)), 0);
  // Not owned by UniqueConnection until connected: a failed connect must not
  // be followed by SQLDisconnect.
  const SQLRETURN rc = SQLDriverConnect(raw, nullptr, Text(text), SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
  if (!SQL_SUCCEEDED(rc)) {
    try {
      Raise(SQL_HANDLE_DBC, raw);
    } catch (...) {
      SQLFreeHandle(SQL_HANDLE_DBC, raw);
      throw;
    }
  }
  UniqueConnection connection(raw);
  SQLCHAR name[64] = {};
  SQLSMALLINT length = 0;
  Check(SQLGetInfo(raw, SQL_DBMS_NAME, name, sizeof name, &length), SQL_HANDLE_DBC, raw);
  const std::string dbms(reinterpret_cast<const char*>(name));
  dialect_ = dbms.find("SQLite") != std::string::npos ? Dialect::SQLite : Dialect::PostgreSQL;
  environment_ = std::move(environment);
  connection_ = std::move(connection);
}

void Connection::Close() noexcept {
  statements_.clear();
  connection_.reset();
  environment_.reset();
  broken_ = false;
}

SQLHSTMT Connection::Prepared(const std::string& sql) {
  const auto found = statements_.find(sql);
  if (found != statements_.end()) return found->second.get();
  UniqueStatement statement;
  Check(SQLAllocHandle(SQL_HANDLE_STMT, connection_.get(), statement.put()), SQL_HANDLE_DBC, connection_.get());
  LimitWait(statement.get());
  Check(SQLPrepare(statement.get(), Text(sql), SQL_NTS), SQL_HANDLE_STMT, statement.get());
  const SQLHSTMT handle = statement.get();
  statements_.emplace(sql, std::move(statement));
  return handle;
}

void Connection::Execute(const std::string& sql) {
  UniqueStatement statement;
  Check(SQLAllocHandle(SQL_HANDLE_STMT, connection_.get(), statement.put()), SQL_HANDLE_DBC, connection_.get());
  LimitWait(statement.get());
  Check(SQLExecDirect(statement.get(), Text(sql), SQL_NTS), SQL_HANDLE_STMT, statement.get());
}

void Connection::SetAutoCommit(bool on) {
  const auto value = on ? SQL_AUTOCOMMIT_ON : SQL_AUTOCOMMIT_OFF;
  Check(SQLSetConnectAttr(connection_.get(), SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(value), 0),
        SQL_HANDLE_DBC, connection_.get());
}

void Connection::EndTransaction(bool commit) {
  Check(SQLEndTran(SQL_HANDLE_DBC, connection_.get(), commit ? SQL_COMMIT : SQL_ROLLBACK), SQL_HANDLE_DBC,
        connection_.get());
}

Transaction::Transaction(Connection& connection) : connection_(connection) {
  try {
    connection_.SetAutoCommit(false);
  } catch (...) {
    connection_.GiveUp();
    throw;
  }
}

// Both steps are tried whatever the other did: a connection left without
// autocommit would keep every later statement in a transaction of its own.
Transaction::~Transaction() {
  if (!open_) return;
  bool clean = true;
  try {
    connection_.EndTransaction(false);
  } catch (...) {
    clean = false;
  }
  try {
    connection_.SetAutoCommit(true);
  } catch (...) {
    clean = false;
  }
  if (!clean) connection_.GiveUp();
}

// A failed commit leaves the transaction open for the destructor's rollback.
// Once committed the write stands, so a failure to switch autocommit back
// gives up the connection but is not the caller's failure.
void Transaction::Commit() {
  connection_.EndTransaction(true);
  open_ = false;
  try {
    connection_.SetAutoCommit(true);
  } catch (...) {
    connection_.GiveUp();
  }
}

Query::Query(Connection& connection, const std::string& sql) : statement_(connection.Prepared(sql)) {}

Query::~Query() {
  SQLFreeStmt(statement_, SQL_CLOSE);
  SQLFreeStmt(statement_, SQL_RESET_PARAMS);
}

Query& Query::Bytes(std::string_view bytes) {
  const std::string& text = texts_.emplace_back(bytes);
  SQLLEN& length = lengths_.emplace_back(static_cast<SQLLEN>(text.size()));
  // Column size 0 is refused by some drivers for binary parameters.
  const SQLULEN size = text.empty() ? 1 : text.size();
  Connection::Check(SQLBindParameter(statement_, next_++, SQL_PARAM_INPUT, SQL_C_BINARY, SQL_VARBINARY, size, 0,
                                     const_cast<char*>(text.data()), length, &length),
                    SQL_HANDLE_STMT, statement_);
  return *this;
}

Query& Query::BytesOrNull(std::string_view bytes) {
  if (!bytes.empty()) return Bytes(bytes);
  SQLLEN& length = lengths_.emplace_back(SQL_NULL_DATA);
  Connection::Check(
      SQLBindParameter(statement_, next_++, SQL_PARAM_INPUT, SQL_C_BINARY, SQL_VARBINARY, 1, 0, nullptr, 0, &length),
      SQL_HANDLE_STMT, statement_);
  return *this;
}

Query& Query::Int(std::int64_t value) {
  std::int64_t& stored = ints_.emplace_back(value);
  SQLLEN& length = lengths_.emplace_back(0);
  Connection::Check(
      SQLBindParameter(statement_, next_++, SQL_PARAM_INPUT, SQL_C_SBIGINT, SQL_BIGINT, 0, 0, &stored, 0, &length),
      SQL_HANDLE_STMT, statement_);
  return *this;
}

Query& Query::Run() {
  Connection::Check(SQLExecute(statement_), SQL_HANDLE_STMT, statement_);
  return *this;
}

std::int64_t Query::RowCount() {
  SQLLEN count = 0;
  Connection::Check(SQLRowCount(statement_, &count), SQL_HANDLE_STMT, statement_);
  return count;
}

bool Query::Next() {
  const SQLRETURN rc = SQLFetch(statement_);
  if (rc == SQL_NO_DATA) return false;
  Connection::Check(rc, SQL_HANDLE_STMT, statement_);
  return true;
}

std::optional<std::int64_t> Query::IntAt(int column) {
  std::int64_t value = 0;
  SQLLEN length = 0;
  Connection::Check(SQLGetData(statement_, static_cast<SQLUSMALLINT>(column), SQL_C_SBIGINT, &value, 0, &length),
                    SQL_HANDLE_STMT, statement_);
  if (length == SQL_NULL_DATA) return std::nullopt;
  return value;
}

std::optional<std::string> Query::BytesAt(int column) {
  std::string out;
  std::vector<char> chunk(4096);
  for (;;) {
    SQLLEN length = 0;
    const SQLRETURN rc = SQLGetData(statement_, static_cast<SQLUSMALLINT>(column), SQL_C_BINARY, chunk.data(),
                                    static_cast<SQLLEN>(chunk.size()), &length);
    if (rc == SQL_NO_DATA) break;  // every part was read
    Connection::Check(rc, SQL_HANDLE_STMT, statement_);
    if (length == SQL_NULL_DATA) return std::nullopt;
    const std::size_t got = (length == SQL_NO_TOTAL || length > static_cast<SQLLEN>(chunk.size()))
                                ? chunk.size()
                                : static_cast<std::size_t>(length);
    out.append(chunk.data(), got);
    if (rc == SQL_SUCCESS) break;  // SQL_SUCCESS_WITH_INFO: more follows
  }
  return out;
}

}  // namespace backend
