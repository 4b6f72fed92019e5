// The window SERVICEFILE without a toolkit: the start-up order, the 500 ms
// timer's ticks against the cycle schedule, the pause box, the busy guard,
// the tray icon's codes, the pop-up menu's items, closing and the status
// line. A front-end (Qt on Linux, Win32 on Windows) draws the window and
// forwards its events here; the model answers through the WindowView it
// was given.
//
// A cycle (the first activation's, or a due tick's) runs on a worker
// thread, so the window keeps repainting and its status line shows the
// running stage. The model's state is touched on the window's thread only:
// the worker's end is posted back to it. The window still behaves as if
// the cycle held it: while a cycle runs, ticks, activations, tray clicks
// and menu items are dropped, except "&Exit" (and any other way of closing
// the window), which ends the program as soon as the cycle has finished.
// A message box the cycle asks for opens on the window's thread and holds
// the cycle until it is answered (app/core/cycle_messages.h).
#ifndef AGENT_APP_CORE_WINDOW_MODEL_H_
#define AGENT_APP_CORE_WINDOW_MODEL_H_

#include <functional>
#include <optional>
#include <string>

#include "app/core/agent_calls.h"
#include "app/core/cycle_thread.h"
#include "app/core/schedule.h"
#include "base/regional.h"
#include "cycle/clock.h"
#include "cycle/journal.h"
#include "cycle/message_sink.h"

namespace agent {

class CycleMessages;

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
  // Answers the message box open on this thread, if one is, as OK would;
  // returns whether one was open. (The box's own call then returns.)
  virtual bool closeMessageBox() = 0;
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
  // Ends as shutDown() does.
  ~WindowModel();
  WindowModel(const WindowModel&) = delete;
  WindowModel& operator=(const WindowModel&) = delete;

  // Boxes that the agent's cycles ask for open through this window from
  // now on, and no more once the window goes away. Call before load().
  void routeCycleMessages(CycleMessages& messages);

  // The window goes away (its owner's event loop has ended): a cycle still
  // running is asked to stop, its boxes no longer open, and this returns
  // once its thread has ended, letting the window's events run meanwhile.
  // The front-end calls it while the view is still whole; nothing else of
  // the model may be called afterwards.
  void shutDown();

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
  // line, then (unless paused) pending events once, and a cycle started;
  // its end puts "Idle - " with the date and time on the status line.
  // During a cycle the tick leaves the schedule alone and shows the
  // cycle's stage and rows instead.
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

  // True from a cycle's start until its end has been handled on the
  // window's thread.
  bool inCycle() const { return inCycle_; }
  // True once the program has ended; exitStatus() is then 0 for "&Exit" or
  // a closed window and 1 for an end with a message.
  bool hasEnded() const { return exitStatus_.has_value(); }
  int exitStatus() const { return exitStatus_.value_or(0); }
  const Schedule* schedule() const { return schedule_ ? &*schedule_ : nullptr; }

 private:
  // How a cycle's call ended, carried from the worker to the window.
  struct CycleEnd {
    std::string escapedError;  // empty when nothing escaped
    bool programEnds = false;
  };
  // After the cycle: the date stamp of a timed cycle, or the status line as
  // it was before the cycle.
  enum class AfterCycle { StampIdle, RestoreStatus };

  void restore();
  // A status line text the journal notes (the window's own texts).
  void setStatusLine(const std::string& text);
  // A text the journal leaves out (the progress of a running cycle).
  void showStatus(const std::string& text);
  void showProgress();
  void hideWhenMinimised();
  // Starts call on the worker thread between beginCycle() and
  // finishCycle(); what names it in the message of an error that escapes.
  void runAsCycle(const char* what, std::function<void()> call, AfterCycle after);
  // On the window's thread, once the worker's call has returned.
  void cycleReturned(const CycleEnd& end, AfterCycle after);
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
  bool shutDown_ = false;
  std::optional<int> exitStatus_;
  std::string statusText_;  // what the status line shows
  std::string statusBeforeCycle_;
  CycleMessages* cycleMessages_ = nullptr;
  // Last: joined before anything the cycle uses goes away.
  CycleThread worker_;
};

}  // namespace agent

#endif  // AGENT_APP_CORE_WINDOW_MODEL_H_
