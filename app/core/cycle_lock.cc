#include "app/core/cycle_lock.h"

#include <fmt/format.h>

#include <algorithm>
#include <fstream>

#include "base/errors.h"
#include "payments/sql_literal.h"

namespace agent {

namespace {

constexpr const char* kSideFileSuffix = ".agent-lock";
// The application lock's resource on SQL Server (at most 255 characters);
// an application lock belongs to the database it is taken in.
constexpr const char* kAppLockResource = "N'upload-agent cycle'";
// The portal's user lock is server-wide: its name carries the database (at
// most 64 characters in all).
constexpr const char* kPortalLockName = "left(concat('upload-agent:', database()), 64)";

// Who holds the application lock, as far as the login may see the server's
// sessions (VIEW SERVER STATE); "another session" otherwise.
std::string sqlServerHolder(Connection& local) {
  try {
    std::unique_ptr<Recordset> rs = local.query(
        "SELECT TOP 1 s.host_name, s.program_name, s.host_process_id FROM sys.dm_tran_locks l "
        "JOIN sys.dm_exec_sessions s ON s.session_id = l.request_session_id WHERE "
        "l.resource_type = 'APPLICATION' AND l.request_status = 'GRANT' AND "
        "l.resource_database_id = DB_ID() AND l.resource_description LIKE '%upload-agent cycle%'",
        Cursor::Forward);
    if (!rs->eof()) {
      return fmt::format("host {}, program {}, process {}", valueText(rs->field(0)),
                         valueText(rs->field(1)), valueText(rs->field(2)));
    }
  } catch (const AgentError&) {
    // The login may not read the session list: the line names no holder.
  }
  return "another session";
}

// The session id sessionFile keeps for portal; empty when it keeps none.
std::string keptSession(const std::filesystem::path& sessionFile, const std::string& portal) {
  std::ifstream in(sessionFile);
  std::string name, id;
  if (!(in >> name >> id) || name != portal) return "";
  return id.find_first_not_of("0123456789") == std::string::npos ? id : "";
}

void keepSession(const std::filesystem::path& sessionFile, const std::string& portal,
                 const std::string& id) {
  // Best effort: without the file a restarted agent waits for the server
  // to end its old session instead.
  std::ofstream(sessionFile, std::ios::trunc) << portal << ' ' << id << '\n';
}

}  // namespace

CycleLocks::CycleLocks(const CycleLockPlace& place, const std::string& identity,
                       std::chrono::seconds wait, Journal& journal, PortalLockMemory& memory,
                       const Signal* stop)
    : place_(place), journal_(journal) {
  lockLocal(identity, wait, stop);
  if (!refusal_.empty() || place_.portal == nullptr) return;
  try {
    lockPortal(wait, memory);
  } catch (const AgentError& e) {
    // The link is gone: the cycle's first statement would fail the same way.
    refusal_ = fmt::format("the lock on the portal database {} cannot be taken: {}",
                           place_.portalName, e.text());
  }
}

CycleLocks::~CycleLocks() {
  // The portal's lock first: it was taken last.
  if (portalHeld_) {
    try {
      queryFirstText(*place_.portal, std::string("select release_lock(") + kPortalLockName + ")");
    } catch (const AgentError&) {
      // The session's end releases it.
    }
  }
  if (sqlServerHeld_) {
    try {
      place_.sqlServer->execute(std::string("EXEC sp_releaseapplock @Resource = ") +
                                kAppLockResource + ", @LockOwner = N'Session'");
    } catch (const AgentError&) {
      // The session's end releases it.
    }
  }
}

void CycleLocks::lockLocal(const std::string& identity, std::chrono::seconds wait,
                           const Signal* stop) {
  if (!place_.embeddedDatabase.empty()) {
    std::filesystem::path file = place_.embeddedDatabase;
    file += kSideFileSuffix;
    sideFile_ = std::make_unique<SideFileLock>(file, identity, wait, stop);
    if (sideFile_->outcome() == SideFileLock::Outcome::HeldByOther) {
      refusal_ = fmt::format(
          "the local database {} is in use by another upload agent ({}) for longer than {} s",
          place_.localName, sideFile_->detail().empty() ? "no name given" : sideFile_->detail(),
          wait.count());
    } else if (sideFile_->outcome() == SideFileLock::Outcome::Failed) {
      refusal_ = fmt::format("the lock file {} beside the local database cannot be locked: {}",
                             file.string(), sideFile_->detail());
    } else if (sideFile_->waited() >= std::chrono::seconds(1)) {
      journal_.info(
          fmt::format("waited {} s for another upload agent's cycle on the local "
                      "database {} to end",
                      sideFile_->waited().count() / 1000, place_.localName));
    }
    return;
  }
  if (place_.sqlServer == nullptr) return;
  // sp_getapplock answers a time-out with its return value, not an
  // error: whether the session holds the lock is asked afterwards.
  std::string mode;
  try {
    place_.sqlServer->execute(fmt::format(
        "EXEC sp_getapplock @Resource = {}, @LockMode = N'Exclusive', @LockOwner = N'Session', "
        "@LockTimeout = {}",
        kAppLockResource, wait.count() * 1000));
    mode = queryFirstText(
        *place_.sqlServer,
        fmt::format("SELECT APPLOCK_MODE(N'public', {}, N'Session')", kAppLockResource));
  } catch (const AgentError& e) {
    // The cycle's first statement would fail the same way.
    refusal_ = fmt::format("the lock on the local database {} cannot be taken: {}",
                           place_.localName, e.text());
    return;
  }
  if (mode == "Exclusive") {
    sqlServerHeld_ = true;
    return;
  }
  refusal_ = fmt::format(
      "the local database {} is in use by another upload agent ({}) for longer than {} s",
      place_.localName, sqlServerHolder(*place_.sqlServer), wait.count());
}

std::string CycleLocks::getPortalLock(std::chrono::seconds wait, PortalLockMemory& memory) {
  try {
    const std::string got = queryFirstText(
        *place_.portal, fmt::format("select get_lock({}, {})", kPortalLockName, wait.count()));
    if (got == "1" || got == "0") return got;
    throw AgentError(error_number::kGenericFailure, "get_lock answered \"" + got + "\"");
  } catch (const AgentError& e) {
    // A Galera cluster refuses user locks; the local lock still keeps two
    // installs on one local database apart.
    if (!memory.refusalNoted) {
      journal_.warning(fmt::format(
          "the portal server refuses a user lock ({}): two installs on other local databases "
          "but this portal account are not kept apart",
          e.description()));
      memory.refusalNoted = true;
    }
    return "";
  }
}

void CycleLocks::lockPortal(std::chrono::seconds wait, PortalLockMemory& memory) {
  Connection& portal = *place_.portal;
  if (memory.lastSession.empty() && !memory.sessionFile.empty()) {
    memory.lastSession = keptSession(memory.sessionFile, place_.portalName);
  }
  if (!memory.lastSession.empty() &&
      queryFirstText(portal, std::string("select is_used_lock(") + kPortalLockName + ")") ==
          memory.lastSession) {
    // This agent's own earlier session, let go of while the server still
    // ran its statement, holds the lock until the server notices (hours,
    // for a cut link): it is ended, which its account may always do.
    journal_.info("the portal lock is held by this agent's earlier session " + memory.lastSession +
                  ", left behind by its last cycle; ended");
    portal.execute("kill " + memory.lastSession);
  }
  const std::string got = getPortalLock(wait, memory);
  if (got == "1") {
    portalHeld_ = true;
    memory.lastSession = queryFirstText(portal, "select connection_id()");
    if (!memory.sessionFile.empty()) {
      keepSession(memory.sessionFile, place_.portalName, memory.lastSession);
    }
    return;
  }
  if (got.empty()) return;
  std::string holder;
  try {
    holder =
        queryFirstText(portal, std::string("select ifnull((select concat('session ', id, ' of ', "
                                           "user, ' from ', host) from "
                                           "information_schema.processlist where id = "
                                           "is_used_lock(") +
                                   kPortalLockName + ")), '')");
  } catch (const AgentError&) {
    // The line then names no holder.
  }
  refusal_ = fmt::format(
      "the portal database {} is in use by another upload agent ({}) for longer than {} s",
      place_.portalName, holder.empty() ? "another session" : holder, wait.count());
}

}  // namespace agent
