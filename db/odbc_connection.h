// The ODBC driver: a Connection over the system's ODBC driver manager
// (unixODBC here, the Windows driver manager there), with RAII handles.
#ifndef AGENT_DB_ODBC_CONNECTION_H_
#define AGENT_DB_ODBC_CONNECTION_H_

#include <memory>
#include <string>

#include "db/connection.h"

namespace agent {

// Connects with a full ODBC connection string (SQLDriverConnect). user and
// password, when not empty, are appended as UID and PWD. Throws DbError
// with the driver manager's or driver's SQLSTATE, native code and text.
std::unique_ptr<Connection> openOdbcConnection(const std::string& connectionString,
                                               const std::string& user,
                                               const std::string& password);

// Whether the ODBC driver manager has a driver registered under name
// (compared case-insensitively, as the driver manager does).
bool odbcDriverRegistered(const std::string& name);

}  // namespace agent

#endif  // AGENT_DB_ODBC_CONNECTION_H_
