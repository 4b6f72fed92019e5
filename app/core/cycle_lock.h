// One agent per local database and per portal account for the length of a
// cycle, whichever program folder it runs from. Two installs on one local
// database share the fee chain's fixed views (FEEPG, RECPG, BALPG); two on
// one portal account share the remote staging tables (tmp*). Each cycle
// therefore holds, before its first statement and until it ends:
//
//  - the local lock: on the embedded engine a side file lock beside the
//    database file (<database>.sqlite.agent-lock, naming its holder); on
//    SQL Server an application lock owned by the cycle's local session
//    (sp_getapplock, released by sp_releaseapplock or the session's end);
//  - the portal lock: GET_LOCK on the cycle's remote session, named from
//    the portal database, which the server releases when the session ends.
//    A server that refuses user locks (a Galera cluster) is noted once;
//    the local lock then stands alone.
//
// Another holder that keeps a lock for the whole wait ends the cycle with
// one journal line naming it; the next cycle tries again.
#ifndef AGENT_APP_CORE_CYCLE_LOCK_H_
#define AGENT_APP_CORE_CYCLE_LOCK_H_

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

#include "base/signal.h"
#include "config/side_file_lock.h"
#include "cycle/journal.h"
#include "db/connection.h"

namespace agent {

// In the program folder: the session that last held the portal lock.
inline constexpr const char* kPortalSessionFileName = "portal-lock.session";

// What the agent keeps of the portal lock from one cycle to the next.
struct PortalLockMemory {
  // The server refused a user lock and the journal said so.
  bool refusalNoted = false;
  // The connection id of the session that last held the lock. A session
  // the agent let go of while the server still ran its statement (a read
  // time-out, a cut link, a power cut) keeps the lock until the server
  // notices, hours for an idle half-open link; the next cycle ends it.
  std::string lastSession;
  // Where lastSession is kept for the next process (after a power cut):
  // "<portal database> <connection id>"; empty: not kept.
  std::filesystem::path sessionFile;
};

// Where the cycle's locks are taken.
struct CycleLockPlace {
  // The embedded engine's database file; empty on SQL Server.
  std::filesystem::path embeddedDatabase;
  // The cycle's local session on SQL Server (nullptr on the embedded engine).
  Connection* sqlServer = nullptr;
  // The cycle's remote session; nullptr when it is not open.
  Connection* portal = nullptr;
  std::string localName;   // the local database, for the journal
  std::string portalName;  // the portal database, for the journal
};

class CycleLocks {
 public:
  // Takes the local lock, then the portal lock, each waiting at most wait.
  // identity names this agent to others (thisAgentIdentity); memory lasts
  // from cycle to cycle.
  CycleLocks(const CycleLockPlace& place, const std::string& identity, std::chrono::seconds wait,
             Journal& journal, PortalLockMemory& memory, const Signal* stop = nullptr);
  // Releases whatever is held; never throws.
  ~CycleLocks();
  CycleLocks(const CycleLocks&) = delete;
  CycleLocks& operator=(const CycleLocks&) = delete;

  // Empty when the cycle may run; otherwise why not (which database,
  // which holder), for the line that ends it.
  const std::string& refusal() const { return refusal_; }

 private:
  void lockLocal(const std::string& identity, std::chrono::seconds wait, const Signal* stop);
  void lockPortal(std::chrono::seconds wait, PortalLockMemory& memory);
  // GET_LOCK's answer: "1" taken, "0" timed out, "" refused.
  std::string getPortalLock(std::chrono::seconds wait, PortalLockMemory& memory);

  CycleLockPlace place_;
  Journal& journal_;
  std::unique_ptr<SideFileLock> sideFile_;
  bool sqlServerHeld_ = false;
  bool portalHeld_ = false;
  std::string refusal_;
};

}  // namespace agent

#endif  // AGENT_APP_CORE_CYCLE_LOCK_H_
