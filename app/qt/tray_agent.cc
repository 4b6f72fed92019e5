// The tray agent's entry: the application object, the journal, the agent
// and the window, and the ends of the program.
#include "app/core/tray_agent.h"

#include <QApplication>
#include <QSystemTrayIcon>
#include <QTimer>
#include <exception>

#include "app/core/agent_state.h"
#include "app/qt/qt_message_sink.h"
#include "app/qt/service_window.h"

namespace agent {

int runTrayAgent(int argc, char** argv, const std::filesystem::path& home,
                 const PlatformConfig* config, const std::string& configError) {
  QApplication app(argc, argv);
  // The window hides into the tray, and message boxes close while it is
  // hidden: the program ends only through the window's own end.
  QApplication::setQuitOnLastWindowClosed(false);

  QtMessageSink boxes;
  // The cycles run on a worker thread; their boxes open on this one.
  TrayAgentParts parts(boxes, home, config, configError);
  if (parts.calls() == nullptr) return 1;
  Journal& journal = parts.journal();

  ServiceWindow::Options options;
  options.trayAvailable = QSystemTrayIcon::isSystemTrayAvailable();
  options.cycleIntervalSeconds = scheduleIntervalSeconds(journal);
  ServiceWindow window(*parts.calls(), boxes, journal, parts.clock(),
                       parts.agent().config().regional, options);
  window.routeCycleMessages(parts.messages());
  QObject::connect(&window, &ServiceWindow::programEnded, &app, &QApplication::exit);
  window.load();
  if (window.hasEnded()) return window.exitStatus();
  // A cycle that cannot reach the local database names the next one's time.
  parts.agent().followSchedule(window.model().schedule());

  // For --status: this process and the schedule's next cycle, rewritten
  // when the schedule moves on (checked between events, so never during a
  // cycle; the file is removed when the program ends).
  AgentStateFile state(home);
  QTimer stateTimer;
  QObject::connect(&stateTimer, &QTimer::timeout, [&] {
    if (const Schedule* schedule = window.model().schedule()) state.follow(*schedule, journal);
  });
  stateTimer.start(1000);
  return app.exec();
}

void showHeldFolder(int argc, char** argv, const std::string& text) {
  QApplication app(argc, argv);
  QtMessageSink().show(text, MessageIcon::None);
}

}  // namespace agent
