// The embedded local database of a test.
#include "tests/support/local_database.h"

#include "base/text.h"
#include "db/embedded/embedded_engine.h"

namespace agent::testing {

namespace {

DriverMap embeddedDrivers(const std::filesystem::path& home) {
  DriverMap drivers(home);
  drivers.add("SQL Server", DriverTarget{DriverTarget::Kind::Embedded, ""});
  return drivers;
}

}  // namespace

LocalTestDatabase::LocalTestDatabase(std::string_view hint, bool withSchema)
    : dir_(hint),
      serverFolder_(dir_ / "server"),
      name_("agent_local"),
      drivers_(embeddedDrivers(dir_.path())),
      connection_(drivers_) {
  createEmbeddedServer(serverFolder_, kSaPassword);
  connection_.open("Driver={SQL Server};Server=" + serverFolder_.string(), "sa", kSaPassword);
  connection_.execute("CREATE DATABASE " + name_);
  connection_.setDefaultDatabase(name_);
  if (withSchema) runTSqlScript(connection_, readFile(AGENT_SOURCE_DIR "/schema/local.sql"));
}

std::string LocalTestDatabase::connectionString() const {
  return "Driver={SQL Server};Server=" + serverFolder_.string() + ";Database=" + name_ +
         ";Uid=sa;Pwd=" + kSaPassword;
}

void runTSqlScript(Connection& connection, std::string_view script) {
  std::string batch;
  auto flush = [&] {
    if (!trim(batch, " \t\r\n").empty()) connection.execute(batch);
    batch.clear();
  };
  for (const std::string& line : split(script, '\n')) {
    if (equalsIgnoreCase(trim(line, " \t\r"), "GO")) {
      flush();
    } else {
      batch += line;
      batch += '\n';
    }
  }
  flush();
}

}  // namespace agent::testing
