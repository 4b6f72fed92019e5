// The thread a window's cycle runs on. It is joined before its owner goes
// away, so the agent, the journal and the connections the cycle uses are
// never destroyed under it.
#ifndef AGENT_APP_CORE_CYCLE_THREAD_H_
#define AGENT_APP_CORE_CYCLE_THREAD_H_

#include <atomic>
#include <functional>
#include <thread>

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
  bool bodyReturned() const { return returned_.load(); }
  // Waits for the thread to end; nothing when none was started.
  void join();

 private:
  std::thread thread_;
  std::atomic<bool> returned_{false};
};

}  // namespace agent

#endif  // AGENT_APP_CORE_CYCLE_THREAD_H_
