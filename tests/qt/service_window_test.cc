// The Qt window over its model with calls standing in for the agent's (the
// tray, the timer, the worker thread, a cycle's box in a nested event loop),
// then around the real agent of a program folder.
#include "app/qt/service_window.h"
#include "tests/support/doubles.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QLabel>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTimer>
#include <atomic>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <thread>

#include "app/core/agent.h"
#include "app/core/cycle_messages.h"
#include "app/core/tray_codes.h"
#include "app/qt/qt_message_sink.h"
#include "tests/support/program_folder.h"
#include "tests/support/temp_dir.h"

// Helpers on the one QApplication gui_test_main.cc makes (offscreen).
namespace agent::testing {
namespace {

// Runs body once the next modal box is open (inside its nested event
// loop), then closes the box. Call before the code that opens it.
void whenModalBoxOpens(std::function<void(QWidget* box)> body) {
  auto* poll = new QTimer(QApplication::instance());
  poll->setInterval(10);
  QObject::connect(poll, &QTimer::timeout, poll, [poll, body] {
    QWidget* box = QApplication::activeModalWidget();
    if (box == nullptr) return;
    poll->stop();
    poll->deleteLater();
    body(box);
    box->close();
  });
  poll->start();
}

// Lets pending events run (timers fire meanwhile) until done() is true or
// ms milliseconds pass.
bool processEventsUntil(const std::function<bool()>& done, int ms = 2000) {
  QDeadlineTimer deadline(ms);
  while (!done()) {
    if (deadline.hasExpired()) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

}  // namespace
}  // namespace agent::testing

namespace agent {
namespace {

using testing::ScriptedCalls;
using testing::SetClock;

constexpr long long kFiftyMinutes = 50 * 60;

class WindowTest : public ::testing::Test {
 protected:
  // A loaded window whose first activation has run.
  std::unique_ptr<ServiceWindow> startedWindow(bool trayAvailable = true) {
    auto window = std::make_unique<ServiceWindow>(calls, messages, journal, clock, regional,
                                                  ServiceWindow::Options{trayAvailable});
    QObject::connect(window.get(), &ServiceWindow::programEnded,
                     [this](int status) { endings.push_back(status); });
    window->routeCycleMessages(cycleMessages);
    window->load();
    EXPECT_TRUE(testing::processEventsUntil([&] { return activationEnded(*window); }))
        << "the shown window was never activated";
    return window;
  }

  static bool activationEnded(const ServiceWindow& window) {
    return !window.model().awaitsActivation() && !window.model().inCycle();
  }
  // Lets the event loop run until the cycle's end has been handled.
  static bool cycleEnds(const ServiceWindow& window) {
    return testing::processEventsUntil([&] { return !window.model().inCycle(); });
  }

  // Makes the next tick due.
  void passNextRunTime(const ServiceWindow& window) {
    while (clock.now() <= window.model().schedule()->nextRunTime()) clock.advance(60);
  }

  SetClock clock;
  ScriptedCalls calls;
  testing::RecordedMessages messages;
  Journal journal;
  RegionalSettings regional;
  std::vector<int> endings;
  // The boxes a cycle asks for, opened on the window's thread.
  QtMessageSink boxes;
  CycleMessages cycleMessages{boxes};
};

TEST_F(WindowTest, StartUpAndFirstActivationThenTheTrayCodesAndTheMenu) {
  std::thread::id activationThread;
  calls.onActivate = [&] { activationThread = std::this_thread::get_id(); };
  ServiceWindow window(calls, messages, journal, clock, regional, {});
  EXPECT_EQ(window.windowTitle(), "Services . . .");
  EXPECT_EQ(window.pauseBox()->text(), "&Pause");
  window.load();
  EXPECT_EQ(window.model().schedule()->nextRunTime(), addSeconds(clock.now(), kFiftyMinutes));
  EXPECT_TRUE(window.cycleTimer()->isActive());
  EXPECT_EQ(window.cycleTimer()->interval(), 500);
  EXPECT_TRUE(window.isVisible());
  EXPECT_TRUE(window.trayIcon()->isVisible());
  EXPECT_EQ(window.trayIcon()->toolTip(), "Print File");
  EXPECT_EQ(calls.csvFolderCalls, 1);
  EXPECT_EQ(calls.activations, 0) << "the activation comes from the event loop";
  EXPECT_TRUE(window.statusLabel()->text().isEmpty());

  ASSERT_TRUE(testing::processEventsUntil([&] { return activationEnded(window); }));
  EXPECT_EQ(calls.activations, 1);
  EXPECT_NE(activationThread, std::this_thread::get_id()) << "the activation ran on the window";
  EXPECT_TRUE(window.isHidden());
  EXPECT_TRUE(window.isMinimized());
  EXPECT_EQ(calls.cycles, 0) << "the activation's cycle is the agent's own";
  EXPECT_TRUE(window.statusLabel()->text().isEmpty()) << "the first cycle leaves the status line";

  // The tray's codes reach the model and the menu acts on the widgets.
  window.dispatchTrayCode(512);  // a move over the icon
  EXPECT_TRUE(window.isHidden());
  EXPECT_FALSE(window.mPopupSys()->isVisible());

  for (int code : {tray_code::kLeftButtonUp, tray_code::kLeftButtonDblClk}) {
    window.dispatchTrayCode(code);
    EXPECT_TRUE(window.isVisible()) << code;
    EXPECT_FALSE(window.isMinimized()) << code;
    QApplication::processEvents();
    EXPECT_EQ(calls.activations, 1) << "restoring is no new activation";
    EXPECT_TRUE(window.isVisible()) << "a restored window stays shown";
    window.setWindowState(Qt::WindowMinimized);  // minimising hides it again
    QApplication::processEvents();
    EXPECT_TRUE(window.isHidden()) << code;
  }

  window.dispatchTrayCode(tray_code::kRightButtonUp);
  EXPECT_TRUE(window.mPopupSys()->isVisible());
  EXPECT_TRUE(window.isHidden()) << "the menu does not restore the window";
  QStringList items;
  for (QAction* action : window.mPopupSys()->actions()) items << action->text();
  EXPECT_EQ(items, QStringList({"&Pause", "&Restore", "&Exit"}));
  window.mPopupSys()->close();

  window.mPopRestore()->trigger();
  EXPECT_TRUE(window.isVisible());
  window.mPause()->trigger();
  EXPECT_TRUE(window.pauseBox()->isChecked());
  EXPECT_TRUE(window.model().paused());
  window.pauseBox()->setChecked(false);
  EXPECT_FALSE(window.model().paused()) << "the box itself unticks it";
}

// During a cycle on the worker its box's nested event loop runs Timer1, whose
// status line follows the stage; the window's other events are lost.
TEST_F(WindowTest, EventsDuringACycleWithAMessageBoxAreLostAndExitWaitsForTheCycle) {
  auto window = startedWindow();
  std::thread::id cycleThread;
  calls.onCycle = [&] {
    cycleThread = std::this_thread::get_id();
    calls.progressRecord.cycleStarted();
    calls.progressRecord.stageStarted("studsub");
    for (int i = 0; i < 12000; ++i) calls.progressRecord.rowDone();
    cycleMessages.show("a cycle's message", MessageIcon::Exclamation);
    calls.progressRecord.cycleEnded();
  };
  bool bodyRan = false;
  testing::whenModalBoxOpens([&](QWidget*) {
    bodyRan = true;
    EXPECT_TRUE(window->model().inCycle());
    clock.advance(2 * 3600);  // the cycle outlasts its interval
    window->tick();
    testing::processEventsUntil([] { return false; },
                                700);  // Timer1 ticks inside the box's event loop
    emit window->trayIcon()->activated(QSystemTrayIcon::Trigger);
    window->dispatchTrayCode(tray_code::kLeftButtonDblClk);
    window->dispatchTrayCode(tray_code::kRightButtonUp);
    window->mPopRestore()->trigger();
    window->mPause()->trigger();
    QApplication::processEvents();
    EXPECT_EQ(calls.cycles, 1) << "no cycle inside a cycle";
    EXPECT_EQ(calls.activations, 1);
    EXPECT_TRUE(window->isHidden());
    EXPECT_FALSE(window->mPopupSys()->isVisible());
    EXPECT_FALSE(window->pauseBox()->isChecked());
    EXPECT_EQ(window->statusLabel()->text(), "Uploading studsub - 12,000 rows");
  });
  passNextRunTime(*window);
  window->tick();
  ASSERT_TRUE(cycleEnds(*window));
  ASSERT_TRUE(bodyRan);
  EXPECT_EQ(calls.cycles, 1);
  EXPECT_NE(cycleThread, std::this_thread::get_id());

  // The schedule as the cycle's own tick left it: long past, so the first
  // tick after the cycle runs the next one. Exit asked for in its box ends
  // the program once the cycle returns.
  testing::whenModalBoxOpens([&](QWidget*) {
    window->mPopExit()->trigger();
    window->close();
    QApplication::processEvents();
    EXPECT_FALSE(window->hasEnded());
    EXPECT_TRUE(endings.empty());
    EXPECT_TRUE(window->trayIcon()->isVisible());
  });
  window->tick();
  ASSERT_TRUE(cycleEnds(*window));
  EXPECT_EQ(calls.cycles, 2);
  EXPECT_TRUE(window->hasEnded());
  EXPECT_EQ(window->exitStatus(), 0);
  EXPECT_EQ(endings, std::vector<int>{0});
  EXPECT_FALSE(window->trayIcon()->isVisible());
  EXPECT_FALSE(window->cycleTimer()->isActive());
}

TEST_F(WindowTest, ABoxLeftUnansweredClosesWhenTheNextCycleFallsDueAndTheScheduleGoesOn) {
  auto window = startedWindow();
  calls.onCycle = [&] { cycleMessages.show("a cycle's message", MessageIcon::Exclamation); };
  bool openBeforeDue = false, closedWhenDue = false;
  testing::whenModalBoxOpens([&](QWidget* box) {
    testing::processEventsUntil([] { return false; },
                                700);  // Timer1 ticks; the next cycle is not due yet
    openBeforeDue = box->isVisible();
    passNextRunTime(*window);
    closedWhenDue = testing::processEventsUntil([&] { return !box->isVisible(); });
  });
  passNextRunTime(*window);
  window->tick();
  ASSERT_TRUE(cycleEnds(*window));
  EXPECT_TRUE(openBeforeDue) << "the box closed before anything was due";
  EXPECT_TRUE(closedWhenDue) << "the box held the schedule past the next cycle";
  EXPECT_EQ(testing::journalLinesWith(journal, "left unanswered"), 1u);
  // The next cycle's escaping error is shown and the timer goes on (a
  // program end is the real agent's case below).
  calls.onCycle = [] { throw std::runtime_error("disk full"); };
  EXPECT_TRUE(testing::processEventsUntil([&] { return !messages.texts.empty(); }))
      << "the cycle the box held did not lead to the next one";
  EXPECT_EQ(calls.cycles, 2);
  EXPECT_EQ(messages.texts, std::vector<std::string>{"timed cycle failed: disk full"});
  EXPECT_FALSE(window->hasEnded()) << "the timer goes on";
}

// The window going away while its cycle waits for a box it asked for: the
// cycle is asked to stop, its request is served without opening the box,
// and the window does not wait for a cycle that waits for the window.
// Without a notification area the window minimises without hiding (a
// hidden window could not come back).
TEST_F(WindowTest, AWindowGoingAwayStopsTheCycleAndServesItsWaitingBoxWithoutOpeningIt) {
  auto window = startedWindow(/*trayAvailable=*/false);
  EXPECT_TRUE(window->isMinimized());
  EXPECT_TRUE(window->isVisible());
  window->mPopRestore()->trigger();
  EXPECT_FALSE(window->isMinimized());
  std::atomic<bool> entered{false}, returned{false};
  calls.onCycle = [&] {
    entered = true;
    cycleMessages.show("Lost connection to server 2013", MessageIcon::Exclamation);
    returned = true;
  };
  bool boxOpened = false;
  testing::whenModalBoxOpens([&](QWidget*) { boxOpened = true; });
  passNextRunTime(*window);
  window->tick();
  for (int i = 0; i < 500 && !entered; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ASSERT_TRUE(entered);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the box's request is queued
  window.reset();
  EXPECT_TRUE(returned) << "the worker was joined";
  EXPECT_TRUE(calls.stopRequested.load());
  EXPECT_FALSE(boxOpened) << "a box opened while the window went away";
  EXPECT_EQ(testing::journalLinesWith(journal, "the window closes during a cycle"), 1u);
}

class WindowWithAgentTest : public ::testing::Test {
 protected:
  // The window around the agent of home, loaded (start-up run).
  ServiceWindow& loadWindow() {
    window = std::make_unique<ServiceWindow>(calls, messages, journal, clock, regional,
                                             ServiceWindow::Options{});
    window->load();
    return *window;
  }

  testing::SetClock clock;
  testing::TempDir home{"tray-home"};
  testing::RecordedMessages messages;
  Journal journal;
  RegionalSettings regional;
  Agent agent{home.path(), messages, journal, clock};
  AgentCallsOf calls{agent};
  std::unique_ptr<ServiceWindow> window;
};

// A file named CSV ends the program at start-up with the error's number and
// description, and no activation follows; a CSV folder already there is
// kept, and a missing settings file ends the program at the activation.
TEST_F(WindowWithAgentTest, StartUpEndsTheProgramOnAFileNamedCsvOrAMissingSettingsFile) {
  testing::writeFile(home / "CSV", "in the way");
  ServiceWindow& window = loadWindow();
  ASSERT_TRUE(window.hasEnded());
  EXPECT_EQ(window.exitStatus(), 1);
  testing::processEventsUntil([] { return false; });
  ASSERT_EQ(messages.texts.size(), 1u);
  EXPECT_NE(messages.texts[0].find("Error "), std::string::npos) << messages.texts[0];
  EXPECT_NE(messages.texts[0].find("CSV"), std::string::npos) << messages.texts[0];
  EXPECT_FALSE(window.trayIcon()->isVisible());

  std::filesystem::remove(home / "CSV");
  std::filesystem::create_directories(home / "CSV" / "kept");
  messages.texts.clear();
  ServiceWindow& second = loadWindow();
  EXPECT_TRUE(std::filesystem::is_directory(home / "CSV" / "kept"));
  EXPECT_FALSE(second.hasEnded());
  ASSERT_TRUE(testing::processEventsUntil([&] { return second.hasEnded(); }));
  EXPECT_EQ(second.exitStatus(), 1);
  EXPECT_EQ(messages.texts, std::vector<std::string>{"DB Path Not Identified"});
  EXPECT_FALSE(second.trayIcon()->isVisible());
}

}  // namespace
}  // namespace agent
