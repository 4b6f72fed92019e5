// Tasks handed to a window's thread from a worker: a real (hidden) window
// and its message loop, a worker thread posting and waiting. Runs in the
// Windows build, under Wine.
#include "app/win32/ui_tasks.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "app/win32/handles.h"

namespace agent {
namespace {

LRESULT CALLBACK taskWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (runUiTaskMessage(message, wParam, lParam)) return 0;
  return DefWindowProcW(window, message, wParam, lParam);
}

// A message-only window of its own class whose procedure runs the tasks
// (it needs no display).
class TaskWindow {
 public:
  TaskWindow() : class_(windowClass()) {
    window_.reset(CreateWindowExW(0, kClass, L"tasks", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  GetModuleHandleW(nullptr), nullptr));
  }
  HWND get() const { return window_.get(); }
  void destroy() {
    dropQueuedUiTasks(window_.get());
    window_.reset();
  }

  // Takes messages until done() or the time is up; returns done().
  bool pumpUntil(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done() && std::chrono::steady_clock::now() < deadline) {
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
      MSG msg;
      while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    }
    return done();
  }

 private:
  static constexpr wchar_t kClass[] = L"UiTasksTestWindow";
  static WNDCLASSEXW windowClass() {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = taskWindowProcedure;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = kClass;
    return wc;
  }

  RegisteredClass class_;
  OwnedWindow window_;
};

// Tasks a worker posts run on the window's thread in order; a task it sends
// has run there when the send returns; tasks left for a destroyed window are
// freed, not run.
TEST(UiTasks, TasksFromAWorkerRunOnTheWindowThreadAndThoseLeftForAGoneWindowAreFreed) {
  TaskWindow window;
  ASSERT_NE(window.get(), nullptr) << "CreateWindowExW failed: " << GetLastError();
  const DWORD uiThread = GetCurrentThreadId();
  constexpr int kTasks = 200;
  std::vector<int> order;  // touched only on the window's thread
  std::atomic<int> offThread{0};
  int value = 0;
  std::atomic<bool> workerSaw{false}, finished{false};
  std::thread worker([&] {
    for (int i = 0; i < kTasks; ++i) {
      EXPECT_TRUE(postUiTask(window.get(), [&, i] {
        if (GetCurrentThreadId() != uiThread) ++offThread;
        order.push_back(i);
      }));
    }
    sendUiTask(window.get(), [&] {
      if (GetCurrentThreadId() != uiThread) ++offThread;
      value = 42;
    });
    // No other synchronisation: the send itself orders the write before.
    workerSaw = value == 42;
    finished = true;
  });
  const bool done = window.pumpUntil([&] { return finished && order.size() == kTasks; });
  worker.join();
  ASSERT_TRUE(done) << order.size() << " of " << kTasks << " tasks ran";
  EXPECT_TRUE(workerSaw);
  EXPECT_EQ(offThread, 0);
  for (int i = 0; i < kTasks; ++i) ASSERT_EQ(order[i], i);

  // Tasks left for a destroyed window are freed, not run.
  HWND gone = window.get();
  auto token = std::make_shared<int>(0);
  bool ran = false;
  ASSERT_TRUE(postUiTask(gone, [token, &ran] { ran = true; }));
  EXPECT_EQ(token.use_count(), 2);
  window.destroy();
  EXPECT_EQ(token.use_count(), 1) << "the queued task was not freed";
  // A post to the window that is gone fails, and its task is freed at once.
  EXPECT_FALSE(postUiTask(gone, [token, &ran] { ran = true; }));
  EXPECT_EQ(token.use_count(), 1);
  // A send to it returns without running the task.
  sendUiTask(gone, [&ran] { ran = true; });
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
  EXPECT_FALSE(ran);
}

}  // namespace
}  // namespace agent
