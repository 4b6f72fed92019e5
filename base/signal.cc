#include "base/signal.h"

#include <algorithm>
#include <cassert>

namespace agent {

Signal::~Signal() {
  MutexLock lock(mutex_);
  assert(hooks_.empty());
}

void Signal::raise() {
  {
    MutexLock lock(mutex_);
    if (raised_.load(std::memory_order_relaxed)) return;
    raised_.store(true, std::memory_order_release);
    // Run under the lock, so that a hook's destructor waits for its run.
    for (Hook* hook : hooks_) hook->run_();
  }
  raisedCv_.notifyAll();
}

void Signal::wait() const {
  MutexLock lock(mutex_);
  while (!raised()) raisedCv_.wait();
}

bool Signal::waitFor(std::chrono::milliseconds timeout) const {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  MutexLock lock(mutex_);
  while (!raised() && raisedCv_.waitUntil(deadline)) {
  }
  return raised();
}

Signal::Hook::Hook(const Signal& signal, std::function<void()> run)
    : signal_(signal), run_(std::move(run)) {
  MutexLock lock(signal_.mutex_);
  if (signal_.raised()) {
    run_();
  } else {
    signal_.hooks_.push_back(this);
  }
}

Signal::Hook::~Hook() {
  MutexLock lock(signal_.mutex_);
  std::erase(signal_.hooks_, this);
}

}  // namespace agent
