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
  exec("PRAGMA cache_size=-16000");
  exec("PRAGMA temp.cache_size=-16000");
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

ChangeState::Statement ChangeState::prepare(const char* sql) {
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db_.get(), sql, -1, &stmt, nullptr) != SQLITE_OK) fail(sql);
  return Statement(stmt);
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
  Statement find = prepare("SELECT identity FROM remote");
  bool same = sqlite3_step(find.get()) == SQLITE_ROW && columnText(find.get(), 0) == identity;
  find.reset();
  if (same) return;
  exec("BEGIN; DELETE FROM line; DELETE FROM mirror; DELETE FROM remote");
  Statement add = prepare("INSERT INTO remote VALUES (?1)");
  bindText(add.get(), 1, identity);
  if (sqlite3_step(add.get()) != SQLITE_DONE) fail("cannot record the remote database");
  add.reset();
  exec("COMMIT");
}

std::optional<ChangeState::TableState> ChangeState::table(const std::string& name) {
  Statement s =
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
  runs_.clear();
  if (!sqlite3_get_autocommit(db_.get())) exec("ROLLBACK");
}

ChangeState::Run& ChangeState::run(const std::string& name) {
  auto found = runs_.find(name);
  if (found == runs_.end()) fail("no run of " + name + " under way");
  return found->second;
}

void ChangeState::markStarted(const std::string& name) {
  // Called before any run of the pass begins, so that it commits at once.
  Statement s = prepare("UPDATE mirror SET finished = 0 WHERE tbl = ?1");
  bindText(s.get(), 1, name);
  if (sqlite3_step(s.get()) != SQLITE_DONE) fail("cannot mark " + name + " started");
}

void ChangeState::begin(const std::string& name, bool full) {
  if (runs_.empty()) endStaleRun();
  Run& r = runs_[name];
  r.full = full;
  r.pending = "temp.pending_" + name;  // table names are the program's own identifiers
  std::string create = "DROP TABLE IF EXISTS " + r.pending + "; CREATE TABLE " + r.pending +
                       " (key TEXT PRIMARY KEY, raw TEXT NOT NULL, digest INTEGER NOT NULL, "
                       "changed INTEGER NOT NULL) WITHOUT ROWID";
  exec(create.c_str());
  r.addPending =
      prepare(("INSERT OR IGNORE INTO " + r.pending + " VALUES (?1, ?2, ?3, ?4)").c_str());
  r.findLine = prepare("SELECT digest FROM line WHERE tbl = ?1 AND key = ?2");
  bindText(r.findLine.get(), 1, name);
  // One transaction for the runs' pending rows (temporary tables only).
  if (sqlite3_get_autocommit(db_.get())) exec("BEGIN");
}

ChangeState::Offer ChangeState::offer(const std::string& name, std::string_view key,
                                      std::string_view rawKey, std::uint64_t digest) {
  Run& r = run(name);
  bool changed = true, known = false;
  if (!r.full) {
    sqlite3_stmt* f = r.findLine.get();
    bindText(f, 2, key);
    if (sqlite3_step(f) == SQLITE_ROW) {
      known = true;
      changed = static_cast<std::uint64_t>(sqlite3_column_int64(f, 0)) != digest;
    }
    sqlite3_reset(f);
  }
  sqlite3_stmt* a = r.addPending.get();
  bindText(a, 1, key);
  bindText(a, 2, rawKey);
  sqlite3_bind_int64(a, 3, static_cast<sqlite3_int64>(digest));
  sqlite3_bind_int(a, 4, changed ? 1 : 0);
  int rc = sqlite3_step(a);
  sqlite3_reset(a);
  if (rc != SQLITE_DONE) fail("cannot note a line of " + name);
  // The remote load keeps the first line of a key; so does the state.
  if (sqlite3_changes(db_.get()) == 0) return Offer::RepeatedKey;
  if (!changed) return Offer::Unchanged;
  return known ? Offer::SendChanged : Offer::SendNew;
}

std::vector<std::string> ChangeState::vanishedKeys(const std::string& name) {
  Run& r = run(name);
  Statement s = prepare(
      ("SELECT raw FROM line WHERE tbl = ?1 AND key NOT IN (SELECT key FROM " + r.pending + ")")
          .c_str());
  bindText(s.get(), 1, name);
  std::vector<std::string> keys;
  while (sqlite3_step(s.get()) == SQLITE_ROW) keys.push_back(columnText(s.get(), 0));
  return keys;
}

void ChangeState::commit(const std::string& name, const TableState& state, bool dropVanished) {
  Run& r = run(name);
  r.addPending.reset();
  r.findLine.reset();
  const std::string& p = r.pending;
  std::vector<std::string> apply;
  if (r.full) {
    apply = {"DELETE FROM line WHERE tbl = ?1",
             "INSERT INTO line SELECT ?1, key, raw, digest FROM " + p};
  } else {
    if (dropVanished) {
      apply.push_back("DELETE FROM line WHERE tbl = ?1 AND key NOT IN (SELECT key FROM " + p + ")");
    }
    apply.push_back("INSERT OR REPLACE INTO line SELECT ?1, key, raw, digest FROM " + p +
                    " WHERE changed");
  }
  apply.push_back("INSERT OR REPLACE INTO mirror VALUES (?1, ?2, ?3, 1, ?4)");
  for (const std::string& sql : apply) {
    Statement s = prepare(sql.c_str());
    bindText(s.get(), 1, name);
    if (sql.find("mirror") != std::string::npos) {
      sqlite3_bind_int64(s.get(), 2, state.lastFullSeconds);
      sqlite3_bind_int64(s.get(), 3, state.expectedRows);
      sqlite3_bind_int(s.get(), 4, state.marksLeft ? 1 : 0);
    }
    if (sqlite3_step(s.get()) != SQLITE_DONE) fail("cannot store the state of " + name);
  }
  std::string drop = "DROP TABLE IF EXISTS " + p;
  runs_.erase(name);
  if (runs_.empty()) exec("COMMIT");
  exec(drop.c_str());
}

}  // namespace agent
