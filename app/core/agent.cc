#include "app/core/agent.h"

#include <fmt/format.h>

#include "app/core/stage_order.h"
#include "base/errors.h"
#include "base/private_file.h"
#include "config/local_settings.h"
#include "config/remote_accounts.h"
#include "cycle/cycle.h"
#include "cycle/leftover_recovery.h"
#include "db/error.h"

namespace agent {

struct Agent::State {
  explicit State(const DriverMap& drivers) : local(std::make_unique<DriverConnection>(drivers)) {}
  // The local connection lives for the program; it starts unopened, so that
  // a cycle without one fails at its first local statement.
  std::unique_ptr<DriverConnection> local;
  // The last cycle's remote connection, left open until the next cycle.
  std::unique_ptr<DriverConnection> remote;
  std::string remoteDbName;
};

namespace {

PlatformConfig loadPlatformConfig(const std::filesystem::path& home) {
  try {
    return PlatformConfig::load(home);
  } catch (const AgentError& e) {
    throw ProgramEnd(e.description());
  }
}

std::string errorText(const AgentError& e) {
  return fmt::format("Error {}: {}", e.number(), e.description());
}

}  // namespace

Agent::Agent(std::filesystem::path home, MessageSink& messages, Journal& journal,
             const Clock& clock)
    : home_(std::move(home)),
      config_(loadPlatformConfig(home_)),
      messages_(messages),
      journal_(journal),
      clock_(clock),
      state_(std::make_unique<State>(config_.drivers)) {}

Agent::~Agent() = default;

void Agent::ensureCsvFolder() {
  // The export files hold personal data and initial passwords: the folder
  // is the owner's alone, and a folder that others could reach is narrowed.
  const std::filesystem::path csv = home_ / "CSV";
  try {
    if (makeOwnerOnlyFolder(csv) == FolderAccess::Narrowed) {
      journal_.warning("CSV folder " + csv.string() +
                       " was open to other users; narrowed to the owner");
    }
  } catch (const std::system_error& e) {
    // A file named CSV in the way, or no right to write the program folder.
    AgentError error(
        error_number::kFileError,
        fmt::format("Path/File access error: {} ({})", csv.string(),
                    e.code() == std::errc::not_a_directory ? "a file of that name is in the way"
                                                           : e.code().message()));
    journal_.error(errorText(error));
    throw ProgramEnd(errorText(error));
  }
}

void Agent::activate() {
  connectLocal();
  runCycle();
}

void Agent::connectLocal() {
  const std::filesystem::path iniPath = home_ / kSettingsFileName;
  std::optional<LocalSettings> settings = readLocalSettings(iniPath);
  if (!settings) {
    journal_.error("settings file missing: " + iniPath.string());
    throw ProgramEnd("DB Path Not Identified");
  }
  try {
    std::string password = unscramblePassword(settings->password);
    if (settings->dbType.empty()) {
      journal_.error("settings file " + iniPath.string() + ": DBASEPATH is empty");
      throw ProgramEnd("Database type not specified!!");
    }
    if (settings->dbType == "ORACLE") {
      auto conn = std::make_unique<DriverConnection>(config_.drivers);
      conn->open(oracleConnectionString(settings->serverName), "qbt", "qbt");
      state_->local = std::move(conn);
      journal_.info("local connection: Oracle " + settings->serverName);
      return;
    }
    if (settings->dbType != "SQLSRVR") {
      // Neither type: no connection; the cycle fails at its first local
      // statement and says so there.
      journal_.warning("settings file: database type \"" + settings->dbType +
                       "\" is neither ORACLE nor SQLSRVR; no local connection");
      return;
    }
    // The old connection closes before the new one opens; until the new
    // one is ready the program holds an unopened connection.
    state_->local = std::make_unique<DriverConnection>(config_.drivers);
    auto conn = std::make_unique<DriverConnection>(config_.drivers);
    conn->open(sqlServerConnectionString(settings->serverName, password));
    std::string dbName = localDatabaseName(settings->dbName, home_);
    conn->setDefaultDatabase(dbName);
    conn->execute("SET QUOTED_IDENTIFIER OFF");
    conn->execute("SET DATEFORMAT DMY");
    {
      auto rs = conn->query("select * from control", Cursor::Static);
      if (!rs->eof() && !rs->bof()) {
        const Value& code = rs->field("funivcode");
        univCode_ = code.isNull() ? "" : code.isText() ? code.textValue() : code.exactNumber();
      }
    }
    state_->local = std::move(conn);
    journal_.info(fmt::format("local connection: {} database {}, institution \"{}\"",
                              settings->serverName, dbName, univCode_));
  } catch (const AgentError& e) {
    journal_.error("local connection failed: " + errorText(e));
    throw ProgramEnd(errorText(e));
  }
}

bool Agent::runCycle() {
  return runCycle(cycleStages());
}

bool Agent::runCycle(StageList stages) {
  journal_.info(fmt::format("cycle start, institution \"{}\"", univCode_));
  connectRemote();
  RecoveringConnection local(*state_->local, *state_->local, journal_);
  RecoveringConnection remote(*state_->remote, *state_->local, journal_);
  CycleContext ctx{local, remote, home_, config_, univCode_, messages_, journal_, clock_};
  return runUploadCycle(ctx, stages);
}

void Agent::connectRemote() {
  std::vector<std::string> warnings;
  RemoteAccounts accounts = RemoteAccounts::load(home_ / kRemoteAccountsFileName, &warnings);
  for (const std::string& w : warnings) journal_.warning(w);
  RemoteAccount account;
  if (std::optional<RemoteAccount> found = accounts.find(univCode_)) {
    account = *found;
    state_->remoteDbName = found->database;
  }
  // The previous cycle's connection is let go before the new one opens.
  state_->remote.reset();
  state_->remote = std::make_unique<DriverConnection>(config_.drivers);
  try {
    state_->remote->open(remoteConnectionString(account.server, state_->remoteDbName, account.user,
                                                account.password, account.port));
    journal_.info(
        fmt::format("remote connection: {} database {}", account.server, state_->remoteDbName));
  } catch (const AgentError& e) {
    journal_.error("remote connection failed: " + errorText(e));
    messages_.show(e.description(), MessageIcon::Exclamation);
  }
}

}  // namespace agent
