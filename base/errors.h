// The agent's exception types, and which is for what. Nothing else is
// thrown across a module boundary.
//
//   AgentError  a failure a cycle can meet (database, file, conversion,
//               settings): a number and a description that the cycle's
//               handler decides by. DbError (db/error.h) derives from it and
//               adds what the driver reported.
//   CycleAbort  a stage has already told the user why the cycle must end
//               ("Duplicate Rec. No. found"): the cycle ends without the end
//               stamp and without a further message.
//   StopRequested  the program was asked to stop (a signal, Exit): the
//               cycle ends at once, says in the journal which stage it
//               stopped, and shows no message.
//   ProgramEnd  the program must end with a message: no settings file, no
//               database type, a local connection error at start, a CSV
//               folder that cannot be made. The entry point (window or
//               headless runner) shows the message and ends the program.
#ifndef AGENT_BASE_ERRORS_H_
#define AGENT_BASE_ERRORS_H_

#include <stdexcept>
#include <string>
#include <utility>

namespace agent {

// Error numbers the agent produces or decides by (ADO's HRESULTs and Visual
// Basic's run-time error numbers, as signed 32-bit numbers).
namespace error_number {
constexpr long kGenericFailure = -2147467259;      // 0x80004005
constexpr long kObjectNotFound = -2147217865;      // 42S02
constexpr long kIntegrityViolation = -2147217873;  // 23xxx
constexpr long kDataConversion = -2147217913;      // 22xxx
constexpr long kSyntaxOrAccess = -2147217900;      // 42xxx, 37000
constexpr long kObjectClosed = -2146824584;        // statement on a closed connection
constexpr long kItemNotFound = -2146825023;        // field name not in the recordset
constexpr long kInvalidArgument = 5;               // invalid procedure call or argument
constexpr long kOverflow = 6;
constexpr long kTypeMismatch = 13;
constexpr long kFileError = 75;      // path/file access error
constexpr long kInternalError = 51;  // a failure that is no agent error (a library fault)
}  // namespace error_number

class AgentError : public std::runtime_error {
 public:
  AgentError(long number, std::string description)
      : std::runtime_error(description), number_(number), description_(std::move(description)) {}

  long number() const { return number_; }
  const std::string& description() const { return description_; }
  // "Error <number>: <description>", as lines and messages show it.
  std::string text() const { return "Error " + std::to_string(number_) + ": " + description_; }

 private:
  long number_;
  std::string description_;
};

class CycleAbort : public std::runtime_error {
 public:
  explicit CycleAbort(const std::string& reason) : std::runtime_error(reason) {}
};

class StopRequested : public std::runtime_error {
 public:
  StopRequested() : std::runtime_error("stop requested") {}
};

class ProgramEnd : public std::runtime_error {
 public:
  explicit ProgramEnd(const std::string& message) : std::runtime_error(message) {}
  std::string message() const { return what(); }
};

}  // namespace agent

#endif  // AGENT_BASE_ERRORS_H_
