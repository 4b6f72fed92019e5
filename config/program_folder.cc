#include "config/program_folder.h"

#include <cstdlib>

#ifdef _WIN32
#include <windows.h>
#endif

namespace agent {

namespace {

std::filesystem::path executablePath(const char* argv0) {
#ifdef _WIN32
  wchar_t buffer[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
  if (n > 0 && n < MAX_PATH) return std::filesystem::path(std::wstring(buffer, n));
#else
  std::error_code ec;
  std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (!ec) return self;
#endif
  return std::filesystem::absolute(argv0);
}

}  // namespace

std::filesystem::path programFolder(const std::string& homeOption, const char* argv0) {
  if (!homeOption.empty()) return std::filesystem::absolute(homeOption);
  if (const char* env = std::getenv("UPLOAD_AGENT_HOME"); env != nullptr && *env != '\0') {
    return std::filesystem::absolute(env);
  }
  return executablePath(argv0).parent_path();
}

}  // namespace agent
