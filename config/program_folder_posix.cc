// The executable's path on Linux: the kernel's link to it.
#ifndef _WIN32

#include "config/program_folder.h"

namespace agent {

std::filesystem::path executablePath(const char* argv0) {
  std::error_code ec;
  std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (!ec) return self;
  return std::filesystem::absolute(argv0);
}

}  // namespace agent

#endif  // !_WIN32
