// The window SERVICEFILE: the pause box, the status line, the 500 ms timer
// that drives the cycle schedule, the tray icon and its pop-up menu.
//
// Everything runs on the one user-interface thread. A cycle runs inside the
// first activation or inside a timer tick and may open modal message boxes,
// whose nested event loops deliver events while the cycle is still running.
// Those events must not start a second cycle or move the window: while a
// cycle runs, ticks, activations, tray clicks and menu items are lost, except
// "&Exit" (and any other way of closing the window), which ends the program
// as soon as the cycle has returned.
#ifndef AGENT_APP_QT_SERVICE_WINDOW_H_
#define AGENT_APP_QT_SERVICE_WINDOW_H_

#include <QRect>
#include <QWidget>
#include <optional>

#include "app/core/schedule.h"
#include "app/qt/agent_calls.h"
#include "app/qt/notify_icon_data.h"
#include "base/regional.h"
#include "cycle/clock.h"
#include "cycle/journal.h"
#include "cycle/message_sink.h"

class QAction;
class QCheckBox;
class QLabel;
class QMenu;
class QSystemTrayIcon;
class QTimer;

namespace agent {

class ServiceWindow : public QWidget {
  Q_OBJECT

 public:
  struct Options {
    // Whether the desktop has a notification area. Without one a minimised
    // window stays on the task bar instead of hiding, so it can come back.
    bool trayAvailable = true;
    // The schedule's interval; shorter only for demonstrations.
    long long cycleIntervalSeconds = Schedule::kIntervalSeconds;
  };

  // Every reference must outlive the window. The schedule starts with
  // load(), not here.
  ServiceWindow(AgentCalls& agent, MessageSink& messages, Journal& journal, const Clock& clock,
                const RegionalSettings& regional, Options options);
  ~ServiceWindow() override;

  // Start-up, in this order: NextRunTime = now + 50 minutes, the timer
  // starts, the window is shown, the tray icon is added, the CSV folder is
  // made. When the folder cannot be made, shows the message and ends the
  // program (hasEnded() is then true). The first activation of the window
  // afterwards minimises it and runs the agent's activation.
  void load();

  // The one handler for the tray icon's notification codes: 514 and 515
  // restore the window, 517 brings it to the foreground and opens the menu
  // at the pointer, every other code is ignored. Ignored during a cycle.
  void dispatchTrayCode(int code);

  // The timer's handler: when the schedule is due, "Idle" on the status
  // line, then (unless paused) events once, a cycle, and "Idle - " with the
  // date and time. Lost during a cycle.
  void tick();

  // The activation handler: minimise (and hide where a tray exists), then
  // the agent's activation. Runs once, for the window's first activation;
  // restoring from the tray is no activation. Lost during a cycle.
  void activateAgent();

  // True between the start and the end of the activation or a timed cycle.
  bool inCycle() const { return inCycle_; }
  // True once the program has ended; exitStatus() is then 0 for "&Exit" or
  // a closed window and 1 for an end with a message.
  bool hasEnded() const { return exitStatus_.has_value(); }
  int exitStatus() const { return exitStatus_.value_or(0); }

  const NotifyIconData& notifyIconData() const { return notifyIconData_; }
  const Schedule* schedule() const { return schedule_ ? &*schedule_ : nullptr; }
  QCheckBox* chk() const { return chk_; }
  QLabel* lbsb() const { return lbsb_; }
  QTimer* timer1() const { return timer1_; }
  QMenu* mPopupSys() const { return mPopupSys_; }
  QAction* mPause() const { return mPause_; }
  QAction* mPopRestore() const { return mPopRestore_; }
  QAction* mPopExit() const { return mPopExit_; }
  QSystemTrayIcon* trayIcon() const { return trayIcon_; }

 signals:
  // The program ends with this status: the icon is gone and the window is
  // closed. The owner leaves its event loop.
  void programEnded(int status);

 protected:
  bool event(QEvent* e) override;
  void changeEvent(QEvent* e) override;
  void closeEvent(QCloseEvent* e) override;

 private:
  void buildControls();
  void buildTrayIcon();
  void restore();
  void setStatusLine(const std::string& text);
  // Hides a minimised window where a tray icon can bring it back.
  void hideWhenMinimised();
  void showMenuAtPointer();
  void setForeground();
  void pauseClicked();
  void restoreClicked();
  void exitClicked();
  // Runs one call of the agent as a cycle: marks the window busy, ends the
  // program with the message of a ProgramEnd, and ends it after the call
  // when "&Exit" came meanwhile. Returns false when the program has ended.
  template <typename Call>
  bool runAsCycle(const char* what, Call call);
  void endProgram(int status);
  // Journals the tray icon's place on the screen whenever it changes,
  // polling triesLeft more times.
  void logTrayGeometryWhenKnown(int triesLeft);

  AgentCalls& agent_;
  MessageSink& messages_;
  Journal& journal_;
  const Clock& clock_;
  const RegionalSettings& regional_;
  const Options options_;

  std::optional<Schedule> schedule_;  // NextRunTime lives here
  NotifyIconData notifyIconData_;
  bool activationDone_ = false;  // the first activation has come
  bool inCycle_ = false;
  bool exitRequested_ = false;
  std::optional<int> exitStatus_;
  QRect loggedTrayGeometry_;

  QCheckBox* chk_ = nullptr;
  QLabel* lbsb_ = nullptr;
  QTimer* timer1_ = nullptr;
  QMenu* mPopupSys_ = nullptr;
  QAction* mPause_ = nullptr;
  QAction* mPopRestore_ = nullptr;
  QAction* mPopExit_ = nullptr;
  QSystemTrayIcon* trayIcon_ = nullptr;
};

}  // namespace agent

#endif  // AGENT_APP_QT_SERVICE_WINDOW_H_
