#include "db/embedded/catalog.h"

#include "base/sqlite_handle.h"
#include "db/embedded/engine_errors.h"

namespace agent::tsql {

namespace {

StatementHandle prepare(sqlite3* db, const std::string& sql) {
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
    throw engineError(std::string("catalog lookup failed: ") + sqlite3_errmsg(db));
  }
  return StatementHandle(stmt);
}

std::string columnText(sqlite3_stmt* stmt, int i) {
  const unsigned char* t = sqlite3_column_text(stmt, i);
  return t ? reinterpret_cast<const char*>(t) : "";
}

}  // namespace

ObjectKind Catalog::find(const std::string& name) const {
  std::string sql = std::string("SELECT type FROM ") + schemaOf(name) +
                    ".sqlite_master WHERE name = ?1 COLLATE NOCASE AND type IN "
                    "('table','view','index')";
  StatementHandle stmt = prepare(db_, sql);
  sqlite3_bind_text(stmt.get(), 1, name.c_str(), -1, SQLITE_TRANSIENT);
  int rc = sqlite3_step(stmt.get());
  if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED) throw lockTimeoutError();
  if (rc != SQLITE_ROW) return ObjectKind::None;
  std::string type = columnText(stmt.get(), 0);
  if (type == "view") return ObjectKind::View;
  if (type == "index") return ObjectKind::Index;
  return ObjectKind::Table;
}

bool Catalog::hasViewColumnsTable() const {
  StatementHandle stmt =
      prepare(db_, std::string("SELECT 1 FROM main.sqlite_master WHERE name = '") +
                       kViewColumnsTable + "'");
  return sqlite3_step(stmt.get()) == SQLITE_ROW;
}

std::vector<ColumnInfo> Catalog::columns(const std::string& name) const {
  std::vector<ColumnInfo> cols;
  if (find(name) == ObjectKind::View && hasViewColumnsTable()) {
    StatementHandle stmt =
        prepare(db_, std::string("SELECT column_name, declared_type FROM ") + kViewColumnsTable +
                         " WHERE view_name = ?1 COLLATE NOCASE ORDER BY ordinal");
    sqlite3_bind_text(stmt.get(), 1, name.c_str(), -1, SQLITE_TRANSIENT);
    while (sqlite3_step(stmt.get()) == SQLITE_ROW) {
      cols.push_back({columnText(stmt.get(), 0), SqlType::fromDeclared(columnText(stmt.get(), 1))});
    }
    if (!cols.empty()) return cols;
  }
  StatementHandle stmt = prepare(db_, "SELECT name, type FROM pragma_table_info(?1, ?2)");
  sqlite3_bind_text(stmt.get(), 1, name.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(stmt.get(), 2, schemaOf(name), -1, SQLITE_STATIC);
  while (sqlite3_step(stmt.get()) == SQLITE_ROW) {
    cols.push_back({columnText(stmt.get(), 0), SqlType::fromDeclared(columnText(stmt.get(), 1))});
  }
  return cols;
}

}  // namespace agent::tsql
