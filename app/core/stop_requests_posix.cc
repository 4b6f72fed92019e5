// Stop requests on POSIX systems: SIGINT (Ctrl+C) and SIGTERM.
#ifndef _WIN32

#include <csignal>

#include "app/core/stop_requests.h"

namespace agent {

namespace {

std::atomic<bool> stopRequested{false};

void requestStop(int) {
  stopRequested = true;
}

}  // namespace

StopRequests::StopRequests() {
  std::signal(SIGINT, requestStop);
  std::signal(SIGTERM, requestStop);
}

StopRequests::~StopRequests() {
  std::signal(SIGINT, SIG_DFL);
  std::signal(SIGTERM, SIG_DFL);
}

void ignoreFileSizeSignal() {
  // A file size limit (ulimit -f) would otherwise end the program at the
  // write that crosses it, with no journal line; ignored, that write fails
  // with its error (EFBIG), which the stage that wrote reports.
  std::signal(SIGXFSZ, SIG_IGN);
}

const std::atomic<bool>& StopRequests::requested() const {
  return stopRequested;
}

}  // namespace agent

#endif  // !_WIN32
