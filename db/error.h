// DbError: an AgentError raised by a database driver, with the SQLSTATE and
// native code it reported (base/errors.h says which error is for what).
#ifndef AGENT_DB_ERROR_H_
#define AGENT_DB_ERROR_H_

#include <string>

#include "base/errors.h"

namespace agent {

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
