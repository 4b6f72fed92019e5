// Environment variables as UTF-8 text (environment_posix.cc,
// environment_win32.cc, where the environment is UTF-16).
#ifndef AGENT_BASE_ENVIRONMENT_H_
#define AGENT_BASE_ENVIRONMENT_H_

#include <optional>
#include <string>

namespace agent {

// The variable's value; nullopt when it is not set.
std::optional<std::string> environmentVariable(const char* name);

}  // namespace agent

#endif  // AGENT_BASE_ENVIRONMENT_H_
