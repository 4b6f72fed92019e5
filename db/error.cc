#include "db/error.h"

namespace agent {

DbError::DbError(std::string sqlstate, long nativeCode, std::string description)
    : AgentError(numberForSqlState(sqlstate), std::move(description)),
      sqlstate_(std::move(sqlstate)),
      nativeCode_(nativeCode) {}

long DbError::numberForSqlState(const std::string& s) {
  using namespace error_number;
  if (s == "42S02") return kObjectNotFound;
  auto cls = s.substr(0, 2);
  if (cls == "23") return kIntegrityViolation;
  if (cls == "22") return kDataConversion;
  if (cls == "42" || s == "37000") return kSyntaxOrAccess;
  return kGenericFailure;  // 08, 28, HY, IM and anything unmapped
}

AgentError closedConnectionError() {
  return AgentError(error_number::kObjectClosed,
                    "Operation is not allowed when the object is closed.");
}

}  // namespace agent
