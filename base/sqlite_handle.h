// Owning handles for SQLite's database and statement objects: the
// embedded engine's and the change-detection state store's.
#ifndef AGENT_BASE_SQLITE_HANDLE_H_
#define AGENT_BASE_SQLITE_HANDLE_H_

#include <sqlite3.h>

#include <memory>

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

}  // namespace agent

#endif  // AGENT_BASE_SQLITE_HANDLE_H_
