// What every stage of an upload cycle works with: the two connections, the
// program folder, the platform settings, the institution code, and where
// messages and journal lines go; beside them, in groups, change detection
// (ChangeDetection), what the cycle learnt of the portal as it started
// (PortalTraits), the stage's turn (StageTurn), and the hooks the agent
// gives the cycle driver alone (CycleHooks).
#ifndef AGENT_CYCLE_CYCLE_CONTEXT_H_
#define AGENT_CYCLE_CYCLE_CONTEXT_H_

#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/code_page.h"
#include "base/errors.h"
#include "config/platform_config.h"
#include "cycle/clock.h"
#include "cycle/cluster_session.h"
#include "cycle/cycle_progress.h"
#include "cycle/journal.h"
#include "cycle/message_sink.h"
#include "cycle/statement_watch.h"
#include "db/connection.h"

namespace agent {

class ChangeState;
class EarlyPart;
class LocalAhead;
class ServerWarnings;

// What the cycle hands the stage whose turn it is: its work done ahead, its
// early part, and the calls by which the stage lets the cycle use its
// waits. The cycle sets a whole turn before each stage and empties it after,
// on every path (cycle.cc, from WorkAhead::turnFor).
struct StageTurn {
  // The stage's work done ahead; null when there is none.
  LocalAhead* ahead = nullptr;
  // The stage's local part, done early (cycle/early_part.h); null when there
  // is none.
  EarlyPart* early = nullptr;
  // Called by a stage that is about to wait for its work ahead: the cycle
  // may do a later stage's local part meanwhile. Empty: nothing to do.
  std::function<void()> whileWaiting = {};
  // Called by a stage whose local part is done, before it sends its remote
  // statements: the cycle may start held work ahead while its thread waits
  // for the server. Empty: nothing to do.
  std::function<void()> waitingForServer = {};
};

// What the cycle learns of the portal as it starts, before its first stage.
// The cycle driver (cycle.cc) sets it; a stage reads it.
struct PortalTraits {
  // The code page this cycle writes its export files in (from platform.ini
  // or the portal's server, cycle/export_encoding.h).
  CodePage exportCodePage = CodePage::Windows1252;
  // Whether the remote connection's SQL mode has backslash escapes on: the
  // one place every statement that quotes text (load paths, deletes by key)
  // asks. The server is its source: read when the cycle starts (a portal's
  // server may run with NO_BACKSLASH_ESCAPES) and again by a stage that
  // sets the session's mode (the students stage, for the rest of the
  // cycle).
  bool backslashEscapes = true;
  // What the cycle learnt of a portal that is a cluster node (its session
  // replicates large write sets in fragments); node is false off a cluster.
  ClusterSession cluster = {};
};

// Change detection in this cycle.
struct ChangeDetection {
  // Its state; null when every table is merged in full.
  ChangeState* state = nullptr;
  // Whether the cycle merges its tables in full (change detection off, or a
  // state that knows no table yet): the portal's server is then what the
  // cycle waits for.
  bool mergesInFull = true;
};

// What the agent gives the cycle driver (cycle.cc) for the cycle itself, apart
// from what its stages work with; no stage reads it.
struct CycleHooks {
  // The start stamp of the cycle before (the one the portal should carry);
  // this cycle's differs from it. Empty: none known.
  std::string lastStartStamp = {};
  // Called with the start stamp once the portal holds it; empty: nothing
  // to do.
  std::function<void(const std::string&)> startStamped = {};
  // Opens a second connection to the local database, for work a stage can
  // have done ahead; empty when none can be made.
  std::function<std::unique_ptr<Connection>()> connectLocalAgain = {};
};

struct CycleContext {
  // Both connections recover from leftover local objects: an error naming
  // one drops it on the local connection and runs the statement once more.
  Connection& local;
  Connection& remote;
  std::filesystem::path programFolder;
  const PlatformConfig& config;
  std::string univCode;
  MessageSink& messages;
  Journal& journal;
  const Clock& clock;
  ChangeDetection changes = {};
  PortalTraits portal = {};
  // Where the cycle is, for a window to show; null when nobody watches.
  CycleProgress* progress = nullptr;
  // Work a stage leaves for after the last stage, before the end stamp (in
  // the order added). Only what can be skipped without harm belongs here:
  // a cycle that ends early never runs it.
  std::vector<std::function<void()>> afterLastStage = {};
  // What the cycle hands the stage whose turn it is; empty outside a stage.
  StageTurn turn = {};
  // The values the portal's server changed in this cycle (reported by the
  // remote connection's warning check); null when nothing checks.
  ServerWarnings* serverWarnings = nullptr;
  // What the connections note of a failed statement, for the journal line;
  // null when nothing notes. A stage clears it when a statement failed only
  // because of another error, which is then the one reported.
  StatementWatch* watch = nullptr;
  CycleHooks hooks = {};

  // The folder of the export files.
  std::filesystem::path csvFolder() const { return programFolder / "CSV"; }
  // One more row read by the running stage.
  void rowDone() const {
    if (progress != nullptr) progress->rowDone();
  }
};

// One stage of the cycle: its journal name and the procedure that runs it.
// run returns the number of rows it exported or booked, for the journal.
using StageProcedure = std::size_t (*)(CycleContext&);

}  // namespace agent

#endif  // AGENT_CYCLE_CYCLE_CONTEXT_H_
