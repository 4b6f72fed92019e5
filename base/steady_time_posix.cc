#ifndef _WIN32

#include <time.h>

#include <chrono>

#include "base/steady_time.h"

namespace agent {

long long steadySecondsNow() {
#ifdef CLOCK_BOOTTIME
  // Linux: CLOCK_MONOTONIC stops while the machine is suspended; the boot
  // time clock goes on.
  timespec ts{};
  if (clock_gettime(CLOCK_BOOTTIME, &ts) == 0) return static_cast<long long>(ts.tv_sec);
#endif
  using namespace std::chrono;
  return duration_cast<seconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace agent

#endif  // !_WIN32
