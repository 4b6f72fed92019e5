// Helpers for the embedded engine's tests: a server folder in a temporary
// folder with one database, and rows of a recordset written as text.
#ifndef AGENT_TESTS_DB_EMBEDDED_TEST_UTIL_H_
#define AGENT_TESTS_DB_EMBEDDED_TEST_UTIL_H_

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "db/connection.h"

namespace agent::testing {

// A fresh server folder holding one empty database, removed at the end.
class EmbeddedServer {
 public:
  static constexpr const char* kPassword = "Engine-Test-1";
  static constexpr const char* kDatabase = "ORBA";

  EmbeddedServer();
  ~EmbeddedServer();
  EmbeddedServer(const EmbeddedServer&) = delete;
  EmbeddedServer& operator=(const EmbeddedServer&) = delete;

  const std::filesystem::path& folder() const { return folder_; }
  std::filesystem::path databaseFile() const {
    return folder_ / (std::string(kDatabase) + ".sqlite");
  }
  // A new connection logged in as SA with the database as its default.
  std::unique_ptr<Connection> connect() const;

 private:
  std::filesystem::path folder_;
};

// A value as text: NULL, a number's exact text, a date as
// "yyyy-mm-dd hh:mm:ss", text unchanged.
std::string render(const Value& value);
// The rows of a query, each as its fields (all, or those named, comma
// separated) joined by "|".
std::vector<std::string> rowsOf(Connection& connection, const std::string& query,
                                const std::string& fields = "");

}  // namespace agent::testing

#endif  // AGENT_TESTS_DB_EMBEDDED_TEST_UTIL_H_
