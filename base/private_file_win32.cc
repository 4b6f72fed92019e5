// Owner-only files and folders on Windows. A new file is made with
// CREATE_NEW (refused when anything stands at the name) and
// FILE_FLAG_OPEN_REPARSE_POINT (a link is never followed); files and
// folders keep the access their folder passes on, which docs/security.md
// tells the installer to restrict.
#ifdef _WIN32

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <system_error>

#include "base/private_file.h"

namespace agent {

namespace {

[[noreturn]] void throwLastError(const std::string& what) {
  throw std::system_error(static_cast<int>(::GetLastError()), std::system_category(), what);
}

FileIdentity identityOf(HANDLE handle, const std::string& what) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!::GetFileInformationByHandle(handle, &info)) throwLastError("examine " + what);
  return {info.dwVolumeSerialNumber,
          (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
}

}  // namespace

CreatedFile createPrivateFile(const std::filesystem::path& path) {
  HANDLE handle = ::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) throwLastError("create " + path.string());
  FileIdentity identity;
  try {
    identity = identityOf(handle, path.string());
  } catch (...) {
    ::CloseHandle(handle);
    throw;
  }
  int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
  if (fd < 0) {
    ::CloseHandle(handle);
    throw std::system_error(EMFILE, std::generic_category(), "open " + path.string());
  }
  std::FILE* stream = ::_fdopen(fd, "wb");
  if (stream == nullptr) {
    ::_close(fd);  // closes the handle too
    throw std::system_error(errno, std::generic_category(), "open " + path.string());
  }
  return {stream, identity};
}

std::optional<FileIdentity> identityAt(const std::filesystem::path& path) {
  HANDLE handle = ::CreateFileW(
      path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return std::nullopt;
    throwLastError("examine " + path.string());
  }
  try {
    FileIdentity identity = identityOf(handle, path.string());
    ::CloseHandle(handle);
    return identity;
  } catch (...) {
    ::CloseHandle(handle);
    throw;
  }
}

FolderAccess makeOwnerOnlyFolder(const std::filesystem::path& folder) {
  std::error_code ec;
  bool created = std::filesystem::create_directories(folder, ec);
  if (ec) throw std::system_error(ec, "make " + folder.string());
  if (!std::filesystem::is_directory(folder, ec)) {
    throw std::system_error(std::make_error_code(std::errc::not_a_directory),
                            "make " + folder.string());
  }
  return created ? FolderAccess::Created : FolderAccess::OwnerOnly;
}

bool narrowToOwner(const std::filesystem::path&) {
  return false;
}

}  // namespace agent

#endif  // _WIN32
