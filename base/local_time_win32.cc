#ifdef _WIN32

#include "base/local_time.h"

namespace agent {

std::tm localCalendarTime(std::time_t seconds) {
  std::tm local{};
  localtime_s(&local, &seconds);
  return local;
}

}  // namespace agent

#endif  // _WIN32
