// Tasks handed to a window's thread through its message queue: a worker
// posts work (PostMessageW) or waits for it to have run (SendMessageW); the
// window's procedure runs it when the message arrives. The message is
// WM_APP-based and private to the windows that call runUiTaskMessage.
#ifndef AGENT_APP_WIN32_UI_TASKS_H_
#define AGENT_APP_WIN32_UI_TASKS_H_

#include <windows.h>

#include <functional>

namespace agent {

constexpr UINT kUiTaskMessage = WM_APP + 2;

// Queues task for window's thread. Returns false (and drops the task) when
// the message cannot be posted, as when the window is gone.
bool postUiTask(HWND window, std::function<void()> task);

// Runs task on window's thread and returns when it has run (at once when
// called on that thread). From another thread, window's thread must be
// taking messages (its message loop, a message box, a menu). When the
// window is gone the task does not run and the call returns at once.
void sendUiTask(HWND window, const std::function<void()>& task);

// For the window procedure: runs the task a kUiTaskMessage carries and
// returns true; false for any other message.
bool runUiTaskMessage(UINT message, WPARAM wParam, LPARAM lParam);

// For a window being destroyed: frees the tasks still queued for it,
// without running them.
void dropQueuedUiTasks(HWND window);

}  // namespace agent

#endif  // AGENT_APP_WIN32_UI_TASKS_H_
