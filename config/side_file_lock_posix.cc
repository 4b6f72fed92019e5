// Side file locks on POSIX systems: an open-file-description lock where the
// system has one (Linux), which belongs to the handle rather than to the
// process, so that two connections of one process exclude each other too;
// flock elsewhere. Both go when the descriptor closes.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "config/side_file_lock.h"

namespace agent {

std::unique_ptr<SideFileLock::Platform> SideFileLock::Platform::open(
    const std::filesystem::path& path, std::string* error) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) {
    *error = std::strerror(errno);
    return nullptr;
  }
  auto platform = std::make_unique<Platform>();
  platform->handle = fd;
  return platform;
}

SideFileLock::Platform::~Platform() {
  if (handle >= 0) ::close(static_cast<int>(handle));
}

SideFileLock::Platform::Try SideFileLock::Platform::tryLock(std::string* error) {
  const int fd = static_cast<int>(handle);
#ifdef F_OFD_SETLK
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;  // l_start 0, l_len 0: the whole file
  const int rc = ::fcntl(fd, F_OFD_SETLK, &lock);
#else
  const int rc = ::flock(fd, LOCK_EX | LOCK_NB);
#endif
  if (rc == 0) return Try::Locked;
  if (errno == EACCES || errno == EAGAIN || errno == EWOULDBLOCK) return Try::Busy;
  *error = std::strerror(errno);
  return Try::Failed;
}

void SideFileLock::Platform::writeText(const std::string& text) {
  const int fd = static_cast<int>(handle);
  if (::ftruncate(fd, 0) != 0) return;
  [[maybe_unused]] ssize_t n = ::pwrite(fd, text.data(), text.size(), 0);
}

std::string SideFileLock::Platform::readText() {
  char buffer[1024];
  const ssize_t n = ::pread(static_cast<int>(handle), buffer, sizeof buffer, 0);
  return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

std::string thisAgentIdentity(const std::filesystem::path& home) {
  char host[256] = {};
  if (::gethostname(host, sizeof host - 1) != 0) std::strcpy(host, "?");
  return "program folder " + home.string() + ", host " + host + ", process " +
         std::to_string(::getpid());
}

}  // namespace agent
