// Stop requests on POSIX systems: SIGINT (Ctrl+C) and SIGTERM.
//
// A signal handler may do next to nothing: it writes one byte to a pipe
// (the self-pipe), and a thread of StopRequests' own, blocked reading that
// pipe, raises the signal the agent waits for. Nobody polls.
#ifndef _WIN32

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <thread>

#include "app/core/stop_requests.h"
#include "base/errors.h"

namespace agent {

namespace {

constexpr char kStopByte = 's';
constexpr char kQuitByte = 'q';

// The pipe's ends: the handler writes to [1], the reader reads [0].
int wakePipe[2] = {-1, -1};

Signal& stopRequested() {
  static Signal requested;
  return requested;
}

void onStopSignal(int) {
  const int saved = errno;  // the interrupted code may be about to read it
  const char byte = kStopByte;
  // Nothing to do on failure: a full pipe already holds a stop byte.
  [[maybe_unused]] ssize_t written = write(wakePipe[1], &byte, 1);
  errno = saved;
}

// The reader's thread: raises the stop for each stop byte, ends on the quit
// byte written by ~StopRequests.
void readStops() {
  for (;;) {
    char byte = 0;
    const ssize_t got = read(wakePipe[0], &byte, 1);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0 || byte == kQuitByte) return;
    stopRequested().raise();
  }
}

// Started by StopRequests' constructor, joined by its destructor.
std::thread reader;

}  // namespace

StopRequests::StopRequests() {
  if (pipe(wakePipe) != 0)
    throw AgentError(error_number::kInternalError,
                     "cannot make the pipe that passes stop requests on");
  fcntl(wakePipe[0], F_SETFD, FD_CLOEXEC);
  fcntl(wakePipe[1], F_SETFD, FD_CLOEXEC);
  reader = std::thread(readStops);
  std::signal(SIGINT, onStopSignal);
  std::signal(SIGTERM, onStopSignal);
}

StopRequests::~StopRequests() {
  std::signal(SIGINT, SIG_DFL);
  std::signal(SIGTERM, SIG_DFL);
  const char byte = kQuitByte;
  while (write(wakePipe[1], &byte, 1) < 0 && errno == EINTR) {
  }
  reader.join();
  close(wakePipe[0]);
  close(wakePipe[1]);
  wakePipe[0] = wakePipe[1] = -1;
}

void ignoreFileSizeSignal() {
  // A file size limit (ulimit -f) would otherwise end the program at the
  // write that crosses it, with no journal line; ignored, that write fails
  // with its error (EFBIG), which the stage that wrote reports.
  std::signal(SIGXFSZ, SIG_IGN);
}

const Signal& StopRequests::requested() const {
  return stopRequested();
}

}  // namespace agent

#endif  // !_WIN32
