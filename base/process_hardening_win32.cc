#include <windows.h>

#include "base/process_hardening.h"

namespace agent {
namespace {

// Ends the process before Windows Error Reporting could write a dump of it.
LONG WINAPI endWithoutDump(EXCEPTION_POINTERS*) {
  ::TerminateProcess(::GetCurrentProcess(), 3);
  return EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace

void hardenProcess() {
  ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
  ::SetUnhandledExceptionFilter(endWithoutDump);
}

}  // namespace agent
