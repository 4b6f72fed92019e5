// Running without a desktop: exactly one cycle (--once), or the 50-minute
// schedule without a window (--headless). Messages go to the journal and
// standard error instead of message boxes.
#ifndef AGENT_APP_CORE_HEADLESS_H_
#define AGENT_APP_CORE_HEADLESS_H_

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>

#include "app/core/agent.h"
#include "base/signal.h"
#include "cycle/journal.h"
#include "cycle/message_sink.h"

namespace agent {

// Message boxes of a program nobody watches: a journal line and a line on
// standard error; never a box.
class LoggedMessages : public MessageSink {
 public:
  // toStandardError false: the journal line only (a service has no console,
  // or its journal's lines reach standard error already).
  explicit LoggedMessages(Journal& journal, bool toStandardError = true)
      : journal_(journal), toStandardError_(toStandardError) {}
  void show(const std::string& text, MessageIcon icon) override;

 private:
  Journal& journal_;
  bool toStandardError_;
};

// What a service manager (the Windows service control manager) hands the
// unattended agent in place of the console's stop requests.
struct ServiceControls {
  const Signal& stop;               // raised when STOP, SHUTDOWN or PRESHUTDOWN came
  const std::atomic<bool>& paused;  // between PAUSE and CONTINUE
  Journal::Mirror eventLog;         // a copy of the journal's lines
  // Tells the manager the service has stopped with this exit status, for a
  // process about to end without returning (a stop past its deadline).
  std::function<void(int status)> stoppedNow;
  // Where the service keeps its public status (agent_state.h's public copy)
  // for the users who may not read its program folder.
  std::filesystem::path publicStatus;
};

// Whether a journal line also goes to the system's log (the Windows Event
// Log of a service, systemd's journal): warnings and errors, the agent's
// start and stop, pauses, and each cycle's summary; not every stage.
bool forSystemLog(Journal::Level level, const std::string& line);

// Those lines on standard error with the syslog level prefix systemd reads
// ("<3>" error, "<4>" warning, "<6>" information), for a service whose
// standard error is systemd's journal.
Journal::Mirror systemdJournalMirror();

// Start-up and one activation: the CSV folder, the local connection, one
// cycle. Returns the exit status: 0 only when the cycle stamped its end.
int runOnce(Agent& agent, MessageSink& messages);

// Start-up, the activation's cycle, then a cycle whenever the schedule says
// one is due (every intervalSeconds), until stop is raised: the schedule
// looks at the clock every tickInterval, and a stop ends the wait at once
// (it never starts another cycle). While paused
// is true (a Windows service paused by its manager) the schedule moves on
// but its cycles are skipped, as with the pause box. A service's state file
// also has a public copy at publicStatus, when it names one. Returns the
// exit status.
int runHeadless(Agent& agent, MessageSink& messages, const Clock& clock, const Signal& stop,
                long long intervalSeconds,
                std::chrono::milliseconds tickInterval = std::chrono::milliseconds(500),
                const std::atomic<bool>* paused = nullptr,
                const std::filesystem::path& publicStatus = {});

}  // namespace agent

#endif  // AGENT_APP_CORE_HEADLESS_H_
