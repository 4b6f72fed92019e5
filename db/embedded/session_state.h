// The settings of one embedded-engine connection that its statements and
// SQLite functions read: SET DATEFORMAT, SET QUOTED_IDENTIFIER, the depth of
// BEGIN TRANSACTION, and the SQL Server error a function raised last.
#ifndef AGENT_DB_EMBEDDED_SESSION_STATE_H_
#define AGENT_DB_EMBEDDED_SESSION_STATE_H_

#include <optional>

#include "db/embedded/date_conversion.h"
#include "db/error.h"

namespace agent::tsql {

struct SessionState {
  // SQL Server's defaults for a us_english login through ODBC.
  DateOrder dateOrder = DateOrder::MDY;
  bool quotedIdentifier = true;
  int transactionDepth = 0;
  // Set by a SQLite function that fails, so that the statement's failure is
  // reported with the function's own error rather than SQLite's text.
  std::optional<DbError> functionError;
};

}  // namespace agent::tsql

#endif  // AGENT_DB_EMBEDDED_SESSION_STATE_H_
