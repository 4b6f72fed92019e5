// LocalAhead: local work a later stage needs, done on a second local
// connection while the stages before it run. The fee-balance chain, for
// one, fills its temporary tables there while the marks are exported; the
// stage then takes that connection, whose temporary tables hold the result,
// and reads them as if it had made them itself.
//
// Work that failed is no error of its own: the stage does it again on the
// cycle's connection, where a failure is reported as it always was.
#ifndef AGENT_CYCLE_LOCAL_AHEAD_H_
#define AGENT_CYCLE_LOCAL_AHEAD_H_

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "cycle/cycle_context.h"
#include "db/connection.h"

namespace agent {

// Opens another connection to the local database, ready for statements.
using LocalConnector = std::function<std::unique_ptr<Connection>()>;
// The work itself, run on the second connection.
using AheadWork = void (*)(Connection& local, const std::string& univCode);

class LocalAhead {
 public:
  // Opens the connection and runs work on a thread of its own.
  LocalAhead(LocalConnector connect, AheadWork work, std::string univCode);
  // Cancels work still running and waits for it to end.
  ~LocalAhead();
  LocalAhead(const LocalAhead&) = delete;
  LocalAhead& operator=(const LocalAhead&) = delete;

  // Waits for the work. Returns the connection that holds its result, or
  // null when it failed, with the reason in *why.
  std::unique_ptr<Connection> take(std::string* why);
  // Whether the work has ended (take() would not wait).
  bool ended() const { return ended_; }

 private:
  void run(const LocalConnector& connect, AheadWork work, const std::string& univCode);

  std::atomic<bool> ended_{false};
  std::mutex mutex_;  // guards connection_ against a cancel from the destructor
  std::unique_ptr<Connection> connection_;
  std::string error_;  // set by the thread; read after it was joined
  std::thread thread_;
};

// The local connection that holds the result of the running stage's work:
// the second connection it was done on ahead (kept in ahead, which must
// outlive the use), or else the cycle's own, on which work is done now.
// Work ahead that failed is journalled as a warning naming what.
Connection& localWithWorkDone(CycleContext& ctx, const std::string& what, AheadWork work,
                              std::unique_ptr<Connection>& ahead);

}  // namespace agent

#endif  // AGENT_CYCLE_LOCAL_AHEAD_H_
