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

// The two remote drivers; every remote contract test runs on both.
enum class RemoteDriver { MariaDb, Odbc };
const char* driverName(RemoteDriver driver);

// Opens connectionString on driver (the native driver by default, as the
// agent uses it on Linux).
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

  // Records a test failure "run the tests through scripts/test.sh" and throws
  // std::runtime_error with that text when the variables are missing, so
  // the test fails instead of passing silently.
  static RemoteServer fromEnvironment();

  // The connection string the agent builds for a remote account, exactly:
  // "DRIVER={MySQL ODBC 3.51 Driver};SERVER=127.0.0.1;DATABASE=<database>;
  // UID=<user>;PWD=<password>; OPTION=3;PORT=<port>" (one line).
  std::string connectionString(std::string_view database) const;
  // connectionString with the link the tests use: TLS with verify-identity
  // against the test CA, the default time-outs.
  std::string verifiedConnectionString(std::string_view database) const;
};

// The character sets of a test portal: its database's (the one the server
// reads load files in) and its tables' (schema/remote.sql's latin1 replaced).
struct PortalCharsets {
  std::string database = "latin1";
  std::string tables = "latin1";
};
// The portals the character set tests run on: latin1 throughout, utf8mb4
// throughout, and latin1 tables in a utf8mb4 database.
std::vector<PortalCharsets> everyPortalCharset();
// "latin1_latin1", for a parameterised test's name.
std::string charsetsName(const PortalCharsets& charsets);

class RemoteTestDatabase {
 public:
  // Creates a database named from hint (letters, digits and "_" kept), the
  // process id and a counter (at most 64 characters), and loads
  // schema/remote.sql into it when withSchema. Throws on failure.
  explicit RemoteTestDatabase(std::string_view hint, bool withSchema = true,
                              const PortalCharsets& charsets = {});
  // Drops the database.
  ~RemoteTestDatabase();
  RemoteTestDatabase(const RemoteTestDatabase&) = delete;
  RemoteTestDatabase& operator=(const RemoteTestDatabase&) = delete;

  const std::string& name() const { return name_; }
  const RemoteServer& server() const { return server_; }
  // The agent's connection string for this database (see RemoteServer).
  std::string connectionString() const { return server_.connectionString(name_); }
  // A [code] section of remote-accounts.ini pointing at this database,
  // with its port key (the link comes from platform.ini's [remote]).
  std::string accountSection(std::string_view code) const;

  // A fresh connection to this database over the verified TLS link, for
  // checking rows.
  std::unique_ptr<Connection> connect(RemoteDriver driver = RemoteDriver::MariaDb) const;
  // Runs one statement on a fresh connection.
  void execute(const std::string& sql) const;
  // The first column of the first row of a query as text ("" for NULL or no
  // row); numbers as the driver's exact text.
  std::string scalar(const std::string& sql) const;

 private:
  RemoteServer server_;
  std::string name_;
};

// The grant the export writer gives for a file it has just written.
LocalFileGrant grantFor(const std::filesystem::path& path);

// Runs every statement of a MySQL script (statements end with ";" at the
// end of a line; lines starting with "--" are comments) on connection.
void runMySqlScript(Connection& connection, std::string_view script);

// Every row of every portal table (the cycle's stamps left out), each as
// its fields joined by "|", sorted. Staging tables ("tmp" and the name of a
// table) are left out: some stay between cycles, and a changes-only run
// stages only the lines it sends.
std::vector<std::string> portalRows(const RemoteTestDatabase& remote);

}  // namespace agent::testing

#endif  // AGENT_TESTS_SUPPORT_REMOTE_SERVER_H_
