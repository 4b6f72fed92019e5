// The throwaway MariaDB server of a test run (started by scripts/test-env.sh)
// and a RAII remote database on it: each test makes its own uniquely named
// database holding the remote schema, so tests can run in parallel against
// the one server.
#ifndef AGENT_TESTS_SUPPORT_REMOTE_SERVER_H_
#define AGENT_TESTS_SUPPORT_REMOTE_SERVER_H_

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "db/connection.h"
#include "db/local_file.h"

namespace agent::testing {

// The two remote drivers; every remote contract test runs on both. The
// native one is the agent's on Linux.
enum class RemoteDriver { MariaDb, Odbc };
const char* driverName(RemoteDriver driver);
std::unique_ptr<Connection> openRemote(const std::string& connectionString,
                                       RemoteDriver driver = RemoteDriver::MariaDb);

// Coordinates of the test server, from AGENT_TEST_MARIADB_HOST, _PORT,
// _USER, _PASSWORD and _SOCKET, and its TLS parts from AGENT_TEST_TLS_CA,
// _OTHER_CA, _USER and _PASSWORD (an account that logs in only over TLS).
struct RemoteServer {
  std::string host;
  std::string port;
  std::string user;
  std::string password;
  std::string socket;
  std::string tlsCa;    // the test CA that signed the server's certificate
  std::string otherCa;  // an unrelated CA
  std::string tlsUser;  // REQUIRE SSL
  std::string tlsPassword;

  // Without the variables: a test failure and std::runtime_error, so that
  // the test fails instead of passing silently.
  static RemoteServer fromEnvironment();

  // The agent's connection string for a remote account; verified: with TLS
  // verifying the identity against the test CA, the default time-outs.
  std::string connectionString(std::string_view database) const;
  std::string verifiedConnectionString(std::string_view database) const;
};

// The character sets of a test portal: its database's (the one the server
// reads load files in) and its tables' (schema/remote.sql's latin1 replaced).
struct PortalCharsets {
  std::string database = "latin1";
  std::string tables = "latin1";
};
// latin1 throughout, utf8mb4 throughout, latin1 tables in a utf8mb4 database.
std::vector<PortalCharsets> everyPortalCharset();
// "latin1_latin1", for a parameterised test's name.
std::string charsetsName(const PortalCharsets& charsets);

class RemoteTestDatabase {
 public:
  // A database named from hint, the process id and a counter, holding
  // schema/remote.sql when withSchema. Throws on failure.
  explicit RemoteTestDatabase(std::string_view hint, bool withSchema = true,
                              const PortalCharsets& charsets = {});
  ~RemoteTestDatabase();  // drops the database
  RemoteTestDatabase(const RemoteTestDatabase&) = delete;
  RemoteTestDatabase& operator=(const RemoteTestDatabase&) = delete;

  const std::string& name() const { return name_; }
  const RemoteServer& server() const { return server_; }
  std::string connectionString() const { return server_.connectionString(name_); }
  // A [code] section of remote-accounts.ini for this database (the link
  // comes from platform.ini's [remote]).
  std::string accountSection(std::string_view code) const;

  // A fresh connection over the verified link; execute and scalar run on one.
  std::unique_ptr<Connection> connect(RemoteDriver driver = RemoteDriver::MariaDb) const;
  void execute(const std::string& sql) const;
  // The first row's first column ("" for NULL or no row; exact numbers).
  std::string scalar(const std::string& sql) const;

 private:
  RemoteServer server_;
  std::string name_;
};

// The grant the export writer gives for a file it has just written.
LocalFileGrant grantFor(const std::filesystem::path& path);

// Runs a MySQL script: statements end with ";" at a line's end, "--" lines
// are comments.
void runMySqlScript(Connection& connection, std::string_view script);

// Every row of every portal table (the cycle's stamps left out), each as
// its fields joined by "|", sorted. Staging tables ("tmp" and the name of a
// table) are left out: some stay between cycles, and a changes-only run
// stages only the lines it sends.
std::vector<std::string> portalRows(const RemoteTestDatabase& remote);

}  // namespace agent::testing

#endif  // AGENT_TESTS_SUPPORT_REMOTE_SERVER_H_
