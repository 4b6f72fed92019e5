#ifndef _WIN32

#include <cstdlib>

#include "base/environment.h"

namespace agent {

std::optional<std::string> environmentVariable(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

}  // namespace agent

#endif  // !_WIN32
