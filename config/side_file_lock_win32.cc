// Side file locks on Windows: LockFileEx on one byte far past the holder's
// line, exclusive and without waiting, so that a waiter can still read the
// line (a locked range cannot be read through another handle). The lock
// goes with the handle, and the system closes the handle when the process
// ends.
#include <windows.h>

#include "config/windows_message.h"

#include "config/side_file_lock.h"

namespace agent {

namespace {

constexpr DWORD kLockedByteHigh = 0;
constexpr DWORD kLockedByteLow = 0x40000000;  // 1 GiB: never part of the line

HANDLE fileOf(std::intptr_t handle) {
  return reinterpret_cast<HANDLE>(handle);
}

}  // namespace

std::unique_ptr<SideFileLock::Platform> SideFileLock::Platform::open(
    const std::filesystem::path& path, std::string* error) {
  // Shared read and write: a waiter must be able to open the file to find
  // the lock taken and read who holds it.
  HANDLE file =
      CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    *error = windowsMessage(GetLastError());
    return nullptr;
  }
  auto platform = std::make_unique<Platform>();
  platform->handle = reinterpret_cast<std::intptr_t>(file);
  return platform;
}

SideFileLock::Platform::~Platform() {
  if (handle != -1) CloseHandle(fileOf(handle));
}

SideFileLock::Platform::Try SideFileLock::Platform::tryLock(std::string* error) {
  OVERLAPPED at{};
  at.Offset = kLockedByteLow;
  at.OffsetHigh = kLockedByteHigh;
  if (LockFileEx(fileOf(handle), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                 &at)) {
    return Try::Locked;
  }
  const DWORD code = GetLastError();
  if (code == ERROR_LOCK_VIOLATION || code == ERROR_IO_PENDING) return Try::Busy;
  *error = windowsMessage(code);
  return Try::Failed;
}

void SideFileLock::Platform::writeText(const std::string& text) {
  HANDLE file = fileOf(handle);
  LARGE_INTEGER zero{};
  if (!SetFilePointerEx(file, zero, nullptr, FILE_BEGIN) || !SetEndOfFile(file)) return;
  DWORD written = 0;
  WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

std::string SideFileLock::Platform::readText() {
  char buffer[1024];
  OVERLAPPED at{};
  DWORD n = 0;
  if (!ReadFile(fileOf(handle), buffer, sizeof buffer, &n, &at)) return std::string();
  return std::string(buffer, n);
}

std::string thisAgentIdentity(const std::filesystem::path& home) {
  wchar_t host[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
  if (!GetComputerNameW(host, &size)) size = 0;
  const std::u8string folder = home.u8string();
  const std::u8string name = std::filesystem::path(std::wstring(host, size)).u8string();
  return "program folder " + std::string(folder.begin(), folder.end()) + ", host " +
         std::string(name.begin(), name.end()) + ", process " +
         std::to_string(GetCurrentProcessId());
}

}  // namespace agent
