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

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "base/mutex.h"
#include "base/signal.h"
#include "base/thread_annotations.h"
#include "base/thread_checker.h"
#include "cycle/cycle_context.h"
#include "db/connection.h"

namespace agent {

// Opens another connection to the local database, ready for statements.
using LocalConnector = std::function<std::unique_ptr<Connection>()>;

// What work ahead starts from.
struct AheadInput {
  std::string univCode;
  // Whether change detection keeps the fingerprint of the local rows the
  // stage's table is computed from (see upload/source_fingerprint.h), and
  // the one its state vouches for (empty when none).
  bool fingerprints = false;
  std::string vouched;
  // What else the stage's table depends on, known on the cycle's thread
  // (whether fines are made, the year the files carry): the fingerprint's
  // first part.
  std::string label;
};
// What work ahead reports beside the connection that holds its result.
struct AheadSources {
  // The fingerprint of the local rows the result was made from; empty when
  // none vouches for them (none taken, one that stopped at a changed table,
  // or rows that changed while the result was made).
  std::string fingerprint;
  // The result was left out: its rows are those the state vouches for.
  bool skipped = false;
};
// The work itself, run on the second connection.
using AheadWork = AheadSources (*)(Connection& local, const AheadInput& input);

// Makes a stage's input for its work, on the cycle's thread before the work
// starts (a stage without one gets the institution alone).
using AheadInputOf = AheadInput (*)(const CycleContext& ctx);

// Owned by the cycle's WorkAhead (cycle/work_ahead.h), which makes each on
// its own thread as the cycle starts and alone calls release() and
// releaseAfter(); the stage it serves calls ended() and take() through its
// turn, on the same thread. The work's thread is joined by take() or, for work no stage took
// (a cycle that ended early), by the destructor, which first cancels it:
// the stop is raised, which wakes work still held and cancels the
// connection of work running.
class LocalAhead {
 public:
  // Opens the connection and runs work on a thread of its own; held: only
  // once release() (or take()) was called.
  LocalAhead(LocalConnector connect, AheadWork work, AheadInput input, bool held = false);
  // Cancels work still running and waits for it to end.
  ~LocalAhead();
  LocalAhead(const LocalAhead&) = delete;
  LocalAhead& operator=(const LocalAhead&) = delete;

  // Waits for the work. Returns the connection that holds its result, or
  // null when it failed, with the reason in *why; *sources what it reported.
  std::unique_ptr<Connection> take(std::string* why, AheadSources* sources);
  // Lets held work run.
  void release();
  // Lets held work run once earlier's work has ended (or on release()).
  // At most once.
  void releaseAfter(const LocalAhead& earlier);
  // Whether the work has ended (take() would not wait).
  bool ended() const { return ended_->raised(); }

 private:
  void run(const LocalConnector& connect, AheadWork work, const AheadInput& input);

  // Waits until the work may run; false when it was cancelled meanwhile.
  bool waitForRelease() LOCKS_EXCLUDED(mutex_);
  // Wakes waitForRelease() after a change it looks at.
  void wake() LOCKS_EXCLUDED(mutex_);
  // On the stop: breaks off the work's statement and wakes a held wait.
  void cancel() LOCKS_EXCLUDED(mutex_);

  ThreadChecker owner_;
  // Raised by the destructor: the work is cancelled.
  Signal stop_;
  // Raised as the work's thread ends. Shared with work released after this
  // one, which may outlive it.
  std::shared_ptr<Signal> ended_ = std::make_shared<Signal>();
  Mutex mutex_;
  CondVar released_{mutex_};
  bool held_ GUARDED_BY(mutex_);
  // The end of the work this one is released after; null when none.
  std::shared_ptr<const Signal> after_ GUARDED_BY(mutex_);
  std::unique_ptr<Connection> connection_ GUARDED_BY(mutex_);
  // Written by the work's thread, read by the owner once it was joined.
  std::string error_;
  AheadSources sources_;
  // The stop wakes a held wait and breaks off a running statement.
  Signal::Hook cancelOnStop_{stop_, [this] { cancel(); }};
  // Made by releaseAfter(), on the owner's thread; wakes the wait.
  std::optional<Signal::Hook> wakeAfter_;
  std::thread thread_;  // last: started once the members above exist
};

// The local connection that holds the result of the running stage's work:
// the second connection it was done on ahead (kept in ahead, which must
// outlive the use), or else the cycle's own, on which work is done now
// with input. Work ahead that failed is journalled as a warning naming
// what. *sources: what the work reported (may be null).
Connection& localWithWorkDone(CycleContext& ctx, const std::string& what, AheadWork work,
                              const AheadInput& input, std::unique_ptr<Connection>& ahead,
                              AheadSources* sources = nullptr);

}  // namespace agent

#endif  // AGENT_CYCLE_LOCAL_AHEAD_H_
