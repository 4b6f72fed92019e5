// Owner-only files and folders on POSIX: open(2) with O_CREAT|O_EXCL|
// O_NOFOLLOW and mode 0600 (the umask can only take bits away), chmod to
// 0700/0600 for what exists already.
#ifndef _WIN32

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

#include "base/private_file.h"

namespace agent {

namespace {

constexpr mode_t kOthersAccess = S_IRWXG | S_IRWXO;

[[noreturn]] void throwErrno(const std::string& what) {
  throw std::system_error(errno, std::generic_category(), what);
}

FileIdentity identityOf(const struct stat& st) {
  return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

}  // namespace

CreatedFile createPrivateFile(const std::filesystem::path& path) {
  int fd =
      ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, S_IRUSR | S_IWUSR);
  if (fd < 0) throwErrno("create " + path.string());
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    int saved = errno;
    ::close(fd);
    errno = saved;
    throwErrno("examine " + path.string());
  }
  std::FILE* stream = ::fdopen(fd, "wb");
  if (stream == nullptr) {
    int saved = errno;
    ::close(fd);
    errno = saved;
    throwErrno("open " + path.string());
  }
  return {stream, identityOf(st)};
}

std::optional<FileIdentity> identityAt(const std::filesystem::path& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) return std::nullopt;
    throwErrno("examine " + path.string());
  }
  return identityOf(st);
}

FolderAccess makeOwnerOnlyFolder(const std::filesystem::path& folder) {
  if (::mkdir(folder.c_str(), S_IRWXU) == 0) return FolderAccess::Created;
  if (errno == ENOENT) {
    // Parents missing: they are made as any folder, the last one owner-only.
    std::error_code ec;
    std::filesystem::create_directories(folder.parent_path(), ec);
    if (ec) throw std::system_error(ec, "make " + folder.parent_path().string());
    if (::mkdir(folder.c_str(), S_IRWXU) == 0) return FolderAccess::Created;
  }
  if (errno != EEXIST) throwErrno("make " + folder.string());
  struct stat st;
  if (::stat(folder.c_str(), &st) != 0) throwErrno("examine " + folder.string());
  if (!S_ISDIR(st.st_mode))
    throw std::system_error(ENOTDIR, std::generic_category(), "make " + folder.string());
  if ((st.st_mode & kOthersAccess) == 0) return FolderAccess::OwnerOnly;
  if (::chmod(folder.c_str(), st.st_mode & 07700) != 0) throwErrno("narrow " + folder.string());
  return FolderAccess::Narrowed;
}

bool narrowToOwner(const std::filesystem::path& file) {
  int fd = ::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) throwErrno("open " + file.string());
  struct stat st;
  bool wide = false;
  int result = ::fstat(fd, &st);
  if (result == 0 && (st.st_mode & kOthersAccess) != 0) {
    wide = true;
    result = ::fchmod(fd, st.st_mode & 07700);
  }
  int saved = errno;
  ::close(fd);
  errno = saved;
  if (result != 0) throwErrno("narrow " + file.string());
  return wide;
}

bool othersMayRead(const std::filesystem::path& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return false;
  return (st.st_mode & (S_IRGRP | S_IROTH)) != 0;
}

const char* narrowAccessAdvice() {
  return "narrow them: chmod 700 on the folder, chmod 600 on the files";
}

FileReader::Opened FileReader::open(const std::filesystem::path& path) {
  Opened opened;
  int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    opened.refusal = errno == ELOOP ? Refusal::Link : Refusal::Other;
    opened.reason = std::generic_category().message(errno);
    return opened;
  }
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    opened.refusal = Refusal::NotRegular;
    return opened;
  }
  // Reads block again: the descriptor is a regular file (O_NONBLOCK only
  // kept a FIFO from holding the open).
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  opened.file.reset(new FileReader(fd, identityOf(st)));
  return opened;
}

FileReader::~FileReader() {
  ::close(static_cast<int>(handle_));
}

std::size_t FileReader::read(char* buffer, std::size_t length) {
  for (;;) {
    ssize_t n = ::read(static_cast<int>(handle_), buffer, length);
    if (n >= 0) return static_cast<std::size_t>(n);
    if (errno != EINTR) throwErrno("read");
  }
}

std::string replaceFileWhole(const std::filesystem::path& path, std::string_view text) {
  const std::filesystem::path temp = path.string() + ".new";
  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return "cannot write " + temp.string() + ": " + std::strerror(errno);
  bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  ok = ::fsync(fd) == 0 && ok;
  ok = ::close(fd) == 0 && ok;
  if (!ok || ::rename(temp.c_str(), path.c_str()) != 0) {
    std::string why = std::strerror(errno);
    ::unlink(temp.c_str());
    return "cannot write " + path.string() + ": " + why;
  }
  return {};
}

bool mayWrite(const std::filesystem::path& path) {
  return ::access(path.c_str(), W_OK) == 0;
}

}  // namespace agent

#endif  // !_WIN32
