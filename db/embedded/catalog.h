// What the embedded engine knows about the objects of a database: whether a
// name is a table or a view, and the T-SQL type of each column. Tables keep
// their T-SQL types as SQLite's declared column types; views, whose columns
// SQLite gives no declared type, have theirs in the table tsql_view_columns.
// Names starting with "#" are temporary tables, in the connection's own
// TEMP schema; all other names are in the database file.
#ifndef AGENT_DB_EMBEDDED_CATALOG_H_
#define AGENT_DB_EMBEDDED_CATALOG_H_

#include <sqlite3.h>

#include <string>
#include <vector>

#include "db/embedded/sql_type.h"

namespace agent::tsql {

struct ColumnInfo {
  std::string name;
  SqlType type;
};

enum class ObjectKind { None, Table, View, Index };

// The table that holds the column types of views.
inline constexpr const char* kViewColumnsTable = "tsql_view_columns";

class Catalog {
 public:
  // db must outlive the catalog.
  explicit Catalog(sqlite3* db) : db_(db) {}

  static bool isTemporary(const std::string& name) { return !name.empty() && name[0] == '#'; }
  // "temp" or "main": the schema a name lives in.
  static const char* schemaOf(const std::string& name) {
    return isTemporary(name) ? "temp" : "main";
  }

  // The kind of object called name (case-insensitive), None when there is none.
  ObjectKind find(const std::string& name) const;
  // The columns of a table or view in order (empty when there is none).
  std::vector<ColumnInfo> columns(const std::string& name) const;
  bool hasViewColumnsTable() const;

 private:
  sqlite3* db_;
};

}  // namespace agent::tsql

#endif  // AGENT_DB_EMBEDDED_CATALOG_H_
