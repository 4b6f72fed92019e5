// The platform's requests that a headless agent end: SIGINT and SIGTERM on
// POSIX systems (stop_requests_posix.cc); Ctrl+C, Ctrl+Break, closing the
// console window, log-off and shut-down on Windows (stop_requests_win32.cc).
// A request only raises a signal: the schedule finishes the step it is in
// and returns, so a cycle is never cut off between its start and end stamps
// by the request itself.
#ifndef AGENT_APP_CORE_STOP_REQUESTS_H_
#define AGENT_APP_CORE_STOP_REQUESTS_H_

#include "base/signal.h"

namespace agent {

// At most one at a time: installs the handlers for its lifetime.
class StopRequests {
 public:
  StopRequests();
  // Restores the default handling. On Windows a console close, log-off or
  // shut-down waits (within the few seconds the system allows) until this
  // runs, so the agent's own cleanup has finished before the process ends.
  ~StopRequests();
  StopRequests(const StopRequests&) = delete;
  StopRequests& operator=(const StopRequests&) = delete;

  // Raised once a request has come.
  const Signal& requested() const;
};

// For the whole program: a write beyond the file size limit fails with its
// error instead of ending the process (POSIX's SIGXFSZ; nothing on Windows).
void ignoreFileSizeSignal();

}  // namespace agent

#endif  // AGENT_APP_CORE_STOP_REQUESTS_H_
