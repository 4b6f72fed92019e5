#include "app/core/cycle_thread.h"

#include <cassert>

namespace agent {

void CycleThread::start(std::function<void()> body) {
  assert(!thread_.joinable());
  returned_.store(false);
  thread_ = std::thread([this, body = std::move(body)] {
    body();
    returned_.store(true);
  });
}

void CycleThread::join() {
  if (thread_.joinable()) thread_.join();
}

}  // namespace agent
