#include "upload/change_state.h"

#include <algorithm>
#include <cstring>
#include <functional>

#if defined(__linux__)
#include <sys/mman.h>
#endif

#include "db/error.h"
#include "upload/raw_keys.h"

namespace agent {

namespace {

// The layout's number (PRAGMA user_version); a store of another number is
// emptied on opening.
constexpr int kLayout = 4;

// lines: per table and kind one blob. Kind "entries": the table's (key
// hash, digest) pairs sorted by key hash, 16 bytes each in the machine's
// byte order; kind "raws", for the tables that keep raw keys: records of
// [key hash, 8 bytes][length, 4 bytes][text] in no order. A rowid table
// with the blob last, so that a blob is read and written in place: SQLite
// then stores a zero blob without making it in memory, and a row is
// replaced by a delete and an insert, which never reads the old blob.
constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS remote (identity TEXT NOT NULL);"
    "CREATE TABLE IF NOT EXISTS mirror (tbl TEXT PRIMARY KEY, last_full INTEGER NOT NULL, "
    "expected INTEGER NOT NULL, finished INTEGER NOT NULL, marks_left INTEGER NOT NULL, "
    "stamp TEXT NOT NULL, sources TEXT NOT NULL);"
    "CREATE TABLE IF NOT EXISTS lines (tbl TEXT NOT NULL, kind TEXT NOT NULL, data BLOB NOT NULL, "
    "UNIQUE (tbl, kind));";
// The portal's mark (one row at most); made in a store of the layout
// above, which then has none and vouches for no table once.
constexpr const char* kPortalMarkSchema =
    "CREATE TABLE IF NOT EXISTS portal_mark (mark TEXT NOT NULL)";

constexpr const char* kDropAll =
    "DROP TABLE IF EXISTS remote; DROP TABLE IF EXISTS mirror; DROP TABLE IF EXISTS line; "
    "DROP TABLE IF EXISTS lines; DROP TABLE IF EXISTS portal_mark;";

// Lookups land anywhere in a large table's lines: in 2 MiB pages rather
// than 4 KiB ones, most of them no longer miss the processor's page table
// cache as well as its data cache. Asked for before the memory is touched;
// where the system has no such pages, nothing changes.
void useLargePages(void* data, std::size_t bytes) {
#if defined(MADV_HUGEPAGE)
  constexpr std::uintptr_t kLargePage = std::uintptr_t{2} << 20;
  auto begin = (reinterpret_cast<std::uintptr_t>(data) + kLargePage - 1) & ~(kLargePage - 1);
  auto end = (reinterpret_cast<std::uintptr_t>(data) + bytes) & ~(kLargePage - 1);
  if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
  (void)data;
  (void)bytes;
#endif
}

}  // namespace

ChangeState::ChangeState(const std::filesystem::path& file) : file_(file) {
  int rc = openSqliteDatabase(
      file.string(), SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, db_);
  if (rc != SQLITE_OK) fail("cannot open");
  sqlite3_busy_timeout(db_.get(), 5000);
  exec("PRAGMA journal_mode=WAL");
  exec("PRAGMA synchronous=NORMAL");
  // Blobs go through incremental I/O; a small page cache is enough.
  exec("PRAGMA cache_size=-512");
  StatementHandle version = prepare("PRAGMA user_version");
  int layout = sqlite3_step(version.get()) == SQLITE_ROW ? sqlite3_column_int(version.get(), 0) : 0;
  version.reset();
  if (layout != kLayout) {
    exec("BEGIN");
    exec(kDropAll);
    exec(kSchema);
    exec(("PRAGMA user_version=" + std::to_string(kLayout)).c_str());
    exec("COMMIT");
  }
  exec(kPortalMarkSchema);
}

void ChangeState::fail(const std::string& what) const {
  failed_ = true;
  throw AgentError(error_number::kFileError,
                   "Upload state " + file_.string() + ": " + what + ": " +
                       (db_ ? sqlite3_errmsg(db_.get()) : "out of memory"));
}

void ChangeState::exec(const char* sql) {
  if (sqlite3_exec(db_.get(), sql, nullptr, nullptr, nullptr) != SQLITE_OK) fail(sql);
}

StatementHandle ChangeState::prepare(const char* sql) {
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db_.get(), sql, -1, &stmt, nullptr) != SQLITE_OK) fail(sql);
  return StatementHandle(stmt);
}

namespace {

void bindText(sqlite3_stmt* s, int i, std::string_view text) {
  sqlite3_bind_text(s, i, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

std::string columnText(sqlite3_stmt* s, int i) {
  const unsigned char* t = sqlite3_column_text(s, i);
  return t ? std::string(reinterpret_cast<const char*>(t), sqlite3_column_bytes(s, i)) : "";
}

struct CloseBlob {
  void operator()(sqlite3_blob* b) const { sqlite3_blob_close(b); }
};
using Blob = std::unique_ptr<sqlite3_blob, CloseBlob>;

}  // namespace

void ChangeState::checkUsable(bool thorough) {
  endStaleRun();
  if (thorough) {
    StatementHandle check = prepare("PRAGMA quick_check(1)");
    int rc = sqlite3_step(check.get());
    if (rc != SQLITE_ROW) fail("cannot be read through");
    std::string verdict = columnText(check.get(), 0);
    if (verdict != "ok") {
      failed_ = true;
      throw AgentError(error_number::kFileError,
                       "Upload state " + file_.string() + ": damaged: " + verdict);
    }
  }
  if (sqlite3_db_readonly(db_.get(), "main") == 1) {
    failed_ = true;
    throw AgentError(error_number::kFileError, "Upload state " + file_.string() +
                                                   ": opened read-only (no right to write it)");
  }
  // A write that changes nothing: a store that cannot be written (a file
  // made read-only, a full disk) fails here.
  exec("BEGIN IMMEDIATE");
  exec("UPDATE remote SET identity = identity");
  exec("COMMIT");
}

void ChangeState::bindRemote(const std::string& identity) {
  endStaleRun();
  StatementHandle find = prepare("SELECT identity FROM remote");
  bool same = sqlite3_step(find.get()) == SQLITE_ROW && columnText(find.get(), 0) == identity;
  find.reset();
  if (same) return;
  exec("BEGIN; DELETE FROM lines; DELETE FROM mirror; DELETE FROM remote; DELETE FROM portal_mark");
  StatementHandle add = prepare("INSERT INTO remote VALUES (?1)");
  bindText(add.get(), 1, identity);
  if (sqlite3_step(add.get()) != SQLITE_DONE) fail("cannot record the remote database");
  add.reset();
  exec("COMMIT");
}

std::string ChangeState::portalMark() {
  StatementHandle s = prepare("SELECT mark FROM portal_mark");
  return sqlite3_step(s.get()) == SQLITE_ROW ? columnText(s.get(), 0) : std::string();
}

void ChangeState::recordPortalMark(const std::string& mark) {
  exec("BEGIN; DELETE FROM portal_mark");
  StatementHandle add = prepare("INSERT INTO portal_mark VALUES (?1)");
  bindText(add.get(), 1, mark);
  if (sqlite3_step(add.get()) != SQLITE_DONE) {
    add.reset();
    sqlite3_exec(db_.get(), "ROLLBACK", nullptr, nullptr, nullptr);
    fail("cannot record the portal's mark");
  }
  add.reset();
  exec("COMMIT");
}

void ChangeState::forgetTables() {
  endStaleRun();
  exec("BEGIN; DELETE FROM lines; DELETE FROM mirror; COMMIT");
}

std::optional<ChangeState::TableState> ChangeState::table(const std::string& name) {
  StatementHandle s = prepare(
      "SELECT last_full, expected, finished, marks_left, stamp, sources FROM mirror WHERE "
      "tbl = ?1");
  bindText(s.get(), 1, name);
  if (sqlite3_step(s.get()) != SQLITE_ROW) return std::nullopt;
  TableState state;
  state.lastFullSeconds = sqlite3_column_int64(s.get(), 0);
  state.expectedRows = sqlite3_column_int64(s.get(), 1);
  state.finished = sqlite3_column_int(s.get(), 2) != 0;
  state.marksLeft = sqlite3_column_int(s.get(), 3) != 0;
  state.remoteStamp = columnText(s.get(), 4);
  state.sources = columnText(s.get(), 5);
  return state;
}

bool ChangeState::knowsNoTable() {
  StatementHandle s = prepare("SELECT 1 FROM mirror LIMIT 1");
  return sqlite3_step(s.get()) != SQLITE_ROW;
}

void ChangeState::endStaleRun() {
  // A run that failed before commit() leaves its lines in memory only.
  runs_.clear();
  if (!sqlite3_get_autocommit(db_.get())) exec("ROLLBACK");
}

ChangeState::Run& ChangeState::run(const std::string& name) {
  auto found = runs_.find(name);
  if (found == runs_.end()) fail("no run of " + name + " under way");
  return found->second;
}

void ChangeState::recordStamp(const std::string& name, const std::string& stamp,
                              std::int64_t expectedRows) {
  StatementHandle s =
      prepare("UPDATE mirror SET stamp = ?2 WHERE tbl = ?1 AND expected = ?3 AND finished = 1");
  bindText(s.get(), 1, name);
  bindText(s.get(), 2, stamp);
  sqlite3_bind_int64(s.get(), 3, expectedRows);
  if (sqlite3_step(s.get()) != SQLITE_DONE) fail("cannot record the stamp of " + name);
}

void ChangeState::markStarted(const std::string& name) {
  StatementHandle s = prepare("UPDATE mirror SET finished = 0 WHERE tbl = ?1");
  bindText(s.get(), 1, name);
  if (sqlite3_step(s.get()) != SQLITE_DONE) fail("cannot mark " + name + " started");
}

bool ChangeState::readBlob(const std::string& name, const char* kind, const std::string& what,
                           const std::function<void*(int bytes)>& reserve) {
  StatementHandle s = prepare("SELECT rowid FROM lines WHERE tbl = ?1 AND kind = ?2");
  bindText(s.get(), 1, name);
  bindText(s.get(), 2, kind);
  if (sqlite3_step(s.get()) != SQLITE_ROW) return false;
  sqlite3_blob* raw = nullptr;
  if (sqlite3_blob_open(db_.get(), "main", "lines", "data", sqlite3_column_int64(s.get(), 0), 0,
                        &raw) != SQLITE_OK) {
    sqlite3_blob_close(raw);
    fail("cannot read the " + what + " of " + name);
  }
  Blob blob(raw);
  int bytes = sqlite3_blob_bytes(raw);
  // Read straight into the caller's buffer: the store never holds a second
  // copy.
  void* into = reserve(bytes);
  if (bytes > 0 && sqlite3_blob_read(raw, into, bytes, 0) != SQLITE_OK) {
    fail("cannot read the " + what + " of " + name);
  }
  return true;
}

std::vector<ChangeState::Entry> ChangeState::loadLines(const std::string& name) {
  std::vector<Entry> lines;
  readBlob(name, "entries", "lines", [&](int bytes) -> void* {
    if (bytes % sizeof(Entry) != 0) fail("the lines of " + name + " are cut");
    std::size_t count = static_cast<std::size_t>(bytes) / sizeof(Entry);
    lines.reserve(count);
    useLargePages(lines.data(), count * sizeof(Entry));
    lines.resize(count);
    return lines.data();
  });
  return lines;
}

std::string ChangeState::loadRaws(const std::string& name, bool* present) {
  std::string raws;
  *present = readBlob(name, "raws", "keys", [&](int bytes) -> void* {
    raws.resize(static_cast<std::size_t>(bytes));
    return raws.data();
  });
  return raws;
}

void ChangeState::storeBlob(const std::string& name, const char* kind, std::size_t bytes,
                            const std::function<void(const Write&)>& fill) {
  // A zero blob of the size, then filled in place: SQLite makes no record
  // buffer of its own for it.
  if (bytes > 0x7FFFFFFF) fail("the lines of " + name + " exceed 2 GB");
  StatementHandle drop = prepare("DELETE FROM lines WHERE tbl = ?1 AND kind = ?2");
  bindText(drop.get(), 1, name);
  bindText(drop.get(), 2, kind);
  if (sqlite3_step(drop.get()) != SQLITE_DONE) fail("cannot store the lines of " + name);
  StatementHandle s = prepare("INSERT INTO lines (tbl, kind, data) VALUES (?1, ?2, zeroblob(?3))");
  bindText(s.get(), 1, name);
  bindText(s.get(), 2, kind);
  sqlite3_bind_int64(s.get(), 3, static_cast<sqlite3_int64>(bytes));
  if (sqlite3_step(s.get()) != SQLITE_DONE) fail("cannot store the lines of " + name);
  sqlite3_int64 row = sqlite3_last_insert_rowid(db_.get());
  if (bytes == 0) return;
  sqlite3_blob* raw = nullptr;
  if (sqlite3_blob_open(db_.get(), "main", "lines", "data", row, 1, &raw) != SQLITE_OK) {
    sqlite3_blob_close(raw);
    fail("cannot store the lines of " + name);
  }
  Blob blob(raw);
  std::size_t offset = 0;
  fill([&](const void* data, std::size_t size) {
    if (size == 0) return;
    if (offset + size > bytes || sqlite3_blob_write(raw, data, static_cast<int>(size),
                                                    static_cast<int>(offset)) != SQLITE_OK) {
      fail("cannot store the lines of " + name);
    }
    offset += size;
  });
  if (offset != bytes) fail("cannot store the lines of " + name);
}

void ChangeState::storeBlob(const std::string& name, const char* kind, const void* data,
                            std::size_t bytes) {
  storeBlob(name, kind, bytes, [&](const Write& write) { write(data, bytes); });
}

void ChangeState::storeEntries(const std::string& name,
                               const std::function<void(const Emit&)>& each) {
  // Two passes over the lines, in key order: the blob's size first, then
  // its bytes through a small buffer; no second array of the lines.
  std::size_t count = 0;
  each([&count](const Entry&) { ++count; });
  storeBlob(name, "entries", count * sizeof(Entry), [&](const Write& write) {
    std::vector<Entry> buffer;
    buffer.reserve(4096);
    each([&](const Entry& e) {
      buffer.push_back(e);
      if (buffer.size() == buffer.capacity()) {
        write(buffer.data(), buffer.size() * sizeof(Entry));
        buffer.clear();
      }
    });
    write(buffer.data(), buffer.size() * sizeof(Entry));
  });
}

void ChangeState::commit(const std::string& name, const TableState& state, bool dropVanished) {
  Run& r = run(name);
  exec("BEGIN IMMEDIATE");
  try {
    store(name, r, state, dropVanished);
    exec("COMMIT");
  } catch (const AgentError&) {
    // The table keeps its old state (merged in full next time, as its run
    // stays unfinished); the store stays usable for the other tables.
    sqlite3_exec(db_.get(), "ROLLBACK", nullptr, nullptr, nullptr);
    runs_.erase(name);
    throw;
  }
  runs_.erase(name);
}

void ChangeState::store(const std::string& name, Run& r, const TableState& state,
                        bool dropVanished) {
  auto byKey = [](const Entry& a, const Entry& b) { return a.key < b.key; };
  if (r.full) {
    for (std::vector<Entry>& chunk : r.chunks) std::sort(chunk.begin(), chunk.end(), byKey);
    // A merge of the sorted chunks. A key offered twice keeps one line's
    // digest: should it not be the first one's, the next run sends that
    // line once more.
    storeEntries(name, [&r](const Emit& emit) {
      std::vector<std::size_t> at(r.chunks.size(), 0);
      auto later = [&](std::size_t a, std::size_t b) {
        return r.chunks[a][at[a]].key > r.chunks[b][at[b]].key;
      };
      std::vector<std::size_t> heap;
      for (std::size_t i = 0; i < r.chunks.size(); ++i) {
        if (!r.chunks[i].empty()) heap.push_back(i);
      }
      std::make_heap(heap.begin(), heap.end(), later);
      bool any = false;
      std::uint64_t last = 0;
      while (!heap.empty()) {
        std::pop_heap(heap.begin(), heap.end(), later);
        std::size_t c = heap.back();
        const Entry& e = r.chunks[c][at[c]];
        if (!any || e.key != last) emit(e);
        any = true;
        last = e.key;
        if (++at[c] < r.chunks[c].size()) {
          std::push_heap(heap.begin(), heap.end(), later);
        } else {
          heap.pop_back();
        }
      }
    });
    r.chunks.clear();
    if (r.keepRaw) storeBlob(name, "raws", r.raws.data(), r.raws.size());
  } else {
    bool dropping = dropVanished && !r.vanished.empty();
    std::sort(r.added.begin(), r.added.end(), byKey);
    if (r.changed || dropping || !r.added.empty()) {
      // The stored lines (less the vanished ones) merged with the added.
      storeEntries(name, [&r, dropping](const Emit& emit) {
        std::size_t a = 0;
        for (std::size_t i = 0; i < r.lines.size(); ++i) {
          if (dropping && !r.seen[i]) continue;
          while (a < r.added.size() && r.added[a].key < r.lines[i].key) emit(r.added[a++]);
          emit(r.lines[i]);
        }
        while (a < r.added.size()) emit(r.added[a++]);
      });
    }
    if (r.keepRaw && (dropping || !r.added.empty())) {
      bool present = false;
      std::string old = loadRaws(name, &present);
      std::string kept;
      kept.reserve(old.size() + r.raws.size());
      forEachRaw(old, [&](std::uint64_t key, std::string_view text) {
        if (!dropping || !holds(r.vanished, key)) appendRaw(kept, key, text);
      });
      kept += r.raws;
      storeBlob(name, "raws", kept.data(), kept.size());
    }
  }
  StatementHandle s = prepare("INSERT OR REPLACE INTO mirror VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)");
  bindText(s.get(), 1, name);
  sqlite3_bind_int64(s.get(), 2, state.lastFullSeconds);
  sqlite3_bind_int64(s.get(), 3, state.expectedRows);
  sqlite3_bind_int(s.get(), 4, r.rawMissing ? 0 : 1);
  sqlite3_bind_int(s.get(), 5, state.marksLeft ? 1 : 0);
  bindText(s.get(), 6, state.remoteStamp);
  bindText(s.get(), 7, state.sources);
  if (sqlite3_step(s.get()) != SQLITE_DONE) fail("cannot store the state of " + name);
}

}  // namespace agent
