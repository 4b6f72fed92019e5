// The tray agent's entry on Windows: the journal, the agent, the window
// and its message loop, and the ends of the program.
#include "app/core/tray_agent.h"

#include <windows.h>

#include <memory>

#include "app/core/agent_state.h"
#include "app/core/schedule.h"
#include "app/win32/message_box_sink.h"
#include "app/win32/service_window.h"
#include "app/win32/windows_service.h"

namespace agent {

namespace {

// The program is a console program, so that --once, --check and --status
// print and a caller sees their exit status. Started from a shortcut it
// gets a console of its own, which the tray program has no use for: that
// one is hidden. A console shared with a command prompt stays.
void hideOwnConsole() {
  DWORD processes[2];
  if (GetConsoleProcessList(processes, 2) != 1) return;
  HWND console = GetConsoleWindow();
  if (console != nullptr) ShowWindow(console, SW_HIDE);
}

}  // namespace

bool displayUsable() {
  // A service's window station has no visible desktop: no one would see
  // the window or answer its message boxes.
  USEROBJECTFLAGS flags{};
  HWINSTA station = GetProcessWindowStation();
  if (station == nullptr ||
      !GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof(flags), nullptr)) {
    return true;  // unknown: a desktop is the rule
  }
  return (flags.dwFlags & WSF_VISIBLE) != 0;
}

int runTrayAgent(int, char**, const std::filesystem::path& home, const PlatformConfig* config,
                 const std::string& configError) {
  hideOwnConsole();
  MessageBoxSink boxes;
  // The cycles run on a worker thread; their boxes open on this one.
  TrayAgentParts parts(boxes, home, config, configError);
  if (parts.calls() == nullptr) return 1;
  Journal& journal = parts.journal();

  Win32ServiceWindow::Options options;
  // Every Windows desktop has a notification area; when Explorer restarts
  // the window adds its icon again.
  options.trayAvailable = true;
  options.cycleIntervalSeconds = scheduleIntervalSeconds(journal);
  Win32ServiceWindow window(*parts.calls(), boxes, journal, parts.clock(),
                            parts.agent().config().regional, options);
  window.routeCycleMessages(parts.messages());
  window.load();
  if (window.hasEnded()) return window.exitStatus();
  // A cycle that cannot reach the local database names the next one's time.
  parts.agent().followSchedule(window.model().schedule());

  // For --status: this process and the schedule's next cycle, rewritten
  // when the schedule moves on (the file is removed when the program ends).
  AgentStateFile state(home);
  window.everySecond([&] {
    if (const Schedule* schedule = window.model().schedule()) state.follow(*schedule, journal);
  });
  return window.runMessageLoop();
}

void showHeldFolder(int, char**, const std::string& text) {
  hideOwnConsole();
  // What the service control manager tells any user, where the folder
  // itself is closed to this one.
  std::string service = serviceStateText(kDefaultServiceName);
  // The service's next and last cycle, from the status it keeps for users.
  if (!service.empty()) service += "\n" + publicStatusText(kDefaultServiceName);
  MessageBoxSink().show(service.empty() ? text : service + "\n" + text, MessageIcon::None);
}

}  // namespace agent
