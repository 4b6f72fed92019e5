// A local administration database for one test: a fresh embedded server
// folder, one database holding schema/local.sql, and a connection opened
// through the DriverMap as the agent opens it.
#ifndef AGENT_TESTS_SUPPORT_LOCAL_DATABASE_H_
#define AGENT_TESTS_SUPPORT_LOCAL_DATABASE_H_

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "config/platform_config.h"
#include "db/drivers/driver_connection.h"
#include "db/error.h"
#include "tests/support/temp_dir.h"

namespace agent::testing {

class LocalTestDatabase {
 public:
  static constexpr const char* kSaPassword = "Local-Test-1";

  // Throws on failure.
  explicit LocalTestDatabase(std::string_view hint = "local", bool withSchema = true);
  LocalTestDatabase(const LocalTestDatabase&) = delete;
  LocalTestDatabase& operator=(const LocalTestDatabase&) = delete;

  Connection& connection() { return connection_; }
  const std::filesystem::path& serverFolder() const { return serverFolder_; }
  const std::string& name() const { return name_; }
  std::string connectionString() const;  // as the settings file gives it
  void execute(const std::string& sql) { connection_.execute(sql); }
  // Another connection straight to the engine (its temporary tables are
  // its own).
  std::unique_ptr<Connection> connect() const;

 private:
  TempDir dir_;
  std::filesystem::path serverFolder_;
  std::string name_;
  DriverMap drivers_;
  DriverConnection connection_;
};

// The database's file moved aside for as long as the object lives, as a
// restore or a disk not mounted yet leaves it: a connection cannot open it;
// connections already open go on.
class DatabaseMovedAway {
 public:
  explicit DatabaseMovedAway(const LocalTestDatabase& database);
  ~DatabaseMovedAway();
  DatabaseMovedAway(const DatabaseMovedAway&) = delete;
  DatabaseMovedAway& operator=(const DatabaseMovedAway&) = delete;

 private:
  std::filesystem::path file_;
};

// Runs a T-SQL script, each GO batch as one statement.
void runTSqlScript(Connection& connection, std::string_view script);

// The DbError f throws; a test failure when it throws none.
template <typename F>
DbError dbErrorOf(F&& f) {
  try {
    f();
  } catch (const DbError& e) {
    return e;
  }
  ADD_FAILURE() << "no DbError was thrown";
  return DbError("", 0, "");
}

}  // namespace agent::testing

#endif  // AGENT_TESTS_SUPPORT_LOCAL_DATABASE_H_
