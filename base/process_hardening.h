// What the agent's process does first, before it reads a secret: files it
// creates are its own account's alone whatever the umask, and a crash leaves
// no memory image behind (the connection strings hold the portal's and the
// SA password). One platform file each (process_hardening_posix.cc,
// process_hardening_win32.cc).
#ifndef AGENT_BASE_PROCESS_HARDENING_H_
#define AGENT_BASE_PROCESS_HARDENING_H_

namespace agent {

// POSIX: umask 077, core dumps off (RLIMIT_CORE 0 and, on Linux, not
// dumpable). Windows: no error boxes and no crash dump: an unhandled
// exception ends the process at once.
void hardenProcess();

}  // namespace agent

#endif  // AGENT_BASE_PROCESS_HARDENING_H_
