// The recordsets of the embedded engine. A streaming one steps a SQLite
// statement as the caller moves (one row in memory); a static one reads all
// rows when it is made. Both turn each stored value into the Value its
// column's T-SQL type gives: a datetime column's text into a date-time, a
// numeric column's number into a number with its exact decimal text.
#ifndef AGENT_DB_EMBEDDED_EMBEDDED_RECORDSET_H_
#define AGENT_DB_EMBEDDED_EMBEDDED_RECORDSET_H_

#include <memory>
#include <vector>

#include "base/sqlite_handle.h"
#include "db/connection.h"
#include "db/embedded/session_state.h"
#include "db/embedded/tsql_translator.h"

namespace agent::tsql {

// Makes the recordset of a prepared statement that has not been stepped.
// session must outlive the recordset. Throws DbError when the first step
// (or, for Cursor::Static, any step) fails.
std::unique_ptr<Recordset> makeRecordset(StatementHandle statement,
                                         std::vector<ResultColumn> columns, Cursor cursor,
                                         SessionState* session);

// The recordset of a statement that returns no rows: no fields, at EOF.
std::unique_ptr<Recordset> makeEmptyRecordset();

// A stored value read as a column of the given T-SQL type.
Value readValue(sqlite3_stmt* statement, int column, const SqlType& type);
// The same into out, reusing its text storage.
void readValue(sqlite3_stmt* statement, int column, const SqlType& type, Value& out);

}  // namespace agent::tsql

#endif  // AGENT_DB_EMBEDDED_EMBEDDED_RECORDSET_H_
