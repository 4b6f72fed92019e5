#include "upload/change_state.h"

#include "db/error.h"

namespace agent {

namespace {

// line: per table and key (as the remote compares it) the raw key texts
// and the digest of the line last merged. pending (a temporary table of
// the connection) gathers the run under way: its first line per key, and
// whether that line differs from the stored one.
constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS remote (identity TEXT NOT NULL);"
    "CREATE TABLE IF NOT EXISTS mirror (tbl TEXT PRIMARY KEY, last_full INTEGER NOT NULL, "
    "expected INTEGER NOT NULL, finished INTEGER NOT NULL, marks_left INTEGER NOT NULL);"
    "CREATE TABLE IF NOT EXISTS line (tbl TEXT NOT NULL, key TEXT NOT NULL, raw TEXT NOT NULL, "
    "digest INTEGER NOT NULL, PRIMARY KEY (tbl, key)) WITHOUT ROWID;";

}  // namespace

std::uint64_t lineDigest(std::span<const std::string> fields) {
  std::uint64_t h = 14695981039346656037ull;
  auto mix = [&h](unsigned char c) {
    h ^= c;
    h *= 1099511628211ull;
  };
  for (const std::string& field : fields) {
    for (char c : field) mix(static_cast<unsigned char>(c));
    mix(0x1F);
  }
  return h;
}

ChangeState::ChangeState(const std::filesystem::path& file) : file_(file) {
  sqlite3* raw = nullptr;
  int rc =
      sqlite3_open_v2(file.string().c_str(), &raw,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
  db_.reset(raw);
  if (rc != SQLITE_OK) fail("cannot open");
  sqlite3_busy_timeout(raw, 5000);
  exec("PRAGMA journal_mode=WAL");
  exec("PRAGMA synchronous=NORMAL");
  exec("PRAGMA temp_store=FILE");
  exec(kSchema);
}

void ChangeState::fail(const std::string& what) const {
  throw AgentError(error_number::kFileError,
                   "Upload state " + file_.string() + ": " + what + ": " +
                       (db_ ? sqlite3_errmsg(db_.get()) : "out of memory"));
}

void ChangeState::exec(const char* sql) {
  if (sqlite3_exec(db_.get(), sql, nullptr, nullptr, nullptr) != SQLITE_OK) fail(sql);
}

tsql::StatementHandle ChangeState::prepare(const char* sql) {
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db_.get(), sql, -1, &stmt, nullptr) != SQLITE_OK) fail(sql);
  return tsql::StatementHandle(stmt);
}

namespace {

void bindText(sqlite3_stmt* s, int i, std::string_view text) {
  sqlite3_bind_text(s, i, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

std::string columnText(sqlite3_stmt* s, int i) {
  const unsigned char* t = sqlite3_column_text(s, i);
  return t ? std::string(reinterpret_cast<const char*>(t), sqlite3_column_bytes(s, i)) : "";
}

}  // namespace

void ChangeState::bindRemote(const std::string& identity) {
  endStaleRun();
  tsql::StatementHandle find = prepare("SELECT identity FROM remote");
  bool same = sqlite3_step(find.get()) == SQLITE_ROW && columnText(find.get(), 0) == identity;
  find.reset();
  if (same) return;
  exec("BEGIN; DELETE FROM line; DELETE FROM mirror; DELETE FROM remote");
  tsql::StatementHandle add = prepare("INSERT INTO remote VALUES (?1)");
  bindText(add.get(), 1, identity);
  if (sqlite3_step(add.get()) != SQLITE_DONE) fail("cannot record the remote database");
  add.reset();
  exec("COMMIT");
}

std::optional<ChangeState::TableState> ChangeState::table(const std::string& name) {
  endStaleRun();
  tsql::StatementHandle s =
      prepare("SELECT last_full, expected, finished, marks_left FROM mirror WHERE tbl = ?1");
  bindText(s.get(), 1, name);
  if (sqlite3_step(s.get()) != SQLITE_ROW) return std::nullopt;
  TableState state;
  state.lastFullSeconds = sqlite3_column_int64(s.get(), 0);
  state.expectedRows = sqlite3_column_int64(s.get(), 1);
  state.finished = sqlite3_column_int(s.get(), 2) != 0;
  state.marksLeft = sqlite3_column_int(s.get(), 3) != 0;
  return state;
}

void ChangeState::endStaleRun() {
  // A run that failed before commit() leaves its transaction open.
  if (!sqlite3_get_autocommit(db_.get())) exec("ROLLBACK");
}

void ChangeState::markStarted(const std::string& name) {
  endStaleRun();
  tsql::StatementHandle s = prepare("UPDATE mirror SET finished = 0 WHERE tbl = ?1");
  bindText(s.get(), 1, name);
  if (sqlite3_step(s.get()) != SQLITE_DONE) fail("cannot mark " + name + " started");
}

void ChangeState::begin(const std::string& name, bool full) {
  endStaleRun();
  table_ = name;
  full_ = full;
  exec(
      "DROP TABLE IF EXISTS temp.pending;"
      "CREATE TEMP TABLE pending (key TEXT PRIMARY KEY, raw TEXT NOT NULL, digest INTEGER NOT "
      "NULL, changed INTEGER NOT NULL) WITHOUT ROWID");
  addPending_ = prepare("INSERT OR IGNORE INTO temp.pending VALUES (?1, ?2, ?3, ?4)");
  findLine_ = prepare("SELECT digest FROM line WHERE tbl = ?1 AND key = ?2");
  bindText(findLine_.get(), 1, table_);
  // One transaction for the run's pending rows (the temporary table only).
  exec("BEGIN");
}

ChangeState::Offer ChangeState::offer(std::string_view key, std::string_view rawKey,
                                      std::uint64_t digest) {
  bool changed = true, known = false;
  if (!full_) {
    sqlite3_stmt* f = findLine_.get();
    bindText(f, 2, key);
    if (sqlite3_step(f) == SQLITE_ROW) {
      known = true;
      changed = static_cast<std::uint64_t>(sqlite3_column_int64(f, 0)) != digest;
    }
    sqlite3_reset(f);
  }
  sqlite3_stmt* a = addPending_.get();
  bindText(a, 1, key);
  bindText(a, 2, rawKey);
  sqlite3_bind_int64(a, 3, static_cast<sqlite3_int64>(digest));
  sqlite3_bind_int(a, 4, changed ? 1 : 0);
  int rc = sqlite3_step(a);
  sqlite3_reset(a);
  if (rc != SQLITE_DONE) fail("cannot note a line of " + table_);
  // The remote load keeps the first line of a key; so does the state.
  if (sqlite3_changes(db_.get()) == 0) return Offer::RepeatedKey;
  if (!changed) return Offer::Unchanged;
  return known ? Offer::SendChanged : Offer::SendNew;
}

std::vector<std::string> ChangeState::vanishedKeys() {
  tsql::StatementHandle s =
      prepare("SELECT raw FROM line WHERE tbl = ?1 AND key NOT IN (SELECT key FROM temp.pending)");
  bindText(s.get(), 1, table_);
  std::vector<std::string> keys;
  while (sqlite3_step(s.get()) == SQLITE_ROW) keys.push_back(columnText(s.get(), 0));
  return keys;
}

void ChangeState::commit(const TableState& state, bool dropVanished) {
  addPending_.reset();
  findLine_.reset();
  const char* apply;
  if (full_) {
    apply =
        "DELETE FROM line WHERE tbl = ?1;"
        "INSERT INTO line SELECT ?1, key, raw, digest FROM temp.pending";
  } else if (dropVanished) {
    apply =
        "DELETE FROM line WHERE tbl = ?1 AND key NOT IN (SELECT key FROM temp.pending);"
        "INSERT OR REPLACE INTO line SELECT ?1, key, raw, digest FROM temp.pending WHERE changed";
  } else {
    apply =
        "INSERT OR REPLACE INTO line SELECT ?1, key, raw, digest FROM temp.pending WHERE changed";
  }
  // Each statement of apply binds the table; run them one by one.
  const char* next = apply;
  while (*next) {
    sqlite3_stmt* raw = nullptr;
    const char* tail = nullptr;
    if (sqlite3_prepare_v2(db_.get(), next, -1, &raw, &tail) != SQLITE_OK) fail(next);
    tsql::StatementHandle s(raw);
    next = tail;
    if (!raw) continue;
    bindText(raw, 1, table_);
    if (sqlite3_step(raw) != SQLITE_DONE) fail("cannot store the lines of " + table_);
  }
  tsql::StatementHandle m = prepare("INSERT OR REPLACE INTO mirror VALUES (?1, ?2, ?3, 1, ?4)");
  bindText(m.get(), 1, table_);
  sqlite3_bind_int64(m.get(), 2, state.lastFullSeconds);
  sqlite3_bind_int64(m.get(), 3, state.expectedRows);
  sqlite3_bind_int(m.get(), 4, state.marksLeft ? 1 : 0);
  if (sqlite3_step(m.get()) != SQLITE_DONE) fail("cannot store the state of " + table_);
  m.reset();
  exec("COMMIT; DROP TABLE IF EXISTS temp.pending");
}

}  // namespace agent
