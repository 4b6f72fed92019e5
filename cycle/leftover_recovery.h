// Recovery from leftover local objects. The views and temporary tables the
// stages create are never dropped by the stage that makes them, so from the
// second time on creating one fails because it exists. A statement whose
// error names such an object has that object dropped on the local
// connection and is then run once more; a second failure goes on as it is.
#ifndef AGENT_CYCLE_LEFTOVER_RECOVERY_H_
#define AGENT_CYCLE_LEFTOVER_RECOVERY_H_

#include <memory>
#include <optional>
#include <string>

#include "cycle/journal.h"
#include "cycle/statement_watch.h"
#include "db/connection.h"
#include "db/error.h"

namespace agent {

struct LeftoverObject {
  const char* name;  // searched in the error description, case-sensitively
  const char* drop;  // the statement that drops it on the local connection
};

// The drop statement for the first leftover object named in description
// (the table is searched in order: "#TMPUPRECEIPT" before "#TMPUPREC"), or
// nullopt when it names none.
std::optional<LeftoverObject> leftoverNamedIn(const std::string& description);

// A Connection decorator: statements go to target; an error naming a
// leftover object (other than the generic failure, which ends the cycle
// silently) drops the object on local and runs the statement again once.
// An error of the drop itself propagates. target and local must outlive it.
// With a watch, a statement sent after a stop was asked for throws
// StopRequested instead (ROLLBACK excepted, so that a payment's
// transaction is always undone whole), and a failing statement is noted
// there under side ("local" or "remote"), as is the watch.
class RecoveringConnection : public ConnectionWrapper {
 public:
  RecoveringConnection(Connection& target, Connection& local, Journal& journal,
                       StatementWatch* watch = nullptr, const char* side = "")
      : ConnectionWrapper(target), local_(local), journal_(journal), watch_(watch), side_(side) {}

  void execute(const std::string& sql) override;
  std::unique_ptr<Recordset> query(const std::string& sql,
                                   Cursor cursor = Cursor::Forward) override;

 private:
  // Drops the object the error names; false when it names none.
  bool dropLeftover(const AgentError& error);
  // Throws StopRequested when a stop was asked for and sql may be held back.
  void checkStop(const std::string& sql) const;
  void noteFailure(const std::string& sql);
  Connection& local_;
  Journal& journal_;
  StatementWatch* watch_;
  const char* side_;
};

}  // namespace agent

#endif  // AGENT_CYCLE_LEFTOVER_RECOVERY_H_
