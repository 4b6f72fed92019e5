// The agent's program state and its two entry points for a cycle: what the
// window's activation does (open the local connection, run a cycle) and
// what a timer tick does (run a cycle). Owns the local connection, the
// remote connection of the last cycle, the institution code and the
// platform settings; the window or the headless runner owns the Agent.
#ifndef AGENT_APP_CORE_AGENT_H_
#define AGENT_APP_CORE_AGENT_H_

#include <filesystem>
#include <memory>
#include <string>

#include "app/core/schedule.h"
#include "base/mutex.h"
#include "base/signal.h"
#include "config/platform_config.h"
#include "cycle/clock.h"
#include "cycle/cycle_progress.h"
#include "cycle/journal.h"
#include "cycle/message_sink.h"
#include "cycle/stage.h"
#include "db/drivers/driver_connection.h"

namespace agent {

class CycleLocks;

class Agent {
 public:
  // home: the program folder; config: its platform.ini, read once by the
  // program's entry. messages, journal and clock must outlive it.
  Agent(std::filesystem::path home, PlatformConfig config, MessageSink& messages, Journal& journal,
        const Clock& clock);
  // As above, reading platform.ini itself (throws ProgramEnd when it is
  // unusable).
  Agent(std::filesystem::path home, MessageSink& messages, Journal& journal, const Clock& clock);
  ~Agent();
  Agent(const Agent&) = delete;
  Agent& operator=(const Agent&) = delete;

  // Start-up step: makes <home>/CSV when missing. Throws ProgramEnd with the
  // error's number and description when it cannot.
  void ensureCsvFolder();

  // The activation: one cycle, which opens the local connection from the
  // settings file first. Throws ProgramEnd where the program must end.
  void activate();

  // Reads the settings file and opens the local connection (a new one
  // replaces the old). Throws ProgramEnd for a settings file that cannot
  // serve (missing, no database type, a password that does not unscramble).
  // A local database that cannot be reached (not up yet, busy, refusing the
  // login) is journaled and returns false: every cycle tries again before
  // it starts, and fails while it cannot connect.
  bool connectLocal();

  // Where the journal finds the next cycle's time when it says that the
  // next cycle tries again; nullptr (the default) leaves it out. The
  // schedule must outlive the agent or be replaced first.
  void followSchedule(const Schedule* schedule) { schedule_ = schedule; }

  // One upload cycle over the given stages (the cycle order by default).
  // Handles its own errors; returns true when the cycle stamped its end.
  bool runCycle();
  bool runCycle(StageList stages);

  // Asks the running cycle to end now: the statement running on either
  // connection is cancelled, no further statement is sent (a payment's
  // rollback excepted), and the journal names the stage stopped. Safe from
  // any thread; the cycle's thread returns from runCycle soon after. Later
  // cycles do not start.
  void requestStop();
  bool stopRequested() const { return stop_.raised(); }

  // Where the running cycle is; readable from any thread.
  const CycleProgress& progress() const { return progress_; }

  const std::filesystem::path& home() const { return home_; }
  const PlatformConfig& config() const { return config_; }
  const std::string& univCode() const { return univCode_; }
  Journal& journal() const { return journal_; }

 private:
  // Chooses the remote account and opens a fresh remote connection; a
  // failure is shown and leaves the connection unopened.
  void connectRemote();
  // Takes the cycle's locks on the local database and the portal account
  // (see cycle_lock.h); refusal() says why the cycle may not run.
  std::unique_ptr<CycleLocks> lockCycle();
  // Sets the remote session's lock wait time-outs from [remote].
  void limitLockWaits(DriverConnection& remote);
  void replaceLocal(std::unique_ptr<DriverConnection> conn);
  // "the next cycle (at ...) tries again", for the journal.
  std::string nextTryText() const;

  struct State;
  std::filesystem::path home_;
  PlatformConfig config_;
  MessageSink& messages_;
  Journal& journal_;
  const Clock& clock_;
  std::string univCode_;
  // Whether the local connection must be (re)made before the next cycle:
  // at start, and after a failed attempt.
  bool localPending_ = true;
  const Schedule* schedule_ = nullptr;
  std::unique_ptr<State> state_;
  // The cycle's stop: raised by requestStop(), never lowered; the running
  // cycle's statements and lock waits look at it.
  Signal stop_;
  CycleProgress progress_;
  // Guards the connection objects against replacement while requestStop
  // cancels on them from another thread.
  Mutex connections_;
};

}  // namespace agent

#endif  // AGENT_APP_CORE_AGENT_H_
