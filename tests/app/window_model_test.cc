// The window's decisions without a toolkit: the start-up order, the first
// activation, the schedule's ticks and the pause box, the tray codes and the
// menu, the busy guard while a cycle runs, the ends of the program and the
// status line. The view records what the model asks of the window.
#include "app/core/window_model.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/core/tray_codes.h"
#include "base/errors.h"
#include "tests/support/doubles.h"

namespace agent {
namespace {

using testing::ScriptedCalls;
using testing::SetClock;

constexpr long long kFiftyMinutes = 50 * 60;

// A window that exists only as the list of calls made on it, and as the
// state those calls leave.
class RecordingView : public WindowView {
 public:
  void startTickTimer(int intervalMs) override {
    timerMs = intervalMs;
    calls.push_back("timer " + std::to_string(intervalMs));
  }
  void stopTickTimer() override {
    timerMs = 0;
    calls.push_back("stop timer");
  }
  void showWindow() override {
    visible = true;
    minimised = false;
    calls.push_back("show");
  }
  void hideWindow() override {
    visible = false;
    calls.push_back("hide");
  }
  void minimiseWindow() override {
    minimised = true;
    calls.push_back("minimise");
  }
  bool isMinimised() const override { return minimised; }
  void bringToForeground() override { calls.push_back("foreground"); }
  void closeWindow() override {
    visible = false;
    calls.push_back("close");
  }
  void setStatusText(const std::string& text) override { status = text; }
  void setPauseTicked(bool ticked) override { pauseTicked = ticked; }
  void addTrayIcon(const std::string& tip) override {
    trayTip = tip;
    calls.push_back("tray icon " + tip);
  }
  void removeTrayIcon() override {
    trayTip.clear();
    calls.push_back("remove tray icon");
  }
  void popupMenu() override {
    menuOpen = true;
    calls.push_back("menu");
  }
  void closeMenu() override { menuOpen = false; }
  void messageBox(const std::string& text, MessageIcon) override {
    messages.push_back(text);
    if (onMessage) onMessage();
  }
  void processPendingEvents() override {
    if (pendingEvents) pendingEvents();
  }
  // One thread here: a posted task waits in posted until the test runs it.
  void postToUi(std::function<void()> task) override { posted.push_back(std::move(task)); }
  void runOnUiAndWait(std::function<void()> task) override { task(); }
  void onProgramEnd(int status) override { endings.push_back(status); }

  std::vector<std::function<void()>> posted;

  std::vector<std::string> calls;
  int timerMs = 0;
  bool visible = false;
  bool minimised = false;
  bool menuOpen = false;
  bool pauseTicked = false;
  std::string status;
  std::string trayTip;
  std::vector<std::string> messages;
  std::vector<int> endings;
  std::function<void()> onMessage;      // runs inside the modal box
  std::function<void()> pendingEvents;  // the events one tick lets run
};

class WindowModelTest : public ::testing::Test {
 protected:
  WindowModel& started(bool trayAvailable = true) {
    model_ = std::make_unique<WindowModel>(view, calls, journal, clock, regional,
                                           WindowModel::Options{trayAvailable});
    model_->load();
    model_->firstActivation();
    return *model_;
  }
  void passNextRunTime() {
    while (clock.now() <= model_->schedule()->nextRunTime()) clock.advance(60);
  }
  bool journalHas(const std::string& part) const {
    return std::ranges::any_of(journal.recentLines(), [&](const std::string& line) {
      return line.find(part) != std::string::npos;
    });
  }

  SetClock clock;
  ScriptedCalls calls;
  Journal journal;
  RegionalSettings regional;
  RecordingView view;
  std::unique_ptr<WindowModel> model_;
};

TEST_F(WindowModelTest, StartUpOrderThenTheFirstActivationHidesAndActivatesOnce) {
  WindowModel model(view, calls, journal, clock, regional, {});
  std::vector<std::string> order;
  calls.onCsvFolder = [&] { order = view.calls; };
  model.load();
  EXPECT_EQ(order, (std::vector<std::string>{"timer 500", "show", "tray icon Print File"}))
      << "the CSV folder comes last";
  EXPECT_EQ(model.schedule()->nextRunTime(), addSeconds(clock.now(), kFiftyMinutes));
  EXPECT_EQ(calls.activations, 0);
  EXPECT_TRUE(model.awaitsActivation());

  model.firstActivation();
  EXPECT_TRUE(view.minimised);
  EXPECT_FALSE(view.visible) << "hidden before the activation's cycle";
  EXPECT_EQ(calls.activations, 1);
  EXPECT_EQ(calls.cycles, 0) << "the activation's cycle is the agent's own";
  EXPECT_TRUE(view.status.empty());

  model.trayCode(tray_code::kLeftButtonUp);
  model.firstActivation();
  EXPECT_EQ(calls.activations, 1) << "restoring is no new activation";
}

TEST_F(WindowModelTest, CsvFolderThatCannotBeMadeEndsTheProgramWithItsMessage) {
  calls.onCsvFolder = [] { throw ProgramEnd("Error 183: CSV"); };
  WindowModel model(view, calls, journal, clock, regional, {});
  model.load();
  EXPECT_TRUE(model.hasEnded());
  EXPECT_EQ(model.exitStatus(), 1);
  EXPECT_EQ(view.messages, std::vector<std::string>{"Error 183: CSV"});
  EXPECT_EQ(view.endings, std::vector<int>{1});
  EXPECT_TRUE(view.trayTip.empty());
  EXPECT_EQ(view.timerMs, 0);
  model.firstActivation();
  EXPECT_EQ(calls.activations, 0) << "no activation after an end at start-up";
}

TEST_F(WindowModelTest, DueTickRunsACycleAndStampsTheStatusLine) {
  WindowModel& model = started();
  clock.advance(kFiftyMinutes);
  model.tick();
  EXPECT_EQ(calls.cycles, 0) << "due only after NextRunTime has passed";
  clock.advance(1);
  calls.onCycle = [&] { clock.advance(90); };
  model.tick();
  EXPECT_EQ(calls.cycles, 1);
  EXPECT_EQ(view.status, "Idle - " + formatGeneralDate(clock.now(), regional))
      << "the date and time after the cycle";
  EXPECT_TRUE(journalHas("status line: Idle - "));
  model.tick();
  EXPECT_EQ(calls.cycles, 1);
}

TEST_F(WindowModelTest, PausedTickShowsIdleRunsNoCycleAndTheScheduleMovesOn) {
  WindowModel& model = started();
  model.setPaused(true);
  passNextRunTime();
  model.tick();
  EXPECT_EQ(view.status, "Idle");
  EXPECT_EQ(calls.cycles, 0);
  EXPECT_EQ(model.schedule()->nextRunTime(), addSeconds(clock.now(), kFiftyMinutes));

  model.setPaused(false);
  model.tick();
  EXPECT_EQ(calls.cycles, 0) << "unticking starts no cycle";
  passNextRunTime();
  model.tick();
  EXPECT_EQ(calls.cycles, 1);
}

TEST_F(WindowModelTest, PendingEventsOfADueTickStartNoSecondCycle) {
  WindowModel& model = started();
  view.pendingEvents = [&] { model.tick(); };  // a queued tick runs inside the first
  passNextRunTime();
  model.tick();
  EXPECT_EQ(calls.cycles, 1);
}

TEST_F(WindowModelTest, TrayCodesRestoreOrOpenTheMenuAndTheMenuActs) {
  WindowModel& model = started();
  view.calls.clear();
  for (int code : {0, 512, 513, 516, 518, 519, 520, 1024}) model.trayCode(code);
  EXPECT_TRUE(view.calls.empty()) << "other codes are ignored";

  for (int code : {tray_code::kLeftButtonUp, tray_code::kLeftButtonDblClk}) {
    view.calls.clear();
    model.trayCode(code);
    EXPECT_EQ(view.calls, (std::vector<std::string>{"show", "foreground"})) << code;
    view.minimiseWindow();
    model.windowMinimised();
    EXPECT_FALSE(view.visible) << "minimising hides it again";
  }
  view.calls.clear();
  model.trayCode(tray_code::kRightButtonUp);
  EXPECT_EQ(view.calls, (std::vector<std::string>{"foreground", "menu"}))
      << "the menu does not restore the window";

  model.restoreItem();
  EXPECT_TRUE(view.visible);
  model.pauseItem();
  EXPECT_TRUE(model.paused());
  EXPECT_TRUE(view.pauseTicked);
  model.pauseItem();
  EXPECT_TRUE(model.paused()) << "nothing unticks it but the box";
  EXPECT_TRUE(journalHas("window restored"));
}

TEST_F(WindowModelTest, EventsDuringACycleAreDroppedAndExitWaitsForTheCycle) {
  WindowModel& model = started();
  bool inside = false;
  calls.onCycle = [&] {
    inside = true;
    EXPECT_TRUE(model.inCycle());
    clock.advance(2 * 3600);  // the cycle outlasts its interval
    model.tick();
    model.trayCode(tray_code::kLeftButtonDblClk);
    model.trayCode(tray_code::kRightButtonUp);
    model.restoreItem();
    model.pauseItem();
    model.firstActivation();
    EXPECT_FALSE(model.beginCycle()) << "no cycle inside a cycle";
    EXPECT_EQ(calls.cycles, 1);
    EXPECT_FALSE(view.visible);
    EXPECT_FALSE(view.menuOpen);
    EXPECT_FALSE(model.paused());
    model.exitItem();
    EXPECT_FALSE(model.closeRequested()) << "the window stays until the cycle returns";
    EXPECT_FALSE(model.hasEnded());
  };
  passNextRunTime();
  model.tick();
  ASSERT_TRUE(inside);
  EXPECT_TRUE(model.hasEnded());
  EXPECT_EQ(model.exitStatus(), 0);
  EXPECT_EQ(view.endings, std::vector<int>{0});
  EXPECT_TRUE(view.trayTip.empty());
  EXPECT_EQ(view.timerMs, 0);
  EXPECT_EQ(view.status, "Idle") << "an ended program stamps no date after the cycle";
}

TEST_F(WindowModelTest, ErrorsThatEscapeACycleAreShownInsideTheGuard) {
  WindowModel& model = started();
  calls.onCycle = [] { throw std::runtime_error("disk full"); };
  int cyclesInsideTheBox = -1;
  view.onMessage = [&] {
    passNextRunTime();
    model.tick();  // the box's own event loop delivers a due tick
    cyclesInsideTheBox = calls.cycles;
  };
  passNextRunTime();
  model.tick();
  EXPECT_EQ(view.messages, std::vector<std::string>{"timed cycle failed: disk full"});
  EXPECT_EQ(cyclesInsideTheBox, 1);
  EXPECT_FALSE(model.hasEnded()) << "the timer goes on";
  EXPECT_FALSE(model.inCycle());

  calls.onCycle = [] { throw ProgramEnd("DB Path Not Identified"); };
  passNextRunTime();
  model.tick();
  EXPECT_TRUE(model.hasEnded());
  EXPECT_EQ(model.exitStatus(), 1);
  EXPECT_EQ(view.messages.back(), "DB Path Not Identified");
  EXPECT_EQ(view.endings, std::vector<int>{1});
}

TEST_F(WindowModelTest, ExitOrClosingEndsTheProgramAndAnEndedWindowStaysGone) {
  {
    WindowModel& model = started();
    model.exitItem();
    EXPECT_EQ(view.endings, std::vector<int>{0});
    EXPECT_TRUE(journalHas("the agent ends"));
    view.calls.clear();
    model.tick();
    model.trayCode(tray_code::kLeftButtonUp);
    model.exitItem();
    EXPECT_TRUE(view.calls.empty());
    EXPECT_TRUE(model.closeRequested());
  }
  view = RecordingView();
  {
    WindowModel& model = started();
    EXPECT_TRUE(model.closeRequested());
    EXPECT_EQ(view.endings, std::vector<int>{0});
    EXPECT_TRUE(view.trayTip.empty());
  }
}

TEST_F(WindowModelTest, WithoutANotificationAreaTheWindowMinimisesWithoutHiding) {
  started(/*trayAvailable=*/false);
  EXPECT_TRUE(view.minimised);
  EXPECT_TRUE(view.visible) << "a hidden window could not come back";
  EXPECT_TRUE(journalHas("no notification area"));
}

}  // namespace
}  // namespace agent
