// The SQL functions and the collation the embedded engine registers on
// every SQLite connection; translated statements call them for what SQLite
// does not do as SQL Server does:
//   collation TSQLCI          text compared case-insensitively, trailing
//                             blanks ignored (SQL Server's default collation)
//   tsql_todate(x)            text to datetime by the session's DATEFORMAT
//   tsql_tonum(x, kind, s)    to int/bit/numeric(s)/float, with SQL Server's
//                             conversion errors
//   tsql_totext(x, len, fixed, srckind, srcscale)
//                             to varchar(len) / char(len), error 8152 when
//                             text would be cut
//   tsql_add(a, b)            "+" on operands of unknown type
//   tsql_getdate()            the local date and time
//   tsql_datediff(part, a, b) boundaries of part crossed from a to b
//   tsql_dateadd(part, n, d)  d moved by n parts
//   tsql_adddays(d, n)        datetime + number
//   tsql_datepart(part, d)    a part of d as a number
//   tsql_todate_style(x, st)  text to datetime in a CONVERT style's order
//   tsql_datestyle(d, st)     a datetime as text in a CONVERT style
#ifndef AGENT_DB_EMBEDDED_SQLITE_FUNCTIONS_H_
#define AGENT_DB_EMBEDDED_SQLITE_FUNCTIONS_H_

#include <sqlite3.h>

#include "db/embedded/session_state.h"

namespace agent::tsql {

inline constexpr const char* kTextCollation = "TSQLCI";

// Registers the functions and the collation on db. session must outlive db's
// use. Throws DbError when SQLite refuses a registration.
void registerEngineFunctions(sqlite3* db, SessionState* session);

// The collation's comparison, for tests and C++ callers.
int compareText(int lengthA, const void* a, int lengthB, const void* b);

}  // namespace agent::tsql

#endif  // AGENT_DB_EMBEDDED_SQLITE_FUNCTIONS_H_
