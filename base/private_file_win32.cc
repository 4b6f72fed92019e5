// Owner-only files and folders on Windows. A new file is made with
// CREATE_NEW (refused when anything stands at the name) and
// FILE_FLAG_OPEN_REPARSE_POINT (a link is never followed); files and
// folders keep the access their folder passes on, which docs/security.md
// tells the installer to restrict.
#ifdef _WIN32

#include <fcntl.h>
#include <io.h>
#include <windows.h>
// After windows.h:
#include <aclapi.h>

#include <algorithm>
#include <fstream>
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

bool othersMayRead(const std::filesystem::path& path) {
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (::GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                              nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  // No ACL at all grants everything to everyone.
  bool open = dacl == nullptr;
  const WELL_KNOWN_SID_TYPE others[] = {WinWorldSid, WinAuthenticatedUserSid, WinBuiltinUsersSid,
                                        WinInteractiveSid};
  for (DWORD i = 0; !open && i < dacl->AceCount; ++i) {
    ACE_HEADER* header = nullptr;
    if (!::GetAce(dacl, i, reinterpret_cast<void**>(&header)) ||
        header->AceType != ACCESS_ALLOWED_ACE_TYPE || (header->AceFlags & INHERIT_ONLY_ACE)) {
      continue;
    }
    auto* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
    if (!(ace->Mask & (FILE_READ_DATA | GENERIC_READ | GENERIC_ALL))) continue;
    for (WELL_KNOWN_SID_TYPE type : others) {
      if (::IsWellKnownSid(&ace->SidStart, type)) open = true;
    }
  }
  ::LocalFree(descriptor);
  return open;
}

const char* narrowAccessAdvice() {
  return "narrow them as the installer does: icacls <folder> /inheritance:r /grant:r "
         "*S-1-5-18:(OI)(CI)F *S-1-5-32-544:(OI)(CI)F <agent account>:(OI)(CI)M";
}

FileReader::Opened FileReader::open(const std::filesystem::path& path) {
  Opened opened;
  HANDLE handle = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    opened.refusal = Refusal::Other;
    opened.reason = std::system_category().message(static_cast<int>(::GetLastError()));
    return opened;
  }
  BY_HANDLE_FILE_INFORMATION info;
  if (!::GetFileInformationByHandle(handle, &info)) {
    opened.refusal = Refusal::Other;
    opened.reason = std::system_category().message(static_cast<int>(::GetLastError()));
    ::CloseHandle(handle);
    return opened;
  }
  // Opened with FILE_FLAG_OPEN_REPARSE_POINT, a link is the link itself.
  if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    ::CloseHandle(handle);
    opened.refusal = Refusal::Link;
    return opened;
  }
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
      ::GetFileType(handle) != FILE_TYPE_DISK) {
    ::CloseHandle(handle);
    opened.refusal = Refusal::NotRegular;
    return opened;
  }
  FileIdentity identity{
      info.dwVolumeSerialNumber,
      (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
  opened.file.reset(new FileReader(reinterpret_cast<std::intptr_t>(handle), identity));
  return opened;
}

FileReader::~FileReader() {
  ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

std::size_t FileReader::read(char* buffer, std::size_t length) {
  DWORD got = 0;
  DWORD want = static_cast<DWORD>(std::min<std::size_t>(length, 1u << 30));
  if (!::ReadFile(reinterpret_cast<HANDLE>(handle_), buffer, want, &got, nullptr)) {
    throwLastError("read");
  }
  return got;
}

std::string replaceFileWhole(const std::filesystem::path& path, std::string_view text) {
  const std::filesystem::path temp = path.string() + ".new";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out << text;
    out.flush();
    if (!out) return "cannot write " + temp.string();
  }
  if (!::MoveFileExW(temp.wstring().c_str(), path.wstring().c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    std::error_code ec;
    std::filesystem::remove(temp, ec);
    return "cannot replace " + path.string();
  }
  return {};
}

bool mayWrite(const std::filesystem::path& path) {
  return ::_waccess(path.wstring().c_str(), 2) == 0;
}

}  // namespace agent

#endif  // _WIN32
