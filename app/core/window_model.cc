// The window's behaviour: start-up, the first activation, the timer tick,
// the tray icon's codes and the menu items, each guarded against running
// inside a cycle, and the cycle's worker thread.
#include "app/core/window_model.h"

#include <chrono>
#include <exception>

#include "app/core/cycle_messages.h"
#include "app/core/tray_codes.h"
#include "base/errors.h"

namespace agent {

WindowModel::WindowModel(WindowView& view, AgentCalls& agent, Journal& journal, const Clock& clock,
                         const RegionalSettings& regional, Options options)
    : view_(view),
      agent_(agent),
      journal_(journal),
      clock_(clock),
      regional_(regional),
      options_(options) {}

WindowModel::~WindowModel() {
  shutDown();
}

void WindowModel::routeCycleMessages(CycleMessages& messages) {
  cycleMessages_ = &messages;
  messages.routeThrough(view_);
}

void WindowModel::shutDown() {
  if (shutDown_) return;
  shutDown_ = true;
  if (!worker_.started()) return;
  if (!worker_.bodyReturned()) {
    journal_.warning("the window closes during a cycle: the cycle is asked to stop");
    if (cycleMessages_ != nullptr) cycleMessages_->close();
    agent_.requestStop();
    // The cycle may wait for the window (a box asked for just before the
    // close): its request must still run, and now returns at once.
    while (!worker_.bodyReturned()) {
      view_.processPendingEvents();
      worker_.waitReturned(std::chrono::milliseconds(10));
    }
  }
  worker_.join();
}

void WindowModel::load() {
  schedule_.emplace(clock_, options_.cycleIntervalSeconds, &journal_);
  view_.startTickTimer(kTimerIntervalMs);
  view_.showWindow();
  view_.addTrayIcon(kTrayTip);
  if (!options_.trayAvailable) {
    journal_.warning(
        "no notification area on this desktop: the window minimises to the task bar "
        "instead of hiding, so that it can be restored");
  }
  try {
    agent_.ensureCsvFolder();
  } catch (const ProgramEnd& end) {
    endWithMessage(end.message());
  }
}

void WindowModel::firstActivation() {
  if (!awaitsActivation()) return;
  activationDone_ = true;
  if (inCycle_) return;  // dropped, as a tick during a cycle is
  view_.minimiseWindow();
  hideWhenMinimised();
  runAsCycle(
      "activation", [this] { agent_.activate(); }, AfterCycle::RestoreStatus);
}

void WindowModel::tick() {
  if (hasEnded() || !schedule_ || shutDown_) return;
  if (inCycle_) {
    // A box left unanswered (the office empty for the night) must not hold
    // the schedule for ever: when the next cycle falls due it is closed,
    // and the cycle it held goes on and ends.
    if (schedule_->due() && view_.closeMessageBox()) {
      journal_.warning("a message box left unanswered was closed: the next cycle is due");
    }
    showProgress();  // the schedule waits for the cycle's end
    return;
  }
  if (!schedule_->tick()) return;
  setStatusLine("Idle");
  if (paused_) return;  // the schedule has moved on all the same

  // Pending events run once; a tick among them finds the schedule moved on.
  view_.processPendingEvents();
  if (hasEnded() || inCycle_) return;
  runAsCycle(
      "timed cycle", [this] { agent_.runCycle(); }, AfterCycle::StampIdle);
}

void WindowModel::trayCode(int code) {
  if (inCycle_ || hasEnded()) return;
  switch (trayActionFor(code)) {
    case TrayAction::Restore:
      restore();
      break;
    case TrayAction::ShowMenu:
      view_.bringToForeground();
      view_.popupMenu();
      break;
    case TrayAction::Ignore:
      break;
  }
}

void WindowModel::pauseItem() {
  if (inCycle_ || hasEnded()) return;
  paused_ = true;
  view_.setPauseTicked(true);
}

void WindowModel::restoreItem() {
  if (inCycle_ || hasEnded()) return;
  restore();
}

void WindowModel::exitItem() {
  if (hasEnded()) return;
  if (inCycle_) {
    exitRequested_ = true;  // the cycle's end ends the program
    return;
  }
  endProgram(0);
}

void WindowModel::windowMinimised() {
  hideWhenMinimised();
}

bool WindowModel::closeRequested() {
  if (hasEnded()) return true;
  if (inCycle_) {
    exitRequested_ = true;
    return false;
  }
  endProgram(0);
  return true;
}

bool WindowModel::beginCycle() {
  if (inCycle_ || hasEnded()) return false;
  inCycle_ = true;
  return true;
}

bool WindowModel::finishCycle(const std::string& escapedError, bool programEnds) {
  // The message box runs while the cycle still counts as running, so the
  // events its event loop delivers are dropped as well.
  if (!escapedError.empty()) {
    journal_.error(escapedError);
    view_.messageBox(escapedError, MessageIcon::Exclamation);
  }
  inCycle_ = false;
  if (programEnds) {
    endProgram(1);
    return false;
  }
  // A cycle handles its own errors; one that escaped has been reported and
  // the timer goes on.
  if (exitRequested_) {
    endProgram(0);
    return false;
  }
  return true;
}

void WindowModel::runAsCycle(const char* what, std::function<void()> call, AfterCycle after) {
  if (shutDown_ || !beginCycle()) return;
  statusBeforeCycle_ = statusText_;
  showProgress();
  // The previous worker posted its end as its last step: it has ended or
  // is about to.
  worker_.join();
  worker_.start([this, what, call = std::move(call), after] {
    CycleEnd end;
    try {
      call();
    } catch (const ProgramEnd& e) {
      end = {e.message(), true};
    } catch (const std::exception& e) {
      end = {std::string(what) + " failed: " + e.what(), false};
    }
    // The worker's last step; the model is touched on the window's thread.
    view_.postToUi([this, end, after] { cycleReturned(end, after); });
  });
}

void WindowModel::cycleReturned(const CycleEnd& end, AfterCycle after) {
  if (shutDown_) {
    inCycle_ = false;
    return;
  }
  if (!finishCycle(end.escapedError, end.programEnds)) return;
  if (after == AfterCycle::StampIdle) {
    setStatusLine("Idle - " + formatGeneralDate(clock_.now(), regional_));
  } else {
    showStatus(statusBeforeCycle_);
  }
}

void WindowModel::restore() {
  view_.showWindow();
  view_.bringToForeground();
  journal_.info("window restored");
}

void WindowModel::setStatusLine(const std::string& text) {
  showStatus(text);
  journal_.info("status line: " + text);
}

void WindowModel::showStatus(const std::string& text) {
  if (text == statusText_) return;
  statusText_ = text;
  view_.setStatusText(text);
}

void WindowModel::showProgress() {
  showStatus(progressText(agent_.progress().snapshot()));
}

void WindowModel::hideWhenMinimised() {
  if (options_.trayAvailable && !hasEnded() && view_.isMinimised()) view_.hideWindow();
}

void WindowModel::endWithMessage(const std::string& text) {
  journal_.error(text);
  view_.messageBox(text, MessageIcon::Exclamation);
  endProgram(1);
}

void WindowModel::endProgram(int status) {
  if (hasEnded()) return;
  exitStatus_ = status;
  view_.stopTickTimer();
  view_.removeTrayIcon();
  view_.closeMenu();
  view_.closeWindow();
  journal_.info(status == 0 ? "the agent ends" : "the agent ends after a message");
  view_.onProgramEnd(status);
}

}  // namespace agent
