// The one error type of the agent. Every failure a cycle can meet (database,
// file, conversion) is an AgentError with the number and description that
// the cycle's handler decides by; DbError adds what the driver reported.
#ifndef AGENT_DB_ERROR_H_
#define AGENT_DB_ERROR_H_

#include <stdexcept>
#include <string>

namespace agent {

// Error numbers the agent produces or decides by (ADO's HRESULTs as signed
// 32-bit numbers).
namespace error_number {
constexpr long kGenericFailure = -2147467259;      // 0x80004005
constexpr long kObjectNotFound = -2147217865;      // 42S02
constexpr long kIntegrityViolation = -2147217873;  // 23xxx
constexpr long kDataConversion = -2147217913;      // 22xxx
constexpr long kSyntaxOrAccess = -2147217900;      // 42xxx, 37000
constexpr long kObjectClosed = -2146824584;        // statement on a closed connection
constexpr long kItemNotFound = -2146825023;        // field name not in the recordset
constexpr long kFileError = 75;                    // path/file access error
constexpr long kOverflow = 6;
constexpr long kTypeMismatch = 13;
}  // namespace error_number

class AgentError : public std::runtime_error {
 public:
  AgentError(long number, std::string description)
      : std::runtime_error(description), number_(number), description_(std::move(description)) {}

  long number() const { return number_; }
  const std::string& description() const { return description_; }

 private:
  long number_;
  std::string description_;
};

class DbError : public AgentError {
 public:
  // number is derived from sqlstate by numberForSqlState().
  DbError(std::string sqlstate, long nativeCode, std::string description);

  const std::string& sqlstate() const { return sqlstate_; }
  long nativeCode() const { return nativeCode_; }

  static long numberForSqlState(const std::string& sqlstate);

 private:
  std::string sqlstate_;
  long nativeCode_;
};

// "Operation is not allowed when the object is closed.": a statement sent
// on a connection that was never opened.
AgentError closedConnectionError();

}  // namespace agent

#endif  // AGENT_DB_ERROR_H_
