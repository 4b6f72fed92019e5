// The instance lock on Windows: LockFileEx on the first byte of the file,
// exclusive and without waiting. The lock goes with the handle, and the
// system closes the handle when the process ends.
#include "config/instance_lock.h"

#include <windows.h>

#include "config/windows_message.h"

namespace agent {

struct InstanceLock::Platform {
  HANDLE file = INVALID_HANDLE_VALUE;
  ~Platform() {
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  }
};

InstanceLock::InstanceLock(const std::filesystem::path& home)
    : path_(home / kInstanceLockFileName), platform_(std::make_unique<Platform>()) {
  // Shared read and write: a second agent must be able to open the file to
  // find the lock taken, rather than fail with a sharing violation.
  platform_->file =
      CreateFileW(path_.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (platform_->file == INVALID_HANDLE_VALUE) {
    error_ = windowsMessage(GetLastError());
    return;
  }
  OVERLAPPED at{};  // offset 0
  if (LockFileEx(platform_->file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                 &at)) {
    outcome_ = Outcome::Held;
  } else if (DWORD code = GetLastError(); code == ERROR_LOCK_VIOLATION) {
    outcome_ = Outcome::HeldByOther;
  } else {
    error_ = windowsMessage(code);
  }
}

InstanceLock::~InstanceLock() = default;

}  // namespace agent
