// The executable's path on Windows, in full even past MAX_PATH.
#ifdef _WIN32

#include <windows.h>

#include <string>

#include "config/program_folder.h"

namespace agent {

std::filesystem::path executablePath(const char* argv0) {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) break;
    if (n < buffer.size()) return std::filesystem::path(buffer.substr(0, n));
    buffer.resize(buffer.size() * 2);  // truncated: try a larger buffer
  }
  return std::filesystem::absolute(argv0);
}

}  // namespace agent

#endif  // _WIN32
