#include "tests/db/embedded_test_util.h"

#include <atomic>
#include <cstdio>
#include <random>

#include "base/regional.h"
#include "base/text.h"
#include "db/embedded/embedded_engine.h"

namespace agent::testing {

EmbeddedServer::EmbeddedServer() {
  static std::atomic<int> counter{0};
  std::random_device random;
  folder_ = std::filesystem::temp_directory_path() /
            ("engine-test-" + std::to_string(random()) + "-" + std::to_string(counter++));
  createEmbeddedServer(folder_, kPassword);
  openEmbeddedConnection(folder_, "SA", kPassword)
      ->execute(std::string("CREATE DATABASE ") + kDatabase);
}

EmbeddedServer::~EmbeddedServer() {
  std::error_code ec;
  std::filesystem::remove_all(folder_, ec);
}

std::unique_ptr<Connection> EmbeddedServer::connect() const {
  auto c = openEmbeddedConnection(folder_, "SA", kPassword);
  c->setDefaultDatabase(kDatabase);
  return c;
}

std::string render(const Value& v) {
  return displayText(v, "NULL");
}

std::vector<std::string> rowsOf(Connection& connection, const std::string& query,
                                const std::string& fields) {
  auto rs = connection.query(query, Cursor::Forward);
  std::vector<std::string> names;
  if (!fields.empty()) {
    for (const std::string& f : split(fields, ',')) names.push_back(trim(f));
  }
  std::vector<std::string> rows;
  while (!rs->eof()) {
    std::string row;
    if (names.empty()) {
      for (std::size_t i = 0; i < rs->fieldCount(); ++i)
        row += (i ? "|" : "") + render(rs->field(i));
    } else {
      for (std::size_t i = 0; i < names.size(); ++i)
        row += (i ? "|" : "") + render(rs->field(names[i]));
    }
    rows.push_back(row);
    rs->moveNext();
  }
  return rows;
}

}  // namespace agent::testing
