// What a cycle's two connections note for its error handler: the side and
// the first words of the statement that failed, so that the journal line
// says where a cycle ended; and the stop flag, which every statement looks
// at before it is sent.
#ifndef AGENT_CYCLE_STATEMENT_WATCH_H_
#define AGENT_CYCLE_STATEMENT_WATCH_H_

#include <map>
#include <string>

#include "base/mutex.h"
#include "base/signal.h"
#include "base/thread_annotations.h"

namespace agent {

// The start of a statement that names what it does but none of its values
// (they may hold personal data): at most five words, ending before the
// first word that holds a quote or "=", and cut at a "(" (the column list
// and values of an insert). "insert into paygate(fadmno, ...) values(...)"
// gives "insert into paygate".
std::string statementHead(const std::string& sql);

// Shared by the cycle's thread and a streamed load's thread, whose remote
// statements note their failures here as well (a stop fails both sides at
// once): what they note is guarded by a mutex.
class StatementWatch {
 public:
  // The last statement that failed: "local" or "remote" (empty when none
  // failed), and its head.
  struct Failure {
    std::string side;
    std::string statement;
  };

  // The cycle's stop, raised from another thread to end the cycle (the
  // agent's); null: never stopped. Set before the cycle starts.
  const Signal* stop = nullptr;
  // The databases the two sides work in, for the journal line. Set before
  // the cycle starts.
  std::string localDatabase;
  std::string remoteDatabase;
  // The server the remote connection reached, "host:port" as the account
  // lists it (one node of a cluster); empty: not known. Set when the
  // remote connection is opened, before any stage.
  std::string remoteNode;

  bool stopRequested() const { return stop != nullptr && stop->raised(); }

  void noteFailure(const std::string& side, const std::string& statement) LOCKS_EXCLUDED(mutex_);
  Failure failure() const LOCKS_EXCLUDED(mutex_);
  void clearFailure() LOCKS_EXCLUDED(mutex_);

  // The leftover objects of earlier runs dropped during the cycle, by
  // name, and how often: housekeeping, journaled once at the cycle's end.
  void noteLeftoverDropped(const std::string& name) LOCKS_EXCLUDED(mutex_);
  std::map<std::string, int> leftoversDropped() const LOCKS_EXCLUDED(mutex_);

 private:
  mutable Mutex mutex_;
  Failure failure_ GUARDED_BY(mutex_);
  std::map<std::string, int> leftoversDropped_ GUARDED_BY(mutex_);
};

}  // namespace agent

#endif  // AGENT_CYCLE_STATEMENT_WATCH_H_
