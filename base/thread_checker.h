// ThreadChecker: says whether a call comes from the thread that owns an
// object, for members that only that thread may touch. The owner is the
// thread that made the checker. Checked with assert(), so a debug or
// sanitizer build stops at the first call from elsewhere.
#ifndef AGENT_BASE_THREAD_CHECKER_H_
#define AGENT_BASE_THREAD_CHECKER_H_

#include <thread>

namespace agent {

class ThreadChecker {
 public:
  bool calledOnOwner() const { return std::this_thread::get_id() == owner_; }

 private:
  const std::thread::id owner_ = std::this_thread::get_id();
};

}  // namespace agent

#endif  // AGENT_BASE_THREAD_CHECKER_H_
