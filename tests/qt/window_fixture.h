// Helpers for the window's tests: one QApplication on the offscreen
// platform and a way to act while a modal message box is open (the clock
// and the scripted agent calls are in tests/support/doubles.h).
#ifndef AGENT_TESTS_QT_WINDOW_FIXTURE_H_
#define AGENT_TESTS_QT_WINDOW_FIXTURE_H_

#include <functional>

#include "tests/support/doubles.h"

class QWidget;

namespace agent::testing {

// Makes the application object once (offscreen unless QT_QPA_PLATFORM says
// otherwise); message boxes closing never quit it.
void ensureApplication();

// Runs body once the next modal box is open (inside its nested event
// loop), then closes the box. Call before the code that opens it.
void whenModalBoxOpens(std::function<void(QWidget* box)> body);

// Lets pending events run until done() is true or about two seconds pass.
bool processEventsUntil(const std::function<bool()>& done);

}  // namespace agent::testing

#endif  // AGENT_TESTS_QT_WINDOW_FIXTURE_H_
