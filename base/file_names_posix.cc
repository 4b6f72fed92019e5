// File names on POSIX systems: the native name is the UTF-8 text.
#ifndef _WIN32

#include "base/file_names.h"

namespace agent {

std::FILE* openFile(const std::filesystem::path& path, const char* mode) {
  return std::fopen(path.c_str(), mode);
}

std::string remoteDriverFileName(const std::filesystem::path& path) {
  return agentFileName(path);
}

std::string agentFileName(const std::filesystem::path& path) {
  return pathText(std::filesystem::absolute(path).lexically_normal());
}

}  // namespace agent

#endif  // !_WIN32
