// A local administration database for one test: a fresh embedded server
// folder in a temporary folder, one database in it holding
// schema/local.sql, and an open connection through the DriverMap as the
// agent opens it ("SQL Server" mapped to the embedded engine).
#ifndef AGENT_TESTS_SUPPORT_LOCAL_DATABASE_H_
#define AGENT_TESTS_SUPPORT_LOCAL_DATABASE_H_

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "config/platform_config.h"
#include "db/drivers/driver_connection.h"
#include "tests/support/temp_dir.h"

namespace agent::testing {

class LocalTestDatabase {
 public:
  static constexpr const char* kSaPassword = "Local-Test-1";

  // Creates the server folder and the database name, loads schema/local.sql
  // when withSchema. Throws on failure.
  explicit LocalTestDatabase(std::string_view hint = "local", bool withSchema = true);
  LocalTestDatabase(const LocalTestDatabase&) = delete;
  LocalTestDatabase& operator=(const LocalTestDatabase&) = delete;

  // The open connection, its default database set to this database.
  Connection& connection() { return connection_; }
  const std::filesystem::path& serverFolder() const { return serverFolder_; }
  const std::string& name() const { return name_; }
  // The connection string the settings file would give for this database.
  std::string connectionString() const;
  void execute(const std::string& sql) { connection_.execute(sql); }
  // Another connection straight to the engine, logged in as SA with this
  // database as its default (its temporary tables are its own).
  std::unique_ptr<Connection> connect() const;

 private:
  TempDir dir_;
  std::filesystem::path serverFolder_;
  std::string name_;
  DriverMap drivers_;
  DriverConnection connection_;
};

// The database's file out of reach for as long as the object lives (moved
// aside, as a restore or a disk not mounted yet leaves it): a connection
// cannot open it; connections already open go on.
class DatabaseMovedAway {
 public:
  // Throws std::filesystem::filesystem_error when the file cannot be moved.
  explicit DatabaseMovedAway(const LocalTestDatabase& database);
  ~DatabaseMovedAway();
  DatabaseMovedAway(const DatabaseMovedAway&) = delete;
  DatabaseMovedAway& operator=(const DatabaseMovedAway&) = delete;

 private:
  std::filesystem::path file_;
};

// Runs a T-SQL script: batches separated by lines holding only GO (any
// case, blanks around it allowed), each batch sent as one statement.
void runTSqlScript(Connection& connection, std::string_view script);

// The rows of a query, each as its fields (all, or those named, comma
// separated) joined by "|": NULL as "NULL", a number's exact text, a date
// as "yyyy-mm-dd hh:mm:ss", text unchanged.
std::vector<std::string> rowsOf(Connection& connection, const std::string& query,
                                const std::string& fields = "");

}  // namespace agent::testing

#endif  // AGENT_TESTS_SUPPORT_LOCAL_DATABASE_H_
