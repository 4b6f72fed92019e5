#ifndef _WIN32

#include "base/local_time.h"

namespace agent {

std::tm localCalendarTime(std::time_t seconds) {
  std::tm local{};
  localtime_r(&seconds, &local);
  return local;
}

}  // namespace agent

#endif  // !_WIN32
