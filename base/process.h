// The agent's own process and others, as the state file and --status see
// them. The calls of the operating system stand in process_posix.cc and
// process_win32.cc.
#ifndef AGENT_BASE_PROCESS_H_
#define AGENT_BASE_PROCESS_H_

namespace agent {

// This process's id.
long long currentProcessId();

// Whether a process with this id exists (it may belong to another user).
bool processAlive(long long pid);

}  // namespace agent

#endif  // AGENT_BASE_PROCESS_H_
