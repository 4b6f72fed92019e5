// The embedded local engine: a small SQL Server stand-in on SQLite that
// speaks the T-SQL the agent sends. A "server" is a folder holding
// server.ini ([server] sa_password) and one <name>.sqlite file per database.
#ifndef AGENT_DB_EMBEDDED_EMBEDDED_ENGINE_H_
#define AGENT_DB_EMBEDDED_EMBEDDED_ENGINE_H_

#include <filesystem>
#include <memory>
#include <string>

#include "db/connection.h"

namespace agent {

// Logs in to the server in serverFolder. Throws DbError as SQL Server
// words it: 18456 "Login failed for user '<user>'." for a wrong password or
// user, and an error naming the folder when it is no server folder.
std::unique_ptr<Connection> openEmbeddedConnection(const std::filesystem::path& serverFolder,
                                                   const std::string& user,
                                                   const std::string& password);

// The file that holds database name of the server in serverFolder.
std::filesystem::path embeddedDatabaseFile(const std::filesystem::path& serverFolder,
                                           const std::string& name);

// Makes serverFolder a server folder with the given SA password (creates the
// folder and server.ini). Used by the demo and the tests.
void createEmbeddedServer(const std::filesystem::path& serverFolder, const std::string& saPassword);

}  // namespace agent

#endif  // AGENT_DB_EMBEDDED_EMBEDDED_ENGINE_H_
