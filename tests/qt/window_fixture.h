// Helpers for the window's tests (gui_test_main.cc makes the one
// QApplication, offscreen): a way to act while a modal message box is open (the clock
// and the scripted agent calls are in tests/support/doubles.h).
#ifndef AGENT_TESTS_QT_WINDOW_FIXTURE_H_
#define AGENT_TESTS_QT_WINDOW_FIXTURE_H_

#include <functional>

#include "tests/support/doubles.h"

class QWidget;

namespace agent::testing {

// Runs body once the next modal box is open (inside its nested event
// loop), then closes the box. Call before the code that opens it.
void whenModalBoxOpens(std::function<void(QWidget* box)> body);

// Lets pending events run until done() is true or about two seconds pass.
bool processEventsUntil(const std::function<bool()>& done);

}  // namespace agent::testing

#endif  // AGENT_TESTS_QT_WINDOW_FIXTURE_H_
