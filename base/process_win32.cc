#ifdef _WIN32

#include <process.h>
#include <windows.h>

#include "base/process.h"

namespace agent {

long long currentProcessId() {
  return static_cast<long long>(::_getpid());
}

bool processAlive(long long pid) {
  if (pid <= 0) return false;
  HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
  // Access denied: the process exists but belongs to another user.
  if (!process) return ::GetLastError() == ERROR_ACCESS_DENIED;
  DWORD code = 0;
  bool alive = ::GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
  ::CloseHandle(process);
  return alive;
}

}  // namespace agent

#endif  // _WIN32
