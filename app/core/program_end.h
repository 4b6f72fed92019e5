// Thrown where the program must end with a message: the settings file is
// missing, the database type is empty, a local connection error at start,
// the CSV folder cannot be made. The entry point (window or headless
// runner) shows the message and ends the program.
#ifndef AGENT_APP_CORE_PROGRAM_END_H_
#define AGENT_APP_CORE_PROGRAM_END_H_

#include <stdexcept>
#include <string>

namespace agent {

class ProgramEnd : public std::runtime_error {
 public:
  explicit ProgramEnd(const std::string& message) : std::runtime_error(message) {}
  const std::string message() const { return what(); }
};

}  // namespace agent

#endif  // AGENT_APP_CORE_PROGRAM_END_H_
