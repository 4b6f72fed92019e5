// The window SERVICEFILE drawn with Qt: the pause box, the status line, the
// 500 ms timer, the tray icon and its pop-up menu. A thin view: every event
// goes to the WindowModel, which decides what happens and answers through
// the WindowView calls below.
#ifndef AGENT_APP_QT_SERVICE_WINDOW_H_
#define AGENT_APP_QT_SERVICE_WINDOW_H_

#include <QRect>
#include <QWidget>

#include "app/core/agent_calls.h"
#include "app/core/cycle_messages.h"
#include "app/core/window_model.h"
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

class ServiceWindow : public QWidget, private WindowView {
  Q_OBJECT

 public:
  using Options = WindowModel::Options;

  // Every reference must outlive the window. messages shows the window's
  // own message boxes. The schedule starts with load(), not here. The
  // window's destruction waits for a cycle still running (asked to stop).
  ServiceWindow(AgentCalls& agent, MessageSink& messages, Journal& journal, const Clock& clock,
                const RegionalSettings& regional, Options options);
  ~ServiceWindow() override;

  // Boxes the agent's cycles ask for open on this window's thread (see
  // WindowModel::routeCycleMessages). Call before load().
  void routeCycleMessages(CycleMessages& messages) { model_.routeCycleMessages(messages); }
  // Start-up (see WindowModel::load).
  void load() { model_.load(); }
  // The tray icon's notification code, as the shell would deliver it.
  void dispatchTrayCode(int code) { model_.trayCode(code); }
  // Timer1's handler.
  void tick() { model_.tick(); }

  const WindowModel& model() const { return model_; }
  bool hasEnded() const { return model_.hasEnded(); }
  int exitStatus() const { return model_.exitStatus(); }

  QCheckBox* pauseBox() const { return pauseBox_; }
  QLabel* statusLabel() const { return statusLabel_; }
  QTimer* cycleTimer() const { return cycleTimer_; }
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
  // WindowView
  void startTickTimer(int intervalMs) override;
  void stopTickTimer() override;
  void showWindow() override;
  void hideWindow() override;
  void minimiseWindow() override;
  bool isMinimised() const override;
  void bringToForeground() override;
  void closeWindow() override;
  void setStatusText(const std::string& text) override;
  void setPauseTicked(bool ticked) override;
  void addTrayIcon(const std::string& tip) override;
  void removeTrayIcon() override;
  void popupMenu() override;
  void closeMenu() override;
  void messageBox(const std::string& text, MessageIcon icon) override;
  void processPendingEvents() override;
  void postToUi(std::function<void()> task) override;
  void runOnUiAndWait(std::function<void()> task) override;
  void onProgramEnd(int status) override;

  void buildControls();
  // Journals the tray icon's place on the screen whenever it changes,
  // polling triesLeft more times.
  void logTrayGeometryWhenKnown(int triesLeft);

  MessageSink& messages_;
  Journal& journal_;
  const bool trayAvailable_;
  WindowModel model_;
  QRect loggedTrayGeometry_;

  QCheckBox* pauseBox_ = nullptr;
  QLabel* statusLabel_ = nullptr;
  QTimer* cycleTimer_ = nullptr;
  QMenu* mPopupSys_ = nullptr;
  QAction* mPause_ = nullptr;
  QAction* mPopRestore_ = nullptr;
  QAction* mPopExit_ = nullptr;
  QSystemTrayIcon* trayIcon_ = nullptr;
};

}  // namespace agent

#endif  // AGENT_APP_QT_SERVICE_WINDOW_H_
