// A clock that only moves forward at the pace of real time, for intervals:
// setting the date and time does not move it, and it goes on counting while
// the machine sleeps, so a cycle due during a suspend runs at the resume.
// Only differences between two readings mean anything (steady_time_posix.cc,
// steady_time_win32.cc).
#ifndef AGENT_BASE_STEADY_TIME_H_
#define AGENT_BASE_STEADY_TIME_H_

namespace agent {

// Whole seconds since an unspecified moment (on most systems the boot).
long long steadySecondsNow();

}  // namespace agent

#endif  // AGENT_BASE_STEADY_TIME_H_
