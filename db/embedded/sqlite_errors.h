// SQLite's failures reported as SQL Server reports the same situation: a
// lock held by another connection becomes the lock time-out (1222), a
// duplicate key error 2627, a NULL in a NOT NULL column error 515, and a
// failing engine function its own conversion error.
#ifndef AGENT_DB_EMBEDDED_SQLITE_ERRORS_H_
#define AGENT_DB_EMBEDDED_SQLITE_ERRORS_H_

#include <sqlite3.h>

#include "db/embedded/session_state.h"
#include "db/error.h"

namespace agent::tsql {

// The error for the failure SQLite just reported on db (rc its result).
DbError sqliteFailure(sqlite3* db, int rc, SessionState& session);

}  // namespace agent::tsql

#endif  // AGENT_DB_EMBEDDED_SQLITE_ERRORS_H_
