// The window's decisions without a toolkit, where the Qt window's own tests
// cannot reach (and where the thread sanitizer runs): the pause box and
// queued ticks, the activation's cycle on the worker thread, a window going
// away mid-cycle and errors escaping a cycle. The view keeps the state the
// model's calls leave; its "event loop" is the test's own thread, which
// runs what the worker posts to it.
#include "app/core/window_model.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "app/core/cycle_messages.h"
#include "app/core/tray_codes.h"
#include "base/errors.h"
#include "tests/support/doubles.h"

namespace agent {
namespace {

using testing::ScriptedCalls;
using testing::SetClock;

constexpr long long kFiftyMinutes = 50 * 60;
constexpr auto kPatience = std::chrono::seconds(5);

// The tasks posted to the window's thread, run when the test says so.
class UiQueue {
 public:
  void post(std::function<void()> task) {
    std::lock_guard<std::mutex> lock(mutex_);
    tasks_.push_back(std::move(task));
    posted_.notify_all();
  }
  // Runs the tasks waiting now; returns how many.
  int runWaiting() {
    std::deque<std::function<void()>> now;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      now.swap(tasks_);
    }
    for (auto& task : now) task();
    return static_cast<int>(now.size());
  }
  // Waits until a task is posted; false after kPatience.
  bool waitForTask() {
    std::unique_lock<std::mutex> lock(mutex_);
    return posted_.wait_for(lock, kPatience, [&] { return !tasks_.empty(); });
  }
  // Runs tasks as they come until done() holds; false after kPatience.
  bool runUntil(const std::function<bool()>& done) {
    auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (!done()) {
      if (runWaiting() > 0) continue;
      std::unique_lock<std::mutex> lock(mutex_);
      if (!posted_.wait_until(lock, deadline, [&] { return !tasks_.empty(); })) return done();
    }
    return true;
  }

 private:
  std::mutex mutex_;
  std::condition_variable posted_;
  std::deque<std::function<void()>> tasks_;
};

// A gate a worker waits at until the test's thread opens it (bounded, so a
// fault fails the test instead of hanging it).
struct Gate {
  std::promise<void> opened;
  std::shared_future<void> ready = opened.get_future().share();
  void open() { opened.set_value(); }
  bool waitOpen() const { return ready.wait_for(kPatience) == std::future_status::ready; }
};

// A window that exists only as the state the model's calls leave.
class RecordingView : public WindowView {
 public:
  void startTickTimer(int) override {}
  void stopTickTimer() override {}
  void showWindow() override {
    visible = true;
    minimised = false;
  }
  void hideWindow() override { visible = false; }
  void minimiseWindow() override { minimised = true; }
  bool isMinimised() const override { return minimised; }
  void bringToForeground() override {}
  void closeWindow() override { visible = false; }
  void setStatusText(const std::string& text) override { status = text; }
  void setPauseTicked(bool) override {}
  void addTrayIcon(const std::string&) override {}
  void removeTrayIcon() override {}
  void popupMenu() override {}
  void closeMenu() override {}
  void messageBox(const std::string& text, MessageIcon) override {
    messages.push_back(text);
    if (onMessage) onMessage();
  }
  bool closeMessageBox() override { return false; }
  void processPendingEvents() override {
    ui->runWaiting();
    if (pendingEvents) pendingEvents();
  }
  void postToUi(std::function<void()> task) override { ui->post(std::move(task)); }
  void runOnUiAndWait(std::function<void()> task) override {
    std::promise<void> ran;
    ui->post([&] {
      task();
      ran.set_value();
    });
    ran.get_future().wait();
  }
  void onProgramEnd(int status) override { endings.push_back(status); }

  bool visible = false;
  bool minimised = false;
  std::string status;
  std::vector<std::string> messages;
  std::vector<int> endings;
  std::function<void()> onMessage;      // runs inside the modal box
  std::function<void()> pendingEvents;  // the events one tick lets run
  std::unique_ptr<UiQueue> ui = std::make_unique<UiQueue>();
};

class WindowModelTest : public ::testing::Test {
 protected:
  // A model loaded and past its first activation; the cycle's boxes go
  // through boxes when given.
  WindowModel& started(bool trayAvailable = true, CycleMessages* boxes = nullptr) {
    model_ = std::make_unique<WindowModel>(view, calls, journal, clock, regional,
                                           WindowModel::Options{trayAvailable});
    if (boxes != nullptr) model_->routeCycleMessages(*boxes);
    model_->load();
    model_->firstActivation();
    cycleEnds();
    return *model_;
  }
  // The window's thread runs what the worker posts until the cycle's end
  // has been handled.
  void cycleEnds() {
    ASSERT_TRUE(view.ui->runUntil([&] { return !model_->inCycle(); })) << "the cycle never ended";
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

TEST_F(WindowModelTest, PausedTicksRunNoCycleAndATickQueuedInsideACycleStartsNoSecond) {
  WindowModel& model = started();
  model.setPaused(true);
  passNextRunTime();
  model.tick();
  EXPECT_EQ(view.status, "Idle");
  EXPECT_EQ(calls.cycles, 0);
  EXPECT_EQ(model.schedule()->nextRunTime(), addSeconds(clock.now(), kFiftyMinutes));

  model.setPaused(false);
  model.tick();
  EXPECT_FALSE(model.inCycle()) << "unticking starts no cycle";
  view.pendingEvents = [&] { model.tick(); };  // a queued tick runs inside the cycle
  passNextRunTime();
  model.tick();
  cycleEnds();
  EXPECT_EQ(calls.cycles, 1);
}

TEST_F(WindowModelTest, TheActivationsCycleAlsoRunsOnTheWorkerAndDropsTheFirstDueTick) {
  WindowModel model(view, calls, journal, clock, regional, {});
  Gate entered, release;
  std::thread::id activationThread;
  calls.onActivate = [&] {
    activationThread = std::this_thread::get_id();
    entered.open();
    EXPECT_TRUE(release.waitOpen());
  };
  model.load();
  model.firstActivation();
  ASSERT_TRUE(entered.waitOpen());
  EXPECT_NE(activationThread, std::this_thread::get_id());
  clock.advance(kFiftyMinutes + 1);
  model.tick();
  EXPECT_EQ(calls.cycles, 0);
  model.trayCode(tray_code::kLeftButtonUp);
  EXPECT_FALSE(view.visible) << "no restore during the activation's cycle";
  release.open();
  ASSERT_TRUE(view.ui->runUntil([&] { return !model.inCycle(); }));
  EXPECT_EQ(view.status, "") << "the first cycle leaves the status line as it was";
  model.tick();
  ASSERT_TRUE(view.ui->runUntil([&] { return !model.inCycle(); }));
  EXPECT_EQ(calls.cycles, 1) << "the first tick after it runs the overdue cycle";
}

TEST(ProgressText, GroupsTheRowCountInThousands) {
  EXPECT_EQ(progressText({true, "", 0}), "Cycle running");
  EXPECT_EQ(progressText({true, "college", 0}), "Uploading college");
  EXPECT_EQ(progressText({true, "college", 1}), "Uploading college - 1 row");
  EXPECT_EQ(progressText({true, "studsub", 999}), "Uploading studsub - 999 rows");
  EXPECT_EQ(progressText({true, "studsub", 1000}), "Uploading studsub - 1,000 rows");
  EXPECT_EQ(progressText({true, "studsub", 1234567}), "Uploading studsub - 1,234,567 rows");
}

// The desktop's box: it runs on the window's thread.
class DesktopBoxes : public MessageSink {
 public:
  void show(const std::string& text, MessageIcon) override { texts.push_back(text); }
  std::vector<std::string> texts;
};

TEST_F(WindowModelTest, AWindowGoingAwayStopsTheCycleAndServesItsWaitingBoxWithoutOpeningIt) {
  DesktopBoxes boxes;
  CycleMessages messages(boxes);
  started(true, &messages);

  Gate entered;
  std::atomic<bool> returned{false};
  calls.onCycle = [&] {
    entered.open();
    messages.show("Lost connection to server 2013", MessageIcon::Exclamation);
    returned.store(true);
  };
  passNextRunTime();
  model_->tick();
  ASSERT_TRUE(entered.waitOpen());
  // The box's request waits in the window's queue when the window goes.
  ASSERT_TRUE(view.ui->waitForTask());
  auto shutDown = std::async(std::launch::async, [&] { model_.reset(); });
  if (shutDown.wait_for(kPatience) != std::future_status::ready) {
    view.ui->runUntil([&] { return returned.load(); });  // lets both threads end
    FAIL() << "the window waited for a cycle that waited for the window";
  }
  EXPECT_TRUE(returned.load()) << "the worker was joined";
  EXPECT_TRUE(calls.stopRequested.load());
  EXPECT_TRUE(boxes.texts.empty()) << "no box opens while the window goes away";
  EXPECT_TRUE(journalHas("the window closes during a cycle"));
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
  cycleEnds();
  EXPECT_EQ(view.messages, std::vector<std::string>{"timed cycle failed: disk full"});
  EXPECT_EQ(cyclesInsideTheBox, 1);
  EXPECT_FALSE(model.hasEnded()) << "the timer goes on";
  EXPECT_FALSE(model.inCycle());

  calls.onCycle = [] { throw ProgramEnd("DB Path Not Identified"); };
  passNextRunTime();
  model.tick();
  cycleEnds();
  EXPECT_TRUE(model.hasEnded());
  EXPECT_EQ(model.exitStatus(), 1);
  EXPECT_EQ(view.messages.back(), "DB Path Not Identified");
  EXPECT_EQ(view.endings, std::vector<int>{1});
}

}  // namespace
}  // namespace agent
