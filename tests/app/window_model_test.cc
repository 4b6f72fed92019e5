// The window's cycle thread without a toolkit, where the thread sanitizer runs.
#include "app/core/window_model.h"

#include <gtest/gtest.h>

#include <mutex>
#include <thread>

#include "tests/support/doubles.h"

namespace agent {
namespace {

// A window whose event loop is whoever calls processPendingEvents().
struct QueueView : WindowView {
  // clang-format off
  void startTickTimer(int) override {} void stopTickTimer() override {} void showWindow() override {}
  void hideWindow() override {} void minimiseWindow() override {} void closeWindow() override {}
  bool isMinimised() const override { return false; } void bringToForeground() override {}
  void setPauseTicked(bool) override {} void addTrayIcon(const std::string&) override {}
  void removeTrayIcon() override {} void popupMenu() override {} void closeMenu() override {}
  bool closeMessageBox() override { return false; } void onProgramEnd(int) override {}
  void messageBox(const std::string&, MessageIcon) override {}
  void runOnUiAndWait(std::function<void()> task) override { task(); }
  void setStatusText(const std::string& text) override { status = text; }
  void processPendingEvents() override {
    std::lock_guard<std::mutex> lock(mutex); for (auto& task : std::exchange(tasks, {})) task(); }
  void postToUi(std::function<void()> task) override {
    std::lock_guard<std::mutex> lock(mutex); tasks.push_back(std::move(task)); }
  std::string status; std::mutex mutex; std::vector<std::function<void()>> tasks;
  // clang-format on
};

// Waits until done() holds, running the window's events if given; false after 5 s.
bool waitUntil(const std::function<bool()>& done, QueueView* events = nullptr) {
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!done() && std::chrono::steady_clock::now() < end) {
    if (events != nullptr) events->processPendingEvents();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return done();
}

TEST(WindowModelTest, ACycleRunsOnTheWorkerAndTheWindowGoingAwayStopsIt) {
  testing::SetClock clock;
  testing::ScriptedCalls calls;
  Journal journal;
  RegionalSettings regional;
  QueueView view;
  WindowModel model(view, calls, journal, clock, regional, WindowModel::Options{});
  model.load();
  std::thread::id cycleThread;
  calls.onCycle = [&] {  // the second cycle runs until it is asked to stop
    cycleThread = std::this_thread::get_id();
    if (calls.cycles == 2) waitUntil([&] { return calls.stopRequested.load(); });
  };
  clock.advance(Schedule::kIntervalSeconds + 60);
  model.tick();
  ASSERT_TRUE(waitUntil([&] { return !model.inCycle(); }, &view));
  EXPECT_NE(cycleThread, std::this_thread::get_id());
  EXPECT_EQ(view.status.rfind("Idle - ", 0), 0u) << "the end's date stamp: " << view.status;
  clock.advance(Schedule::kIntervalSeconds + 60);
  model.tick();
  ASSERT_TRUE(waitUntil([&] { return calls.cycles == 2; }));
  model.shutDown();  // the window goes away: returns once the worker has ended
  EXPECT_TRUE(calls.stopRequested.load()) << "and the cycle was asked to stop";
}

}  // namespace
}  // namespace agent
