// On POSIX systems main's arguments are the locale's bytes, UTF-8 here.
#ifndef _WIN32

#include <string>
#include <vector>

namespace agent {

std::vector<std::string> platformArguments(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

}  // namespace agent

#endif  // !_WIN32
