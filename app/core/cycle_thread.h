// The thread a window's cycle runs on. The window model owns it: only the
// window's thread (the one that made it) starts it, for one cycle or call
// at a time once the previous one was joined, and joins it, at the latest
// in its destructor, so the agent, the journal and the connections the
// cycle uses are never destroyed under it. The thread has no stop of its
// own: its owner stops the cycle through the agent (Agent::requestStop),
// whose statements then end, and waits for the body to return.
#ifndef AGENT_APP_CORE_CYCLE_THREAD_H_
#define AGENT_APP_CORE_CYCLE_THREAD_H_

#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include "base/signal.h"
#include "base/thread_checker.h"

namespace agent {

class CycleThread {
 public:
  CycleThread() = default;
  ~CycleThread() { join(); }
  CycleThread(const CycleThread&) = delete;
  CycleThread& operator=(const CycleThread&) = delete;

  // Runs body on a new thread. The previous one must have been joined.
  void start(std::function<void()> body);
  // Whether a thread was started and not yet joined.
  bool started() const { return thread_.joinable(); }
  // Whether the body has returned (the thread may still be ending).
  bool bodyReturned() const { return returned_ != nullptr && returned_->raised(); }
  // Waits up to timeout for the body to return (at once when none was
  // started); whether it has.
  bool waitReturned(std::chrono::milliseconds timeout) const;
  // Waits for the thread to end; nothing when none was started. From the
  // owner, or from whoever destroys the owner.
  void join();

 private:
  ThreadChecker owner_;
  // Raised by the thread as the body returns; one per start.
  std::unique_ptr<Signal> returned_;
  std::thread thread_;
};

}  // namespace agent

#endif  // AGENT_APP_CORE_CYCLE_THREAD_H_
