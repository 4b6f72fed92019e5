#ifndef _WIN32

#include <signal.h>
#include <unistd.h>

#include <cerrno>

#include "base/process.h"

namespace agent {

long long currentProcessId() {
  return static_cast<long long>(::getpid());
}

bool processAlive(long long pid) {
  if (pid <= 0) return false;
  // EPERM: the process exists but belongs to another user.
  return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

}  // namespace agent

#endif  // !_WIN32
