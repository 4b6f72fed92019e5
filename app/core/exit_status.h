// The exit statuses of upload-agent, one per way it can end (the README
// lists them for the scripts and schedulers that start the agent).
#ifndef AGENT_APP_CORE_EXIT_STATUS_H_
#define AGENT_APP_CORE_EXIT_STATUS_H_

namespace agent::exit_status {

constexpr int kSuccess = 0;          // --once: the cycle stamped its end; or a clean stop
constexpr int kCycleEndedEarly = 1;  // --once: the cycle ended early (error, time-out, stop)
constexpr int kProgramEnded = 2;     // the program had to end (settings, local database, CSV)
constexpr int kAnotherInstance = 3;  // another agent holds the program folder's lock
constexpr int kUsage = 64;           // a mistyped option or a --home that is no folder

}  // namespace agent::exit_status

#endif  // AGENT_APP_CORE_EXIT_STATUS_H_
