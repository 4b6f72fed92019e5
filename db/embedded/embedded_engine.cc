// The embedded engine's connection: logs in against the server folder's
// server.ini, opens <folder>/<database>.sqlite as the default database
// (before that, an in-memory "master" where CREATE DATABASE runs), and runs
// each T-SQL statement of a batch: session statements (SET, USE, CREATE
// DATABASE, transactions) here, all others through the translator.
#include "db/embedded/embedded_engine.h"

#include <fstream>
#include <system_error>

#include "base/sqlite_handle.h"
#include "base/text.h"
#include "config/profile.h"
#include "db/embedded/catalog.h"
#include "db/embedded/embedded_recordset.h"
#include "db/embedded/engine_errors.h"
#include "db/embedded/session_state.h"
#include "db/embedded/sqlite_errors.h"
#include "db/embedded/sqlite_functions.h"
#include "db/embedded/tsql_parser.h"
#include "db/embedded/tsql_translator.h"

namespace agent {

namespace {

using namespace tsql;
namespace fs = std::filesystem;

// How long a statement waits for a lock another connection holds before it
// fails with the lock time-out.
constexpr int kBusyTimeoutMs = 5000;
constexpr const char* kServerFile = "server.ini";
constexpr const char* kDatabaseExtension = ".sqlite";

std::string utf8Path(const fs::path& p) {
  std::u8string s = p.u8string();
  return std::string(s.begin(), s.end());
}

// A database name that is a plain file name ("x019.pms", "ORBA]").
bool isUsableDatabaseName(const std::string& name) {
  if (name.empty() || name == "." || name == "..") return false;
  return name.find_first_of(std::string("/\\:\0", 4)) == std::string::npos;
}

class EmbeddedConnection : public Connection {
 public:
  explicit EmbeddedConnection(fs::path folder) : folder_(std::move(folder)) {
    db_ = openDatabase(":memory:", SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
  }

  bool isOpen() const override { return true; }

  void setDefaultDatabase(const std::string& name) override {
    fs::path path = databasePath(name);
    std::error_code ec;
    if (!isUsableDatabaseName(name) || !fs::is_regular_file(path, ec)) {
      throw cannotOpenDatabaseError(name);
    }
    db_ = openDatabase(utf8Path(path), SQLITE_OPEN_READWRITE);
    session_.transactionDepth = 0;
  }

  void execute(const std::string& sql) override { run(sql, false, Cursor::Forward); }

  std::unique_ptr<Recordset> query(const std::string& sql, Cursor cursor) override {
    std::unique_ptr<Recordset> rs = run(sql, true, cursor);
    return rs ? std::move(rs) : makeEmptyRecordset();
  }

 private:
  fs::path databasePath(const std::string& name) const {
    return embeddedDatabaseFile(folder_, name);
  }

  DatabaseHandle openDatabase(const std::string& path, int flags) {
    DatabaseHandle db;
    // A connection is used by one thread at a time: without its mutex every
    // column read of a scan is a plain call.
    int rc = openSqliteDatabase(path, flags | SQLITE_OPEN_NOMUTEX, db);
    sqlite3* raw = db.get();
    if (rc != SQLITE_OK) {
      throw engineError("cannot open " + path + ": " +
                        (raw ? sqlite3_errmsg(raw) : "out of memory"));
    }
    sqlite3_extended_result_codes(raw, 1);
    sqlite3_busy_timeout(raw, kBusyTimeoutMs);
    // Double-quoted text is a name, never a string, once translated.
    sqlite3_db_config(raw, SQLITE_DBCONFIG_DQS_DML, 0, nullptr);
    sqlite3_db_config(raw, SQLITE_DBCONFIG_DQS_DDL, 0, nullptr);
    registerEngineFunctions(raw, &session_);
    if (path != ":memory:") {
      exec(raw, "PRAGMA journal_mode=WAL");
      exec(raw, "PRAGMA synchronous=NORMAL");
    }
    return db;
  }

  StatementHandle prepare(sqlite3* db, const std::string& sql) {
    session_.functionError.reset();
    sqlite3_stmt* stmt = nullptr;
    int rc = sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &stmt, nullptr);
    StatementHandle handle(stmt);
    if (rc != SQLITE_OK) throw sqliteFailure(db, rc, session_);
    return handle;
  }

  void runToEnd(sqlite3* db, sqlite3_stmt* stmt) {
    for (;;) {
      int rc = sqlite3_step(stmt);
      if (rc == SQLITE_DONE) return;
      if (rc != SQLITE_ROW) throw sqliteFailure(db, rc, session_);
    }
  }

  void exec(sqlite3* db, const std::string& sql) {
    StatementHandle stmt = prepare(db, sql);
    runToEnd(db, stmt.get());
  }

  void execQuietly(const std::string& sql) {
    sqlite3_exec(db_.get(), sql.c_str(), nullptr, nullptr, nullptr);
  }

  std::unique_ptr<Recordset> run(const std::string& batch, bool wantRows, Cursor cursor) {
    std::vector<Statement> statements = parseBatch(batch, session_.quotedIdentifier);
    std::unique_ptr<Recordset> result;
    for (const Statement& st : statements) {
      try {
        std::unique_ptr<Recordset> rs = runStatement(st, wantRows && !result, cursor);
        if (rs) result = std::move(rs);
      } catch (...) {
        // A failure SQLite answered with a rollback ends the transaction.
        if (session_.transactionDepth > 0 && sqlite3_get_autocommit(db_.get())) {
          transactionEnded();
        }
        throw;
      }
    }
    return result;
  }

  std::unique_ptr<Recordset> runStatement(const Statement& st, bool wantRows, Cursor cursor) {
    switch (st.kind) {
      case Statement::Kind::SetDateFormat: {
        auto order = dateOrderFromName(st.name);
        if (!order) {
          throw DbError("42000", 2741,
                        "SET DATEFORMAT date order '" + st.name + "' is not supported.");
        }
        session_.dateOrder = *order;
        return nullptr;
      }
      case Statement::Kind::SetQuotedIdentifier:
        session_.quotedIdentifier = st.flag;
        return nullptr;
      case Statement::Kind::SetOption:
        return nullptr;
      case Statement::Kind::CreateDatabase:
        createDatabase(st.name);
        return nullptr;
      case Statement::Kind::Use:
        setDefaultDatabase(st.name);
        return nullptr;
      case Statement::Kind::BeginTransaction:
        if (session_.transactionDepth == 0) beginTransaction();
        ++session_.transactionDepth;
        return nullptr;
      case Statement::Kind::Commit:
        if (session_.transactionDepth == 0) exec(db_.get(), "COMMIT");  // reports 3902
        if (session_.transactionDepth == 1) {
          exec(db_.get(), "COMMIT");
          transactionEnded();
        } else {
          --session_.transactionDepth;
        }
        return nullptr;
      case Statement::Kind::Rollback:
        exec(db_.get(), "ROLLBACK");  // reports 3903 outside a transaction
        transactionEnded();
        return nullptr;
      default:
        if (st.lockingRead) holdWriteLock();
        return runTranslated(st, wantRows, cursor);
    }
  }

  // An explicit transaction commits durably, as SQL Server's does: the
  // write-ahead log is synced before COMMIT returns. The database's usual
  // level (NORMAL) leaves that to the next checkpoint, and a power cut
  // before it would lose a commit that the caller may already have told
  // others of (a payment marked taken on the portal). The level can only
  // change outside a transaction.
  void beginTransaction() {
    exec(db_.get(), "PRAGMA synchronous=FULL");
    exec(db_.get(), "BEGIN");
  }

  void transactionEnded() {
    session_.transactionDepth = 0;
    if (sqlite3_get_autocommit(db_.get())) execQuietly("PRAGMA synchronous=NORMAL");
  }

  // A locking read (UPDLOCK, HOLDLOCK) as the first statement of a
  // transaction takes the database's write lock at once, waiting for
  // another writer as SQL Server waits for the update lock: what it read
  // stays so until the commit, and a second program making the same read
  // waits for the first to commit. A transaction that has read already
  // cannot take the lock without losing what it saw; the hint then changes
  // nothing, as it does outside a transaction.
  void holdWriteLock() {
    if (session_.transactionDepth == 0) return;
    if (sqlite3_txn_state(db_.get(), nullptr) != SQLITE_TXN_NONE) return;
    exec(db_.get(), "COMMIT");
    exec(db_.get(), "BEGIN IMMEDIATE");
  }

  std::unique_ptr<Recordset> runTranslated(const Statement& st, bool wantRows, Cursor cursor) {
    Catalog catalog(db_.get());
    Translation t = Translator(catalog, session_.dateOrder).translate(st);
    bool several = t.steps.size() > 1;
    if (several) exec(db_.get(), "SAVEPOINT tsql_statement");
    try {
      for (std::size_t i = 0; i < t.steps.size(); ++i) {
        StatementHandle stmt = prepare(db_.get(), t.steps[i]);
        if (i + 1 == t.steps.size() && t.returnsRows && wantRows) {
          return makeRecordset(std::move(stmt), std::move(t.columns), cursor, &session_);
        }
        runToEnd(db_.get(), stmt.get());
      }
      if (several) exec(db_.get(), "RELEASE tsql_statement");
    } catch (...) {
      if (several) {
        execQuietly("ROLLBACK TO tsql_statement");
        execQuietly("RELEASE tsql_statement");
      }
      throw;
    }
    return nullptr;
  }

  void createDatabase(const std::string& name) {
    if (!isUsableDatabaseName(name)) throw syntaxErrorNear(name);
    fs::path path = databasePath(name);
    std::error_code ec;
    if (fs::exists(path, ec)) throw databaseExistsError(name);
    DatabaseHandle created =
        openDatabase(utf8Path(path), SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
  }

  fs::path folder_;
  SessionState session_;
  DatabaseHandle db_;
};

}  // namespace

std::unique_ptr<Connection> openEmbeddedConnection(const std::filesystem::path& serverFolder,
                                                   const std::string& user,
                                                   const std::string& password) {
  std::error_code ec;
  fs::path ini = serverFolder / kServerFile;
  if (!fs::is_regular_file(ini, ec)) throw serverNotFoundError(utf8Path(serverFolder));
  Profile profile = Profile::load(ini);
  std::string expected = profile.get("server", "sa_password");
  if (!equalsIgnoreCase(user, "SA") || password != expected) throw loginFailedError(user);
  return std::make_unique<EmbeddedConnection>(serverFolder);
}

std::filesystem::path embeddedDatabaseFile(const std::filesystem::path& serverFolder,
                                           const std::string& name) {
  return serverFolder / fs::u8path(name + kDatabaseExtension);
}

void createEmbeddedServer(const std::filesystem::path& serverFolder,
                          const std::string& saPassword) {
  std::error_code ec;
  fs::create_directories(serverFolder, ec);
  if (ec) {
    throw AgentError(error_number::kFileError, "Cannot create the server folder " +
                                                   utf8Path(serverFolder) + ": " + ec.message());
  }
  std::ofstream out(serverFolder / kServerFile, std::ios::binary | std::ios::trunc);
  out << "[server]\r\nsa_password = " << saPassword << "\r\n";
  out.close();
  // The file holds the SA password in clear: the owner's alone.
  fs::permissions(serverFolder / kServerFile, fs::perms::owner_read | fs::perms::owner_write, ec);
  if (!out || ec) {
    throw AgentError(error_number::kFileError,
                     "Cannot write " + utf8Path(serverFolder / kServerFile));
  }
}

}  // namespace agent
