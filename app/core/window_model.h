// The window SERVICEFILE without a toolkit: the start-up order, the 500 ms
// timer's ticks against the cycle schedule, the pause box, the busy guard,
// the tray icon's codes, the pop-up menu's items, closing and the status
// line. A front-end (Qt on Linux, Win32 on Windows) draws the window and
// forwards its events here; the model answers through the WindowView it
// was given.
//
// A cycle runs inside the first activation or inside a timer tick and may
// open modal message boxes, whose nested event loops deliver events while
// the cycle is still running. Those events must not start a second cycle or
// move the window: while a cycle runs, ticks, activations, tray clicks and
// menu items are dropped, except "&Exit" (and any other way of closing the
// window), which ends the program as soon as the cycle has finished.
// beginCycle() and finishCycle() mark the cycle's span, so a front-end that
// later runs the cycle on a worker thread keeps the same guard.
#ifndef AGENT_APP_CORE_WINDOW_MODEL_H_
#define AGENT_APP_CORE_WINDOW_MODEL_H_

#include <functional>
#include <optional>
#include <string>

#include "app/core/agent_calls.h"
#include "app/core/schedule.h"
#include "base/regional.h"
#include "cycle/clock.h"
#include "cycle/journal.h"
#include "cycle/message_sink.h"

namespace agent {

// What the model asks of the window on screen. Every call comes from the
// user-interface thread, except postToUi and runOnUiAndWait.
class WindowView {
 public:
  virtual ~WindowView() = default;

  virtual void startTickTimer(int intervalMs) = 0;
  virtual void stopTickTimer() = 0;
  // Shows the window in its normal state (not minimised).
  virtual void showWindow() = 0;
  virtual void hideWindow() = 0;
  virtual void minimiseWindow() = 0;
  virtual bool isMinimised() const = 0;
  // Raises and activates the window when it is visible.
  virtual void bringToForeground() = 0;
  // Closes the window for good (the model has ended the program).
  virtual void closeWindow() = 0;
  virtual void setStatusText(const std::string& text) = 0;
  virtual void setPauseTicked(bool ticked) = 0;
  // Adds the tray icon with its tool tip; a failure is ignored.
  virtual void addTrayIcon(const std::string& tip) = 0;
  // Removes the tray icon; a failure is ignored.
  virtual void removeTrayIcon() = 0;
  // The pop-up menu "&Pause", "&Restore", "&Exit" at the pointer.
  virtual void popupMenu() = 0;
  virtual void closeMenu() = 0;
  // A modal box with an OK button; returns when it is answered.
  virtual void messageBox(const std::string& text, MessageIcon icon) = 0;
  // Lets the events waiting in the queue run once (a nested event loop).
  virtual void processPendingEvents() = 0;
  // Runs task on the user-interface thread soon; callable from any thread.
  virtual void postToUi(std::function<void()> task) = 0;
  // Runs task on the user-interface thread and returns when it has run;
  // callable only from another thread (a worker waiting on the window).
  virtual void runOnUiAndWait(std::function<void()> task) = 0;
  // The program ends with this status; the owner leaves its event loop.
  virtual void onProgramEnd(int status) = 0;
};

class WindowModel {
 public:
  static constexpr int kTimerIntervalMs = 500;
  static constexpr char kTrayTip[] = "Print File";
  static constexpr char kTitle[] = "Services . . .";

  struct Options {
    // Whether the desktop has a notification area. Without one a minimised
    // window stays on the task bar instead of hiding, so it can come back.
    bool trayAvailable = true;
    // The schedule's interval; shorter only for demonstrations.
    long long cycleIntervalSeconds = Schedule::kIntervalSeconds;
  };

  // Every reference must outlive the model. The schedule starts with
  // load(), not here.
  WindowModel(WindowView& view, AgentCalls& agent, Journal& journal, const Clock& clock,
              const RegionalSettings& regional, Options options);

  // Start-up, in this order: NextRunTime = now + the interval, the timer
  // starts, the window is shown, the tray icon is added, the CSV folder is
  // made. When the folder cannot be made, shows the message and ends the
  // program (hasEnded() is then true). The window's first activation
  // afterwards runs firstActivation().
  void load();

  // The first activation of the window: minimise (and hide where a tray
  // exists), then the agent's activation. Runs once; restoring from the
  // tray is no activation. Dropped during a cycle.
  void firstActivation();
  // True until the first activation has come (after load()).
  bool awaitsActivation() const { return schedule_ && !activationDone_ && !hasEnded(); }

  // The timer's handler: when the schedule is due, "Idle" on the status
  // line, then (unless paused) pending events once, a cycle, and "Idle - "
  // with the date and time. Dropped during a cycle.
  void tick();

  // The one handler for the tray icon's notification codes: 514 and 515
  // restore the window, 517 brings it to the foreground and opens the menu
  // at the pointer, every other code is ignored. Dropped during a cycle.
  void trayCode(int code);

  // The menu items. Pause ticks the pause box (nothing unticks it but the
  // box itself); Restore restores the window; Exit ends the program, or
  // after the cycle when one runs.
  void pauseItem();
  void restoreItem();
  void exitItem();
  // The pause box, ticked or unticked by the user.
  void setPaused(bool paused) { paused_ = paused; }
  bool paused() const { return paused_; }

  // The window went to its minimised state: hide it where a tray icon can
  // bring it back.
  void windowMinimised();

  // Any other way of closing the window. Returns whether the window may
  // close now; during a cycle the answer is no and the program ends when
  // the cycle finishes.
  bool closeRequested();

  // The span of one cycle. beginCycle() returns false (and starts nothing)
  // when a cycle already runs or the program has ended. finishCycle() takes
  // the message of an error that escaped the cycle (empty when none) and
  // whether the program must end with it; it returns false when the
  // program has ended.
  bool beginCycle();
  bool finishCycle(const std::string& escapedError, bool programEnds);

  bool inCycle() const { return inCycle_; }
  // True once the program has ended; exitStatus() is then 0 for "&Exit" or
  // a closed window and 1 for an end with a message.
  bool hasEnded() const { return exitStatus_.has_value(); }
  int exitStatus() const { return exitStatus_.value_or(0); }
  const Schedule* schedule() const { return schedule_ ? &*schedule_ : nullptr; }

 private:
  void restore();
  void setStatusLine(const std::string& text);
  void hideWhenMinimised();
  // Runs one call of the agent between beginCycle() and finishCycle().
  // Returns false when the program has ended.
  template <typename Call>
  bool runAsCycle(const char* what, Call call);
  void endWithMessage(const std::string& text);
  void endProgram(int status);

  WindowView& view_;
  AgentCalls& agent_;
  Journal& journal_;
  const Clock& clock_;
  const RegionalSettings& regional_;
  const Options options_;

  std::optional<Schedule> schedule_;  // NextRunTime lives here
  bool activationDone_ = false;
  bool paused_ = false;
  bool inCycle_ = false;
  bool exitRequested_ = false;
  std::optional<int> exitStatus_;
};

}  // namespace agent

#endif  // AGENT_APP_CORE_WINDOW_MODEL_H_
