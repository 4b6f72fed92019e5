// A posted task travels as an owned heap object and is freed by whoever
// takes it off the queue; a sent one stays the sender's, which waits.
#include "app/win32/ui_tasks.h"

#include <memory>
#include <utility>

namespace agent {

namespace {

// wParam: whether lParam is an owned (posted) task or the sender's.
constexpr WPARAM kPosted = 1;
constexpr WPARAM kSent = 0;

}  // namespace

bool postUiTask(HWND window, std::function<void()> task) {
  auto owned = std::make_unique<std::function<void()>>(std::move(task));
  if (!PostMessageW(window, kUiTaskMessage, kPosted, reinterpret_cast<LPARAM>(owned.get()))) {
    return false;
  }
  owned.release();  // the queue holds it now
  return true;
}

void sendUiTask(HWND window, const std::function<void()>& task) {
  SendMessageW(window, kUiTaskMessage, kSent,
               reinterpret_cast<LPARAM>(const_cast<std::function<void()>*>(&task)));
}

bool runUiTaskMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != kUiTaskMessage) return false;
  auto* task = reinterpret_cast<std::function<void()>*>(lParam);
  if (wParam == kPosted) {
    std::unique_ptr<std::function<void()>> owned(task);
    (*owned)();
  } else {
    (*task)();
  }
  return true;
}

void dropQueuedUiTasks(HWND window) {
  MSG msg;
  while (PeekMessageW(&msg, window, kUiTaskMessage, kUiTaskMessage, PM_REMOVE)) {
    if (msg.wParam == kPosted) delete reinterpret_cast<std::function<void()>*>(msg.lParam);
  }
}

}  // namespace agent
