#ifdef _WIN32

#include <windows.h>

#include "base/steady_time.h"

namespace agent {

long long steadySecondsNow() {
  // Milliseconds since the boot, counting the time asleep; unaffected by
  // setting the system time.
  return static_cast<long long>(GetTickCount64() / 1000);
}

}  // namespace agent

#endif  // _WIN32
