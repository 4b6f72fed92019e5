// The ODBC driver: environment, connection and statement handles owned by
// small RAII objects, the wide (UTF-16) API at the boundary and UTF-8 text
// inside, diagnostics turned into DbError, and column values turned into
// Values by their SQL type.
#include "db/odbc_connection.h"

// Windows' ODBC headers use the Windows types without including them.
#ifdef _WIN32
#include <windows.h>
#endif
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <string_view>
#include <utility>
#include <vector>

#include "base/code_page.h"
#include "base/mutex.h"
#include "base/text.h"
#include "base/thread_annotations.h"
#include "db/connection_string.h"
#include "db/error.h"
#include "db/fetched_recordset.h"

namespace agent {
namespace {

static_assert(sizeof(SQLWCHAR) == sizeof(char16_t), "the wide ODBC API must be UTF-16");

// ---- UTF-8 <-> UTF-16 ------------------------------------------------------

std::string toUtf8(const SQLWCHAR* text, std::size_t length) {
  return utf16ToUtf8(reinterpret_cast<const char16_t*>(text), length);
}

std::u16string toUtf16(std::string_view text) {
  return utf8ToUtf16(text);
}

SQLWCHAR* wide(std::u16string& s) {
  return reinterpret_cast<SQLWCHAR*>(s.data());
}

// ---- handles and diagnostics -----------------------------------------------

struct DiagRecord {
  std::string sqlstate;
  long native = 0;
  std::string message;
};

// Diagnostic record number (from 1) of a handle; false when there is none.
bool diagRecord(SQLSMALLINT handleType, SQLHANDLE handle, SQLSMALLINT number, DiagRecord* out) {
  SQLWCHAR state[6] = {};
  SQLINTEGER native = 0;
  std::vector<SQLWCHAR> message(1024);
  SQLSMALLINT messageLength = 0;
  SQLRETURN rc = SQLGetDiagRecW(handleType, handle, number, state, &native, message.data(),
                                static_cast<SQLSMALLINT>(message.size()), &messageLength);
  if (rc == SQL_SUCCESS_WITH_INFO && messageLength >= static_cast<SQLSMALLINT>(message.size())) {
    message.resize(messageLength + 1);
    rc = SQLGetDiagRecW(handleType, handle, number, state, &native, message.data(),
                        static_cast<SQLSMALLINT>(message.size()), &messageLength);
  }
  if (!SQL_SUCCEEDED(rc)) return false;
  std::size_t length = std::min<std::size_t>(messageLength, message.size() - 1);
  *out = DiagRecord{toUtf8(state, 5), native, toUtf8(message.data(), length)};
  return true;
}

// The failure a handle reports, as a DbError with the driver's message text
// unchanged: the first diagnostic record that is not a warning (class 01;
// the driver manager puts one before the error when it cannot load a
// driver), else the first record. what names the failed call for the rare
// failure that leaves no record.
DbError diagnostics(SQLSMALLINT handleType, SQLHANDLE handle, const char* what) {
  DiagRecord first, record;
  bool haveFirst = false;
  for (SQLSMALLINT number = 1; diagRecord(handleType, handle, number, &record); ++number) {
    if (!record.sqlstate.starts_with("01")) {
      return DbError(record.sqlstate, record.native, record.message);
    }
    if (!haveFirst) {
      first = record;
      haveFirst = true;
    }
  }
  if (haveFirst) return DbError(first.sqlstate, first.native, first.message);
  return DbError("HY000", 0, std::string("ODBC call failed without diagnostics: ") + what);
}

void check(SQLRETURN rc, SQLSMALLINT handleType, SQLHANDLE handle, const char* what) {
  if (!SQL_SUCCEEDED(rc)) throw diagnostics(handleType, handle, what);
}

// Owns one ODBC handle; frees it (after the owner's own cleanup) on
// destruction.
class Handle {
 public:
  Handle(SQLSMALLINT type, SQLHANDLE parent) : type_(type) {
    SQLRETURN rc = SQLAllocHandle(type, parent, &handle_);
    if (!SQL_SUCCEEDED(rc)) {
      handle_ = SQL_NULL_HANDLE;
      if (type == SQL_HANDLE_ENV) throw DbError("HY001", 0, "Cannot allocate an ODBC environment.");
      throw diagnostics(type == SQL_HANDLE_DBC ? SQL_HANDLE_ENV : SQL_HANDLE_DBC, parent,
                        "SQLAllocHandle");
    }
  }
  ~Handle() {
    if (handle_ != SQL_NULL_HANDLE) SQLFreeHandle(type_, handle_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;

  SQLHANDLE get() const { return handle_; }
  SQLSMALLINT type() const { return type_; }
  void check(SQLRETURN rc, const char* what) const { agent::check(rc, type_, handle_, what); }

 private:
  SQLSMALLINT type_;
  SQLHANDLE handle_ = SQL_NULL_HANDLE;
};

// ---- column values ---------------------------------------------------------

enum class ColumnKind { Exact, Float, Date, Time, Timestamp, Text };

ColumnKind kindOf(SQLSMALLINT sqlType) {
  switch (sqlType) {
    case SQL_DECIMAL:
    case SQL_NUMERIC:
    case SQL_INTEGER:
    case SQL_SMALLINT:
    case SQL_TINYINT:
    case SQL_BIGINT:
    case SQL_BIT:
      return ColumnKind::Exact;
    case SQL_REAL:
    case SQL_FLOAT:
    case SQL_DOUBLE:
      return ColumnKind::Float;
    case SQL_TYPE_DATE:
    case SQL_DATE:
      return ColumnKind::Date;
    case SQL_TYPE_TIME:
    case SQL_TIME:
      return ColumnKind::Time;
    case SQL_TYPE_TIMESTAMP:
    case SQL_TIMESTAMP:
      return ColumnKind::Timestamp;
    default:
      return ColumnKind::Text;
  }
}

struct Column {
  std::string name;
  ColumnKind kind;
};

// How a driver hands text over whole. Drivers in general give it as wide
// characters; the MariaDB and MySQL drivers cut a wide text at its first
// NUL (a portal order id "ORD\0X" arrives as "ORD"), but give the whole
// value, NULs included, as the connection's UTF-8 bytes.
enum class TextFetch { Wide, Utf8Bytes };

// Reads the current row of a statement column by column (SQLGetData).
class RowReader {
 public:
  RowReader(const Handle& statement, const std::vector<Column>& columns, TextFetch textFetch)
      : statement_(statement), columns_(columns), textFetch_(textFetch) {}

  void read(std::vector<Value>& row) {
    row.resize(columns_.size());
    for (std::size_t i = 0; i < columns_.size(); ++i) {
      row[i] = readColumn(static_cast<SQLUSMALLINT>(i + 1), columns_[i].kind);
    }
  }

 private:
  Value readColumn(SQLUSMALLINT number, ColumnKind kind) {
    switch (kind) {
      case ColumnKind::Exact:
        return readExact(number);
      case ColumnKind::Float:
        return readFloat(number);
      case ColumnKind::Date:
        return readDate(number);
      case ColumnKind::Time:
        return readTime(number);
      case ColumnKind::Timestamp:
        return readTimestamp(number);
      case ColumnKind::Text:
        return textFetch_ == TextFetch::Utf8Bytes ? readUtf8Text(number) : readText(number);
    }
    return Value::null();
  }

  // Fixed-size value; false for NULL.
  bool getFixed(SQLUSMALLINT number, SQLSMALLINT cType, void* target, SQLLEN size) {
    SQLLEN indicator = 0;
    statement_.check(SQLGetData(statement_.get(), number, cType, target, size, &indicator),
                     "SQLGetData");
    return indicator != SQL_NULL_DATA;
  }

  // Decimal and integer columns as the driver's exact decimal text.
  Value readExact(SQLUSMALLINT number) {
    char buffer[128];
    if (!getFixed(number, SQL_C_CHAR, buffer, sizeof buffer)) return Value::null();
    std::string exact(buffer);
    return Value::number(std::strtod(exact.c_str(), nullptr), exact);
  }

  Value readFloat(SQLUSMALLINT number) {
    double d = 0;
    if (!getFixed(number, SQL_C_DOUBLE, &d, sizeof d)) return Value::null();
    return Value::number(d);
  }

  Value readDate(SQLUSMALLINT number) {
    SQL_DATE_STRUCT d{};
    if (!getFixed(number, SQL_C_TYPE_DATE, &d, sizeof d)) return Value::null();
    return Value::dateTime(DateTime{d.year, d.month, d.day});
  }

  // A time of day alone sits on the zero date of the platform (1899-12-30).
  Value readTime(SQLUSMALLINT number) {
    SQL_TIME_STRUCT t{};
    if (!getFixed(number, SQL_C_TYPE_TIME, &t, sizeof t)) return Value::null();
    return Value::dateTime(DateTime{1899, 12, 30, t.hour, t.minute, t.second});
  }

  Value readTimestamp(SQLUSMALLINT number) {
    SQL_TIMESTAMP_STRUCT t{};
    if (!getFixed(number, SQL_C_TYPE_TIMESTAMP, &t, sizeof t)) return Value::null();
    return Value::dateTime(DateTime{t.year, t.month, t.day, t.hour, t.minute, t.second,
                                    static_cast<int>(t.fraction / 1000000)});
  }

  // Text of any length, read in pieces.
  Value readText(SQLUSMALLINT number) {
    std::u16string text;
    SQLWCHAR buffer[4096];
    for (;;) {
      SQLLEN indicator = 0;
      SQLRETURN rc =
          SQLGetData(statement_.get(), number, SQL_C_WCHAR, buffer, sizeof buffer, &indicator);
      if (rc == SQL_NO_DATA) break;
      statement_.check(rc, "SQLGetData");
      if (indicator == SQL_NULL_DATA) return Value::null();
      const std::size_t capacity = sizeof buffer / sizeof(SQLWCHAR) - 1;
      std::size_t got = (indicator == SQL_NO_TOTAL ||
                         static_cast<std::size_t>(indicator) / sizeof(SQLWCHAR) > capacity)
                            ? capacity
                            : static_cast<std::size_t>(indicator) / sizeof(SQLWCHAR);
      text.append(reinterpret_cast<const char16_t*>(buffer), got);
      if (rc == SQL_SUCCESS) break;  // SQL_SUCCESS_WITH_INFO: truncated, more to come
    }
    return Value::text(toUtf8(reinterpret_cast<const SQLWCHAR*>(text.data()), text.size()));
  }

  // Text of any length as the connection's UTF-8 bytes, read in pieces;
  // the length comes from the indicator, never from a terminating NUL.
  Value readUtf8Text(SQLUSMALLINT number) {
    std::string text;
    char buffer[8192];
    for (;;) {
      SQLLEN indicator = 0;
      SQLRETURN rc =
          SQLGetData(statement_.get(), number, SQL_C_CHAR, buffer, sizeof buffer, &indicator);
      if (rc == SQL_NO_DATA) break;
      statement_.check(rc, "SQLGetData");
      if (indicator == SQL_NULL_DATA) return Value::null();
      const std::size_t capacity = sizeof buffer - 1;
      std::size_t got =
          (indicator == SQL_NO_TOTAL || static_cast<std::size_t>(indicator) > capacity)
              ? capacity
              : static_cast<std::size_t>(indicator);
      text.append(buffer, got);
      if (rc == SQL_SUCCESS) break;  // SQL_SUCCESS_WITH_INFO: truncated, more to come
    }
    return Value::text(std::move(text));
  }

  const Handle& statement_;
  const std::vector<Column>& columns_;
  TextFetch textFetch_;
};

// ---- statements and recordsets ---------------------------------------------

// The statement handle a connection is executing, for a cancel from
// another thread: set while a call on it runs, cleared under the same
// mutex before the handle can be freed.
class ExecutingSlot {
 public:
  void cancel() {
    MutexLock lock(mutex_);
    if (statement_ != SQL_NULL_HSTMT) SQLCancel(statement_);
  }

  class Guard {
   public:
    Guard(ExecutingSlot& slot, SQLHSTMT statement) : slot_(slot) {
      MutexLock lock(slot_.mutex_);
      slot_.statement_ = statement;
    }
    ~Guard() {
      MutexLock lock(slot_.mutex_);
      slot_.statement_ = SQL_NULL_HSTMT;
    }
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;

   private:
    ExecutingSlot& slot_;
  };

 private:
  Mutex mutex_;
  SQLHSTMT statement_ GUARDED_BY(mutex_) = SQL_NULL_HSTMT;
};

// Runs sql on a new statement handle of dbc; slot names it while it runs.
std::unique_ptr<Handle> executeStatement(const Handle& dbc, const std::string& sql,
                                         ExecutingSlot& slot) {
  auto statement = std::make_unique<Handle>(SQL_HANDLE_STMT, dbc.get());
  std::u16string text = toUtf16(sql);
  SQLRETURN rc;
  {
    ExecutingSlot::Guard executing(slot, statement->get());
    rc = SQLExecDirectW(statement->get(), wide(text), static_cast<SQLINTEGER>(text.size()));
  }
  if (rc != SQL_NO_DATA) statement->check(rc, "SQLExecDirect");
  return statement;
}

std::vector<Column> describeColumns(const Handle& statement) {
  SQLSMALLINT count = 0;
  statement.check(SQLNumResultCols(statement.get(), &count), "SQLNumResultCols");
  std::vector<Column> columns;
  columns.reserve(count);
  for (SQLUSMALLINT i = 1; i <= static_cast<SQLUSMALLINT>(count); ++i) {
    SQLWCHAR name[512];
    SQLSMALLINT nameLength = 0, sqlType = 0, decimals = 0, nullable = 0;
    SQLULEN size = 0;
    statement.check(SQLDescribeColW(statement.get(), i, name, 512, &nameLength, &sqlType, &size,
                                    &decimals, &nullable),
                    "SQLDescribeCol");
    columns.push_back(
        Column{toUtf8(name, std::min<SQLSMALLINT>(nameLength, 511)), kindOf(sqlType)});
  }
  return columns;
}

std::vector<std::string> namesOf(const std::vector<Column>& columns) {
  std::vector<std::string> names;
  names.reserve(columns.size());
  for (const Column& column : columns) names.push_back(column.name);
  return names;
}

// Reads the statement's result row by row (Cursor::Forward) or wholly at
// open (Cursor::Static, after which the statement handle is released).
class OdbcRecordset : public FetchedRecordset {
 public:
  OdbcRecordset(std::unique_ptr<Handle> statement, Cursor cursor, TextFetch textFetch)
      : statement_(std::move(statement)),
        columns_(describeColumns(*statement_)),
        textFetch_(textFetch) {
    if (columns_.empty()) statement_.reset();
    start(namesOf(columns_), cursor);
  }

 private:
  // Reads the next row of the statement; false at the end, when the
  // statement handle is released so the connection is free again.
  bool fetchRow(std::vector<Value>& row) override {
    if (!statement_) return false;
    SQLRETURN rc = SQLFetch(statement_->get());
    if (rc == SQL_NO_DATA) {
      statement_.reset();
      return false;
    }
    statement_->check(rc, "SQLFetch");
    RowReader(*statement_, columns_, textFetch_).read(row);
    return true;
  }
  void releaseResult() override { statement_.reset(); }

  std::unique_ptr<Handle> statement_;
  std::vector<Column> columns_;
  TextFetch textFetch_;
};

// ---- the connection --------------------------------------------------------

// A value for a connection string, in braces when it holds a character that
// would end or split it.
std::string connectionValue(const std::string& value) {
  if (value.find_first_of(";{}= ") == std::string::npos) return value;
  std::string quoted = "{";
  for (char c : value) {
    quoted += c;
    if (c == '}') quoted += '}';
  }
  return quoted + "}";
}

std::string withCredentials(std::string text, const std::string& user,
                            const std::string& password) {
  auto append = [&text](const char* key, const std::string& value) {
    if (value.empty()) return;
    if (!text.empty() && text.back() != ';') text += ';';
    text += key;
    text += '=';
    text += connectionValue(value);
  };
  append("UID", user);
  append("PWD", password);
  return text;
}

class OdbcConnection : public Connection {
 public:
  OdbcConnection(const std::string& connectionString)
      : environment_(SQL_HANDLE_ENV, SQL_NULL_HANDLE), dbc_(makeDbc(environment_)) {
    setLoginTimeout(connectionString);
    std::u16string text = toUtf16(connectionString);
    SQLSMALLINT outLength = 0;
    dbc_->check(
        SQLDriverConnectW(dbc_->get(), nullptr, wide(text), static_cast<SQLSMALLINT>(text.size()),
                          nullptr, 0, &outLength, SQL_DRIVER_NOPROMPT),
        "SQLDriverConnect");
    connected_ = true;
    textFetch_ = textFetchOf(*dbc_);
  }

  ~OdbcConnection() override {
    if (connected_) SQLDisconnect(dbc_->get());
  }

  bool isOpen() const override { return connected_; }

  // The name is passed null-terminated: drivers differ on whether a wide
  // string attribute's length counts bytes or characters.
  void setDefaultDatabase(const std::string& name) override {
    std::u16string text = toUtf16(name);
    dbc_->check(SQLSetConnectAttrW(dbc_->get(), SQL_ATTR_CURRENT_CATALOG, wide(text), SQL_NTS),
                "SQLSetConnectAttr(SQL_ATTR_CURRENT_CATALOG)");
  }

  // Every result the statement produces is read past and discarded, so that
  // an error in a later result is not lost.
  void execute(const std::string& sql) override {
    std::unique_ptr<Handle> statement = executeStatement(*dbc_, sql, executing_);
    ExecutingSlot::Guard executing(executing_, statement->get());
    for (;;) {
      SQLRETURN rc = SQLMoreResults(statement->get());
      if (rc == SQL_NO_DATA) break;
      statement->check(rc, "SQLMoreResults");
    }
  }

  std::unique_ptr<Recordset> query(const std::string& sql, Cursor cursor) override {
    return std::make_unique<OdbcRecordset>(executeStatement(*dbc_, sql, executing_), cursor,
                                           textFetch_);
  }

  // SQLCancel on the executing statement. The MariaDB driver stops it with
  // KILL QUERY on a connection of its own; the statement then fails.
  void cancel() override { executing_.cancel(); }

 private:
  // CONN_TIMEOUT (seconds) of the connection string also as the ODBC login
  // time-out, for drivers that know the attribute but not the keyword. A
  // driver that refuses it keeps its own default.
  void setLoginTimeout(const std::string& connectionString) {
    std::optional<std::string> text = ConnectionString(connectionString).get("CONN_TIMEOUT");
    if (!text) return;
    SQLUINTEGER seconds = 0;
    auto [end, ec] = std::from_chars(text->data(), text->data() + text->size(), seconds);
    if (ec != std::errc() || end != text->data() + text->size() || seconds == 0) return;
    SQLSetConnectAttrW(dbc_->get(), SQL_ATTR_LOGIN_TIMEOUT,
                       reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(seconds)), 0);
  }

  static std::unique_ptr<Handle> makeDbc(const Handle& environment) {
    environment.check(SQLSetEnvAttr(environment.get(), SQL_ATTR_ODBC_VERSION,
                                    reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0),
                      "SQLSetEnvAttr(SQL_ATTR_ODBC_VERSION)");
    return std::make_unique<Handle>(SQL_HANDLE_DBC, environment.get());
  }

  // UTF-8 bytes from a MariaDB or MySQL server: connected through the wide
  // API without a CHARSET keyword, their driver gives SQL_C_CHAR text in
  // the connection's utf8mb4.
  static TextFetch textFetchOf(const Handle& dbc) {
    SQLWCHAR name[64] = {};
    SQLSMALLINT length = 0;
    if (!SQL_SUCCEEDED(SQLGetInfoW(dbc.get(), SQL_DBMS_NAME, name, sizeof name, &length))) {
      return TextFetch::Wide;
    }
    std::string dbms = toUtf8(name, std::min<std::size_t>(length / sizeof(SQLWCHAR), 63));
    return equalsIgnoreCase(dbms, "MariaDB") || equalsIgnoreCase(dbms, "MySQL")
               ? TextFetch::Utf8Bytes
               : TextFetch::Wide;
  }

  // Declaration order is destruction order in reverse: the connection is
  // disconnected and freed before its environment.
  Handle environment_;
  std::unique_ptr<Handle> dbc_;
  bool connected_ = false;
  ExecutingSlot executing_;
  TextFetch textFetch_ = TextFetch::Wide;
};

}  // namespace

std::unique_ptr<Connection> openOdbcConnection(const std::string& connectionString,
                                               const std::string& user,
                                               const std::string& password) {
  return std::make_unique<OdbcConnection>(withCredentials(connectionString, user, password));
}

bool odbcDriverRegistered(const std::string& name) {
  SQLHENV env = SQL_NULL_HENV;
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env))) return false;
  SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  bool found = false;
  // Wide, as every other ODBC call here: Windows' driver manager under Wine
  // has no ANSI form of this one.
  SQLWCHAR desc[512], attrs[2048];
  SQLSMALLINT descLen = 0, attrsLen = 0;
  SQLUSMALLINT direction = SQL_FETCH_FIRST;
  while (!found &&
         SQL_SUCCEEDED(SQLDriversW(env, direction, desc, 512, &descLen, attrs, 2048, &attrsLen))) {
    found = equalsIgnoreCase(toUtf8(desc, std::min<SQLSMALLINT>(descLen, 511)), name);
    direction = SQL_FETCH_NEXT;
  }
  SQLFreeHandle(SQL_HANDLE_ENV, env);
  return found;
}

}  // namespace agent
