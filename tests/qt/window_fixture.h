// Helpers for the window's tests: one QApplication on the offscreen
// platform, a clock the test sets, calls that stand in for the agent's, and
// a way to act while a modal message box is open.
#ifndef AGENT_TESTS_QT_WINDOW_FIXTURE_H_
#define AGENT_TESTS_QT_WINDOW_FIXTURE_H_

#include <functional>

#include "app/qt/agent_calls.h"
#include "cycle/clock.h"

class QWidget;

namespace agent::testing {

// Makes the application object once (offscreen unless QT_QPA_PLATFORM says
// otherwise); message boxes closing never quit it.
void ensureApplication();

class SetClock : public Clock {
 public:
  DateTime now() const override { return now_; }
  void advance(long long seconds) { now_ = addSeconds(now_, seconds); }

 private:
  DateTime now_{2024, 3, 1, 9, 0, 0};
};

// Counts the window's calls; each runs the given body (none by default).
class ScriptedCalls : public AgentCalls {
 public:
  void ensureCsvFolder() override;
  void activate() override;
  void runCycle() override;

  int csvFolderCalls = 0;
  int activations = 0;
  int cycles = 0;
  std::function<void()> onActivate;
  std::function<void()> onCycle;
};

// Runs body once the next modal box is open (inside its nested event
// loop), then closes the box. Call before the code that opens it.
void whenModalBoxOpens(std::function<void(QWidget* box)> body);

// Lets pending events run until done() is true or about two seconds pass.
bool processEventsUntil(const std::function<bool()>& done);

}  // namespace agent::testing

#endif  // AGENT_TESTS_QT_WINDOW_FIXTURE_H_
