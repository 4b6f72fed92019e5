#include <sys/resource.h>
#include <sys/stat.h>
#if defined(__linux__)
#include <sys/prctl.h>
#endif

#include "base/process_hardening.h"

namespace agent {

void hardenProcess() {
  ::umask(077);
  const rlimit none{0, 0};
  ::setrlimit(RLIMIT_CORE, &none);
#if defined(__linux__)
  // Also keeps other processes of the same user from reading its memory
  // through /proc or ptrace.
  ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
#endif
}

}  // namespace agent
