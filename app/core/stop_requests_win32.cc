// Stop requests on Windows, from the console control handler. The handler
// runs on a thread of its own, so it may raise the stop itself. For Ctrl+C
// and Ctrl+Break it only does that; for a console close, log-off or shut-down the process ends as
// soon as the handler returns, so the handler waits for the agent to finish (StopRequests'
// destructor) within the five seconds Windows allows.
#ifdef _WIN32

#include <windows.h>

#include "app/core/stop_requests.h"

namespace agent {

namespace {

constexpr DWORD kEndWaitMilliseconds = 4500;

Signal& stopRequested() {
  static Signal requested;
  return requested;
}
HANDLE agentFinished = nullptr;  // manual-reset event, set by ~StopRequests

BOOL WINAPI onConsoleControl(DWORD type) {
  switch (type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      stopRequested().raise();
      return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      stopRequested().raise();
      if (agentFinished != nullptr) WaitForSingleObject(agentFinished, kEndWaitMilliseconds);
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

StopRequests::StopRequests() {
  agentFinished = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  SetConsoleCtrlHandler(onConsoleControl, TRUE);
}

StopRequests::~StopRequests() {
  if (agentFinished != nullptr) SetEvent(agentFinished);
  SetConsoleCtrlHandler(onConsoleControl, FALSE);
  // The event is left open: a handler thread may still be waking on it, and
  // the process is ending.
}

void ignoreFileSizeSignal() {}

const Signal& StopRequests::requested() const {
  return stopRequested();
}

}  // namespace agent

#endif  // _WIN32
