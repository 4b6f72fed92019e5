// The agent on a desktop: the window SERVICEFILE with its tray icon, menu
// and timer, around the agent of one program folder. Declared here; the
// entry is defined by the front-end the program links: app/qt (Linux) or
// app/win32 (Windows).
// AGENT_HAVE_GUI says that one is linked.
#ifndef AGENT_APP_CORE_TRAY_AGENT_H_
#define AGENT_APP_CORE_TRAY_AGENT_H_

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "app/core/agent.h"
#include "app/core/agent_calls.h"
#include "app/core/cycle_messages.h"
#include "config/platform_config.h"
#include "cycle/clock.h"
#include "cycle/journal.h"
#include "cycle/message_sink.h"

namespace agent {

// Whether a window can be opened here, asked before the front-end starts.
// Qt (a QApplication without a display aborts the program): true when
// QT_QPA_PLATFORM names a platform (the caller chose one); on X11, when the
// X server that DISPLAY names accepts a connection. Win32: true when the
// process runs on an interactive desktop (not as a service). A false answer
// means: run without a window.
bool displayUsable();

// Runs the tray agent until "&Exit", a closed window or an end with a
// message; returns the program's exit status (0 after "&Exit" or a closed
// window, 1 after an end with a message). home: the program folder (the
// settings file, the CSV folder); config: its platform.ini as the entry
// read it, or null when it is unusable, configError then saying why (the
// program shows that and ends with status 1). argc and
// argv go to QApplication (Qt only) and must stay valid until it returns. Call only
// when displayUsable() is true. Writes the journal to
// <log folder>/agent.log, including (Qt) the tray icon's place on the
// screen once the notification area has taken it ("tray icon at X,Y size
// WxH") or (Win32) "tray icon added" once the shell has taken it, and why the window minimises
// without hiding where the desktop has no notification area. For demonstrations only, a positive
// number of seconds in UPLOAD_AGENT_INTERVAL_SECONDS replaces the 50-minute interval (the journal
// says so).
int runTrayAgent(int argc, char** argv, const std::filesystem::path& home,
                 const PlatformConfig* config, const std::string& configError);

// For a tray program started on a folder another agent holds (the Windows
// service, or another user's tray program): one box with text (why it runs
// no cycles, and the running agent's state), instead of the window.
// Returns when it is answered. Call only when displayUsable() is true.
void showHeldFolder(int argc, char** argv, const std::string& text);

// What either front-end builds around its window (defined in app/core),
// in this order: the cycle's boxes, routed to the front-end's boxes; the
// journal, <log folder>/agent.log with its start line (in memory when the
// settings are unusable); the clock; and, with usable settings, the agent
// and the window's calls to it. With unusable settings the reason is
// journaled and shown in a box, and calls() is null: the program ends.
class TrayAgentParts {
 public:
  // boxes must outlive this object.
  TrayAgentParts(MessageSink& boxes, const std::filesystem::path& home,
                 const PlatformConfig* config, const std::string& configError);
  TrayAgentParts(const TrayAgentParts&) = delete;
  TrayAgentParts& operator=(const TrayAgentParts&) = delete;

  AgentCalls* calls() { return calls_ ? &*calls_ : nullptr; }
  // Only when calls() is not null.
  const Agent& agent() const { return *agent_; }
  Agent& agent() { return *agent_; }
  CycleMessages& messages() { return messages_; }
  Journal& journal() { return *journal_; }
  const Clock& clock() const { return clock_; }

 private:
  CycleMessages messages_;
  std::unique_ptr<Journal> journal_;
  SystemClock clock_;
  std::optional<Agent> agent_;
  std::optional<AgentCallsOf> calls_;
};

}  // namespace agent

#endif  // AGENT_APP_CORE_TRAY_AGENT_H_
