// The instance lock on POSIX systems: an fcntl write lock on the whole
// file. fcntl locks belong to the process and vanish when it ends; they
// also hold across NFS, where flock may not.
#include "config/instance_lock.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace agent {

struct InstanceLock::Platform {
  int fd = -1;
  ~Platform() {
    if (fd >= 0) ::close(fd);  // closing any descriptor of the file releases the lock
  }
};

InstanceLock::InstanceLock(const std::filesystem::path& home)
    : path_(home / kInstanceLockFileName), platform_(std::make_unique<Platform>()) {
  platform_->fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (platform_->fd < 0) {
    error_ = std::strerror(errno);
    return;
  }
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;  // l_start 0, l_len 0: the whole file
  if (::fcntl(platform_->fd, F_SETLK, &lock) == 0) {
    outcome_ = Outcome::Held;
  } else if (errno == EACCES || errno == EAGAIN) {
    outcome_ = Outcome::HeldByOther;
  } else {
    error_ = std::strerror(errno);
  }
}

InstanceLock::~InstanceLock() = default;

}  // namespace agent
