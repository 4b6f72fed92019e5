// The test server's coordinates and the per-test remote database.
#include "tests/support/remote_server.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdlib>
#include <stdexcept>

#include "base/remote_link.h"
#include "base/text.h"
#include "db/mariadb_connection.h"
#include "db/odbc_connection.h"
#include "tests/support/temp_dir.h"

namespace agent::testing {
namespace {

constexpr const char* kUseTestScript = "run the tests through scripts/test.sh";

std::string environment(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

std::string databaseName(std::string_view hint) {
  static std::atomic<unsigned> counter{0};
  std::string cleaned;
  for (char c : hint) {
    unsigned char u = static_cast<unsigned char>(c);
    if (std::isalnum(u) || c == '_') cleaned += static_cast<char>(std::tolower(u));
  }
  std::string suffix = "_" + std::to_string(::getpid()) + "_" + std::to_string(counter++);
  const std::size_t room = 64 - suffix.size() - 2;  // "t_" prefix
  return "t_" + cleaned.substr(0, room) + suffix;
}

std::string schemaText() {
  return readFile(AGENT_SOURCE_DIR "/schema/remote.sql");
}

}  // namespace

const char* driverName(RemoteDriver driver) {
  return driver == RemoteDriver::MariaDb ? "MariaDb" : "Odbc";
}

std::unique_ptr<Connection> openRemote(const std::string& connectionString, RemoteDriver driver) {
  if (driver == RemoteDriver::Odbc) return openOdbcConnection(connectionString, "", "");
  return MariaDbConnection::open(connectionString);
}

RemoteServer RemoteServer::fromEnvironment() {
  RemoteServer server{
      environment("AGENT_TEST_MARIADB_HOST"),   environment("AGENT_TEST_MARIADB_PORT"),
      environment("AGENT_TEST_MARIADB_USER"),   environment("AGENT_TEST_MARIADB_PASSWORD"),
      environment("AGENT_TEST_MARIADB_SOCKET"), environment("AGENT_TEST_TLS_CA"),
      environment("AGENT_TEST_TLS_OTHER_CA"),   environment("AGENT_TEST_TLS_USER"),
      environment("AGENT_TEST_TLS_PASSWORD")};
  if (server.host.empty() || server.port.empty() || server.user.empty() || server.tlsCa.empty() ||
      environment("ODBCSYSINI").empty()) {
    ADD_FAILURE() << kUseTestScript
                  << " (the MariaDB test server's AGENT_TEST_MARIADB_* variables are not set)";
    throw std::runtime_error(kUseTestScript);
  }
  return server;
}

std::string RemoteServer::connectionString(std::string_view database) const {
  return "DRIVER={MySQL ODBC 3.51 Driver};SERVER=" + host + ";DATABASE=" + std::string(database) +
         ";UID=" + user + ";PWD=" + password + "; OPTION=3;PORT=" + port;
}

std::string RemoteServer::verifiedConnectionString(std::string_view database) const {
  RemoteLink link;
  link.tls = TlsMode::VerifyIdentity;
  link.tlsCa = tlsCa;
  return connectionString(database) + linkKeywords(link);
}

std::vector<PortalCharsets> everyPortalCharset() {
  return {{"latin1", "latin1"}, {"utf8mb4", "utf8mb4"}, {"utf8mb4", "latin1"}};
}

std::string charsetsName(const PortalCharsets& charsets) {
  return charsets.database + "_" + charsets.tables;
}

RemoteTestDatabase::RemoteTestDatabase(std::string_view hint, bool withSchema,
                                       const PortalCharsets& charsets)
    : server_(RemoteServer::fromEnvironment()), name_(databaseName(hint)) {
  openRemote(server_.verifiedConnectionString(""))
      ->execute("CREATE DATABASE `" + name_ + "` DEFAULT CHARACTER SET " + charsets.database);
  if (withSchema) {
    runMySqlScript(*connect(), replaceAll(schemaText(), "DEFAULT CHARSET latin1",
                                          "DEFAULT CHARSET " + charsets.tables));
  }
}

RemoteTestDatabase::~RemoteTestDatabase() {
  try {
    openRemote(server_.verifiedConnectionString(""))
        ->execute("DROP DATABASE IF EXISTS `" + name_ + "`");
  } catch (const std::exception& e) {
    ADD_FAILURE() << "cannot drop the test database " << name_ << ": " << e.what();
  }
}

std::string RemoteTestDatabase::accountSection(std::string_view code) const {
  return "[" + std::string(code) + "]\nuser = " + server_.user +
         "\npassword = " + server_.password + "\nserver = " + server_.host +
         "\ndatabase = " + name_ + "\nport = " + server_.port + "\ntls_ca = " + server_.tlsCa +
         "\n";
}

std::unique_ptr<Connection> RemoteTestDatabase::connect(RemoteDriver driver) const {
  return openRemote(server_.verifiedConnectionString(name_), driver);
}

void RemoteTestDatabase::execute(const std::string& sql) const {
  connect()->execute(sql);
}

std::string RemoteTestDatabase::scalar(const std::string& sql) const {
  auto connection = connect();
  auto rows = connection->query(sql, Cursor::Static);
  if (rows->eof() || rows->fieldCount() == 0) return "";
  return displayText(rows->field(std::size_t{0}));
}

void runMySqlScript(Connection& connection, std::string_view script) {
  std::string statement;
  for (const std::string& rawLine : split(script, '\n')) {
    std::string line = trim(rawLine, " \t\r");
    if (line.empty() || line.starts_with("--")) continue;
    statement += rawLine;
    statement += '\n';
    if (line.ends_with(";")) {
      connection.execute(statement);
      statement.clear();
    }
  }
  if (!trim(statement, " \t\r\n").empty()) connection.execute(statement);
}

LocalFileGrant grantFor(const std::filesystem::path& path) {
  int fd = ::open(path.c_str(), O_RDONLY);
  FileIdentity identity = identityOfDescriptor(fd);
  ::close(fd);
  return {path, identity};
}

std::vector<std::string> portalRows(const RemoteTestDatabase& remote) {
  std::unique_ptr<Connection> c = remote.connect();
  std::vector<std::string> tables;
  for (auto rs = c->query("show tables", Cursor::Static); !rs->eof(); rs->moveNext()) {
    tables.push_back(rs->field(0).textValue());
  }
  std::vector<std::string> rows;
  for (const std::string& table : tables) {
    if (table.rfind("tmp", 0) == 0 &&
        std::find(tables.begin(), tables.end(), table.substr(3)) != tables.end()) {
      continue;
    }
    for (auto rs = c->query("select * from " + table, Cursor::Static); !rs->eof(); rs->moveNext()) {
      std::string line = table;
      for (std::size_t i = 0; i < rs->fieldCount(); ++i) {
        // The cycle's time stamps differ between any two cycles.
        if (rs->fieldName(i).rfind("flastupd", 0) == 0) continue;
        line += "|" + displayText(rs->field(i), "<null>");
      }
      rows.push_back(line);
    }
  }
  std::sort(rows.begin(), rows.end());
  return rows;
}

}  // namespace agent::testing
