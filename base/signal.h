// Signal: a flag raised once and never lowered, which threads wait for and
// are woken by. It is how a thread of the cycle is told to stop (the cycle's
// stop, the cancel of work ahead) and how the end of a thread's work is
// made known (work ahead released after the work before it, a window
// waiting for its cycle): the owner raises, the thread looks or waits, and
// nobody polls.
//
// A Hook runs a function when the signal is raised, for a wait that has a
// condition of its own beside the signal (wake its condition variable) or a
// stop that must reach something blocked (cancel a connection).
#ifndef AGENT_BASE_SIGNAL_H_
#define AGENT_BASE_SIGNAL_H_

#include <atomic>
#include <chrono>
#include <functional>
#include <vector>

#include "base/mutex.h"
#include "base/thread_annotations.h"

namespace agent {

class Signal {
 public:
  Signal() = default;
  // No hook may outlive the signal.
  ~Signal();
  Signal(const Signal&) = delete;
  Signal& operator=(const Signal&) = delete;

  // Raises the signal, from any thread: the hooks run on this thread before
  // it returns, and every wait returns. Once raised, later calls do
  // nothing.
  void raise() LOCKS_EXCLUDED(mutex_);
  bool raised() const { return raised_.load(std::memory_order_acquire); }
  // Waits until the signal is raised.
  void wait() const LOCKS_EXCLUDED(mutex_);
  // Waits until the signal is raised or timeout has passed; whether it was
  // raised.
  bool waitFor(std::chrono::milliseconds timeout) const LOCKS_EXCLUDED(mutex_);

  // Runs run once when the signal is raised, while the hook lives; at once,
  // on the constructing thread, when it is raised already. The destructor
  // waits for a run in progress. run must not make or end a hook on the
  // same signal, nor take a lock that is held where hooks on it are made or
  // ended.
  class Hook {
   public:
    Hook(const Signal& signal, std::function<void()> run);
    ~Hook();
    Hook(const Hook&) = delete;
    Hook& operator=(const Hook&) = delete;

   private:
    friend class Signal;
    const Signal& signal_;
    std::function<void()> run_;
  };

 private:
  mutable Mutex mutex_;
  mutable CondVar raisedCv_{mutex_};
  // Written with mutex_ held; read without it by raised().
  std::atomic<bool> raised_{false};
  mutable std::vector<Hook*> hooks_ GUARDED_BY(mutex_);
};

}  // namespace agent

#endif  // AGENT_BASE_SIGNAL_H_
