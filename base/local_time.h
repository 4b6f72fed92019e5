// The local calendar time of a moment: the C library's thread-safe form
// differs per platform (local_time_posix.cc, local_time_win32.cc).
#ifndef AGENT_BASE_LOCAL_TIME_H_
#define AGENT_BASE_LOCAL_TIME_H_

#include <ctime>

namespace agent {

std::tm localCalendarTime(std::time_t seconds);

}  // namespace agent

#endif  // AGENT_BASE_LOCAL_TIME_H_
