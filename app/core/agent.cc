#include "app/core/agent.h"

#include <fmt/format.h>

#include "app/core/agent_state.h"
#include "app/core/cycle_lock.h"
#include "app/core/portal_link.h"
#include "app/core/stage_order.h"
#include "base/errors.h"
#include "base/file_names.h"
#include "base/private_file.h"
#include "base/remote_link.h"
#include "config/local_settings.h"
#include "config/remote_accounts.h"
#include "cycle/cluster_session.h"
#include "cycle/cycle.h"
#include "cycle/cycle_summary.h"
#include "cycle/leftover_recovery.h"
#include "cycle/server_warnings.h"
#include "db/embedded/embedded_engine.h"
#include "db/error.h"
#include "upload/change_state.h"
#include "upload/change_state_keeper.h"

namespace agent {

struct Agent::State {
  explicit State(const DriverMap& drivers) : local(std::make_unique<DriverConnection>(drivers)) {}
  // The local connection lives for the program; it starts unopened, so that
  // a cycle without one fails at its first local statement.
  std::unique_ptr<DriverConnection> local;
  // The last cycle's remote connection, left open until the next cycle.
  std::unique_ptr<DriverConnection> remote;
  std::string remoteDbName;
  // The account's host the last connection reached ("host:port").
  std::string remoteNode;
  std::string localDbName;
  // Change detection's state store, opened by the first cycle that uses it
  // and checked before every cycle.
  std::unique_ptr<ChangeStateKeeper> changes;
  // Opens another connection like local (a SQL Server one); empty otherwise.
  std::function<std::unique_ptr<Connection>()> connectLocalAgain;
  // The embedded engine's database file when the local database is one.
  std::filesystem::path embeddedDatabase;
  // The local database is a SQL Server one (not the embedded engine).
  bool localIsSqlServer = false;
  // The portal lock from one cycle to the next.
  PortalLockMemory portalLock;
};

namespace {

PlatformConfig loadPlatformConfig(const std::filesystem::path& home) {
  try {
    return PlatformConfig::load(home);
  } catch (const AgentError& e) {
    throw ProgramEnd(e.description());
  }
}

// A connection to the office's SQL Server database, set as every statement
// the agent sends there expects.
std::unique_ptr<DriverConnection> openSqlServer(const DriverMap& drivers,
                                                const std::string& connectionString,
                                                const std::string& database) {
  auto conn = std::make_unique<DriverConnection>(drivers);
  conn->open(connectionString);
  conn->setDefaultDatabase(database);
  conn->execute("SET QUOTED_IDENTIFIER OFF");
  conn->execute("SET DATEFORMAT DMY");
  return conn;
}

// The state vouches for the portal's tables only while the portal carries
// the start stamp of the cycle that left it (read before this cycle writes
// its own): a portal restored from a backup carries an older one, and an
// older copy of the state store remembers an older one.
void checkPortalMark(Connection& remote, ChangeState& changes, Journal& journal) {
  if (changes.knowsNoTable()) return;
  const std::string portal =
      queryFirstText(remote, "select ifnull(max(flastupdstarttime), '') from control");
  const std::string known = changes.portalMark();
  if (portal == known) return;
  journal.warning(fmt::format(
      "change detection: the portal's control row carries the start stamp \"{}\" but the last "
      "cycle wrote \"{}\" (the portal was restored from a backup, or the state store is an "
      "older copy); every table is merged in full",
      portal, known));
  changes.forgetTables();
}

}  // namespace

Agent::Agent(std::filesystem::path home, PlatformConfig config, MessageSink& messages,
             Journal& journal, const Clock& clock)
    : home_(std::move(home)),
      config_(std::move(config)),
      messages_(messages),
      journal_(journal),
      clock_(clock),
      state_(std::make_unique<State>(config_.drivers)) {
  state_->portalLock.sessionFile = home_ / kPortalSessionFileName;
}

Agent::Agent(std::filesystem::path home, MessageSink& messages, Journal& journal,
             const Clock& clock)
    : Agent(home, loadPlatformConfig(home), messages, journal, clock) {}

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
        fmt::format("Path/File access error: {} ({})", pathText(csv),
                    e.code() == std::errc::not_a_directory ? "a file of that name is in the way"
                                                           : e.code().message()));
    journal_.error(error.text());
    throw ProgramEnd(error.text());
  }
}

void Agent::activate() {
  localPending_ = true;
  runCycle();
}

void Agent::replaceLocal(std::unique_ptr<DriverConnection> conn) {
  MutexLock lock(connections_);
  state_->local = std::move(conn);
}

std::string Agent::nextTryText() const {
  if (schedule_ == nullptr) return "the next cycle tries again";
  return "the next cycle, at " + isoDateTime(schedule_->nextRunTime()) + ", tries again";
}

bool Agent::connectLocal() {
  state_->connectLocalAgain = nullptr;
  state_->embeddedDatabase.clear();
  state_->localIsSqlServer = false;
  localPending_ = true;
  const std::filesystem::path iniPath = home_ / kSettingsFileName;
  std::optional<LocalSettings> settings = readLocalSettings(iniPath);
  if (!settings) {
    journal_.error("settings file missing: " + pathText(iniPath));
    throw ProgramEnd("DB Path Not Identified");
  }
  if (settings->readAsUtf8) {
    journal_.warning("settings file " + iniPath.string() +
                     " starts with a UTF-8 byte-order mark; read as UTF-8");
  }
  if (settings->dbType.empty()) {
    journal_.error("settings file " + pathText(iniPath) + ": DBASEPATH is empty");
    throw ProgramEnd("Database type not specified!!");
  }
  std::string password;
  try {
    password = unscramblePassword(settings->password);
  } catch (const AgentError& e) {
    journal_.error("settings file " + pathText(iniPath) + ": PASSWORD: " + e.text());
    throw ProgramEnd(e.text());
  }
  try {
    if (settings->dbType == "ORACLE") {
      auto conn = std::make_unique<DriverConnection>(config_.drivers);
      conn->open(oracleConnectionString(settings->serverName), "qbt", "qbt");
      replaceLocal(std::move(conn));
      journal_.info("local connection: Oracle " + settings->serverName);
      localPending_ = false;
      return true;
    }
    if (settings->dbType != "SQLSRVR") {
      // Neither type: no connection; the cycle fails at its first local
      // statement and says so there.
      journal_.warning("settings file: database type \"" + settings->dbType +
                       "\" is neither ORACLE nor SQLSRVR; no local connection");
      localPending_ = false;
      return true;
    }
    // The old connection closes before the new one opens; until the new
    // one is ready the program holds an unopened connection.
    replaceLocal(std::make_unique<DriverConnection>(config_.drivers));
    std::string connectionString = sqlServerConnectionString(settings->serverName, password);
    std::string dbName = localDatabaseName(settings->dbName, home_);
    state_->localDbName = dbName;
    std::unique_ptr<DriverConnection> conn =
        openSqlServer(config_.drivers, connectionString, dbName);
    {
      auto rs = conn->query("select * from control", Cursor::Static);
      if (!rs->eof() && !rs->bof()) {
        const Value& code = rs->field("funivcode");
        univCode_ = code.isNull() ? "" : code.isText() ? code.textValue() : code.exactNumber();
      }
    }
    if (conn->kind() == DriverTarget::Kind::Embedded) {
      state_->embeddedDatabase = embeddedDatabaseFile(conn->embeddedServer(), dbName);
    } else {
      state_->localIsSqlServer = true;
    }
    replaceLocal(std::move(conn));
    state_->connectLocalAgain = [&drivers = config_.drivers, connectionString, dbName] {
      return openSqlServer(drivers, connectionString, dbName);
    };
    journal_.info(fmt::format("local connection: {} database {}, institution \"{}\"",
                              settings->serverName, dbName, univCode_));
    localPending_ = false;
    return true;
  } catch (const AgentError& e) {
    // A server not up yet at boot, a database busy or being restored, a
    // login refused: none of it is mended by ending the program.
    journal_.error(fmt::format("local connection failed: {}; {}", e.text(), nextTryText()));
    return false;
  }
}

bool Agent::runCycle() {
  return runCycle(cycleStages());
}

bool Agent::runCycle(StageList stages) {
  if (stop_.raised()) return false;
  // Marks the cycle's span in the progress record on every way out.
  struct Running {
    explicit Running(CycleProgress& p) : progress(p) { progress.cycleStarted(); }
    ~Running() { progress.cycleEnded(); }
    CycleProgress& progress;
  } running(progress_);
  if (localPending_) {
    CycleSummary summary(journal_);
    if (!connectLocal()) {
      // Nothing reaches either database: the cycle ends before its start
      // stamp, and its summary says so.
      journal_.info(summary.line(false));
      return false;
    }
  }
  journal_.info(fmt::format("cycle start, institution \"{}\"", univCode_));
  connectRemote();
  std::unique_ptr<CycleLocks> locks = lockCycle();
  if (!locks->refusal().empty()) {
    CycleSummary summary(journal_);
    journal_.warning(fmt::format("cycle not run: {}; {}", locks->refusal(), nextTryText()));
    journal_.info(summary.line(false));
    return false;
  }
  StatementWatch watch;
  watch.stop = &stop_;
  watch.localDatabase = state_->localDbName;
  watch.remoteDatabase = state_->remoteDbName;
  watch.remoteNode = state_->remoteNode;
  RecoveringConnection local(*state_->local, *state_->local, journal_, &watch, "local");
  // Every statement that writes portal rows has the server's warnings read
  // after it (a failure there is the statement's, for the watch).
  ServerWarnings serverWarnings;
  WarningCheckedConnection checked(*state_->remote, journal_, serverWarnings);
  RecoveringConnection remote(checked, *state_->local, journal_, &watch, "remote");
  CycleContext ctx{local, remote, home_, config_, univCode_, messages_, journal_, clock_};
  ctx.serverWarnings = &serverWarnings;
  ctx.progress = &progress_;
  ctx.hooks.connectLocalAgain = state_->connectLocalAgain;
  ctx.watch = &watch;
  if (config_.changesOnly && !state_->changes) {
    state_->changes = std::make_unique<ChangeStateKeeper>(home_ / ChangeState::kFileName, journal_);
  }
  // Without its state every table is merged in full, which is always right.
  if (ChangeState* store = state_->changes ? state_->changes->forCycle() : nullptr) {
    try {
      // The state belongs to one remote database: server, port and database
      // as the server itself names them, or on a cluster the cluster's, so
      // that a cycle on another node keeps it.
      store->bindRemote(portalIdentity(remote));
      checkPortalMark(remote, *store, journal_);
      ctx.changes = {.state = store, .mergesInFull = store->knowsNoTable()};
      ctx.hooks.lastStartStamp = store->portalMark();
      ctx.hooks.startStamped = [store, &journal = journal_](const std::string& stamp) {
        try {
          store->recordPortalMark(stamp);
        } catch (const AgentError& e) {
          // The next cycle then finds another stamp and merges in full.
          journal.warning("change detection: " + e.description());
        }
      };
    } catch (const AgentError& e) {
      // No remote connection: the cycle fails at its first statement anyway.
      journal_.warning("change detection off for this cycle: " + e.description());
    }
  }
  return runUploadCycle(ctx, stages, &watch);
}

std::unique_ptr<CycleLocks> Agent::lockCycle() {
  CycleLockPlace place;
  place.embeddedDatabase = state_->embeddedDatabase;
  if (state_->localIsSqlServer) place.sqlServer = state_->local.get();
  if (state_->remote && state_->remote->isOpen()) place.portal = state_->remote.get();
  place.localName = state_->localDbName;
  place.portalName = state_->remoteDbName;
  // A user lock's wait is one long read for the remote session: kept below
  // the read time-out, so that it is never taken for a silent link.
  const int seconds = std::min(config_.cycleLockWait, std::max(1, config_.remote.readTimeout - 1));
  return std::make_unique<CycleLocks>(place, thisAgentIdentity(home_),
                                      std::chrono::seconds(seconds), journal_, state_->portalLock,
                                      &stop_);
}

void Agent::requestStop() {
  stop_.raise();
  MutexLock lock(connections_);
  if (state_->remote) state_->remote->cancel();
  if (state_->local) state_->local->cancel();
}

void Agent::limitLockWaits(DriverConnection& remote) {
  // A statement waiting for a lock another session holds (a cut link's
  // orphaned session keeps its locks until the server notices it) ends with
  // the server's lock error, before the read time-out could end it as a
  // silent link.
  const int seconds = config_.lockWaitSeconds();
  try {
    remote.execute(fmt::format(
        "SET SESSION lock_wait_timeout = {0}, innodb_lock_wait_timeout = {0}", seconds));
  } catch (const AgentError& e) {
    journal_.warning("remote lock wait time-out not set (the server's own applies): " + e.text());
  }
}

void Agent::connectRemote() {
  std::vector<std::string> warnings;
  RemoteAccounts accounts = RemoteAccounts::load(home_ / kRemoteAccountsFileName, &warnings);
  for (const std::string& w : warnings) journal_.warning(w);
  RemoteAccount account;
  std::optional<RemoteAccount> found = accounts.find(univCode_);
  if (found && !found->server.empty()) {
    account = *found;
    state_->remoteDbName = found->database;
  } else {
    // The connection below then fails on an empty server name; say first
    // what is really missing.
    journal_.error(fmt::format(
        "no remote account for institution \"{}\" in {} (no section [{}], or no server in it)",
        univCode_, (home_ / kRemoteAccountsFileName).string(), univCode_));
    if (found) account = *found;
  }
  account.code = univCode_;
  // The previous cycle's connection is let go before the new one opens.
  {
    MutexLock lock(connections_);
    state_->remote = std::make_unique<DriverConnection>(config_.drivers);
    state_->remoteNode.clear();
  }
  try {
    OpenedPortal opened = openFirstReadyPortal(config_, account, home_);
    for (const std::string& p : opened.passedOver)
      journal_.warning("portal host passed over: " + p);
    for (const std::string& w : opened.planned.warnings) journal_.warning(w);
    std::unique_ptr<DriverConnection> fresh = std::move(opened.connection);
    journal_.info(fmt::format("remote connection: {} database {}, tls {}", opened.host.name(),
                              state_->remoteDbName, tlsModeName(opened.planned.link.tls)));
    limitLockWaits(*fresh);
    MutexLock lock(connections_);
    state_->remote = std::move(fresh);
    state_->remoteNode = opened.host.name();
  } catch (const AgentError& e) {
    journal_.error(
        fmt::format("remote connection to {} database {} failed (connect time-out {} s): {}",
                    account.server, state_->remoteDbName, config_.remote.connectTimeout, e.text()));
    messages_.show(e.description(), MessageIcon::Exclamation);
  }
}

}  // namespace agent
