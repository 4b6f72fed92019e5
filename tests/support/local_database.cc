// The embedded local database of a test.
#include "tests/support/local_database.h"

#include "base/text.h"
#include "db/embedded/embedded_engine.h"
#include "db/script_batches.h"

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

std::unique_ptr<Connection> LocalTestDatabase::connect() const {
  auto c = openEmbeddedConnection(serverFolder_, "SA", kSaPassword);
  c->setDefaultDatabase(name_);
  return c;
}

void runTSqlScript(Connection& connection, std::string_view script) {
  for (const std::string& batch : splitBatches(script)) connection.execute(batch);
}

DatabaseMovedAway::DatabaseMovedAway(const LocalTestDatabase& database)
    : file_(database.serverFolder() / (database.name() + ".sqlite")) {
  std::filesystem::rename(file_, file_.string() + ".away");
}

DatabaseMovedAway::~DatabaseMovedAway() {
  std::error_code ec;
  std::filesystem::rename(file_.string() + ".away", file_, ec);
}

}  // namespace agent::testing
