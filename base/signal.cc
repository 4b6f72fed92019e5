#include "base/signal.h"

#include <algorithm>
#include <cassert>

namespace agent {

Signal::~Signal() {
  std::lock_guard<std::mutex> lock(mutex_);
  assert(hooks_.empty());
}

void Signal::raise() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (raised_.load(std::memory_order_relaxed)) return;
    raised_.store(true, std::memory_order_release);
    // Run under the lock, so that a hook's destructor waits for its run.
    for (Hook* hook : hooks_) hook->run_();
  }
  raisedCv_.notify_all();
}

void Signal::wait() const {
  std::unique_lock<std::mutex> lock(mutex_);
  raisedCv_.wait(lock, [this] { return raised(); });
}

bool Signal::waitFor(std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return raisedCv_.wait_for(lock, timeout, [this] { return raised(); });
}

Signal::Hook::Hook(const Signal& signal, std::function<void()> run)
    : signal_(signal), run_(std::move(run)) {
  std::lock_guard<std::mutex> lock(signal_.mutex_);
  if (signal_.raised()) {
    run_();
  } else {
    signal_.hooks_.push_back(this);
  }
}

Signal::Hook::~Hook() {
  std::lock_guard<std::mutex> lock(signal_.mutex_);
  std::erase(signal_.hooks_, this);
}

}  // namespace agent
