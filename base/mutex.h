// A mutex, the scope that holds it and a condition variable on it, in the
// form clang's thread safety analysis follows (-Wthread-safety;
// scripts/thread-safety-check.sh): a member marked GUARDED_BY(mutex) read
// or written without the mutex held, or a function that needs it called
// without it, is a compile error there. std::mutex itself carries no such
// marks in libstdc++, so the agent's code locks through these.
#ifndef AGENT_BASE_MUTEX_H_
#define AGENT_BASE_MUTEX_H_

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "base/thread_annotations.h"

namespace agent {

class CAPABILITY("mutex") Mutex {
 public:
  Mutex() = default;
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  void lock() ACQUIRE() { mutex_.lock(); }
  void unlock() RELEASE() { mutex_.unlock(); }
  // Tells the analysis the caller holds the mutex where it cannot see it
  // (code called back by a library while a lock is held); checks nothing.
  void assertHeld() ASSERT_CAPABILITY(this) {}

 private:
  friend class CondVar;
  std::mutex mutex_;
};

// Holds mutex from its construction to the end of its scope.
class SCOPED_CAPABILITY MutexLock {
 public:
  explicit MutexLock(Mutex& mutex) ACQUIRE(mutex) : mutex_(mutex) { mutex_.lock(); }
  ~MutexLock() RELEASE() { mutex_.unlock(); }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

 private:
  Mutex& mutex_;
};

// A condition variable whose waits are made with its mutex held (the wait
// lets it go meanwhile). Callers wait in a loop on their own condition, so
// that the analysis sees the guarded members read with the mutex held. (The
// analysis cannot tie the mutex given here to the caller's, so the waits
// carry no annotation of their own.)
class CondVar {
 public:
  explicit CondVar(Mutex& mutex) : mutex_(mutex) {}
  CondVar(const CondVar&) = delete;
  CondVar& operator=(const CondVar&) = delete;

  // Waits for a notification (or a spurious wake-up).
  void wait() {
    std::unique_lock<std::mutex> lock(mutex_.mutex_, std::adopt_lock);
    cv_.wait(lock);
    lock.release();
  }
  // The same, up to deadline; false once it has passed.
  bool waitUntil(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock<std::mutex> lock(mutex_.mutex_, std::adopt_lock);
    const bool woken = cv_.wait_until(lock, deadline) == std::cv_status::no_timeout;
    lock.release();
    return woken;
  }
  void notifyAll() { cv_.notify_all(); }

 private:
  Mutex& mutex_;
  std::condition_variable cv_;
};

}  // namespace agent

#endif  // AGENT_BASE_MUTEX_H_
