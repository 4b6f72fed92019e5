// Owning handles for SQLite's database and statement objects: the
// embedded engine's and the change-detection state store's.
#ifndef AGENT_BASE_SQLITE_HANDLE_H_
#define AGENT_BASE_SQLITE_HANDLE_H_

#include <sqlite3.h>

#include <memory>
#include <string>

namespace agent {

struct DatabaseCloser {
  // close_v2 defers the close until the last statement is finalized.
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
struct StatementFinalizer {
  void operator()(sqlite3_stmt* stmt) const { sqlite3_finalize(stmt); }
};

using DatabaseHandle = std::unique_ptr<sqlite3, DatabaseCloser>;
using StatementHandle = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

// sqlite3_open_v2 into db (set even on failure, for its error message).
// Before the process's first open, SQLite's memory statistics are turned
// off: they take a process-wide mutex on every allocation, which a scan of
// a million rows pays a million times over.
inline int openSqliteDatabase(const std::string& path, int flags, DatabaseHandle& db) {
  static const int configured = sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
  (void)configured;
  sqlite3* raw = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &raw, flags, nullptr);
  db.reset(raw);
  return rc;
}

}  // namespace agent

#endif  // AGENT_BASE_SQLITE_HANDLE_H_
