#include "app/core/cycle_thread.h"

#include <cassert>

namespace agent {

void CycleThread::start(std::function<void()> body) {
  assert(owner_.calledOnOwner());
  assert(!thread_.joinable());
  returned_ = std::make_unique<Signal>();
  thread_ = std::thread([returned = returned_.get(), body = std::move(body)] {
    body();
    returned->raise();
  });
}

bool CycleThread::waitReturned(std::chrono::milliseconds timeout) const {
  return returned_ == nullptr || returned_->waitFor(timeout);
}

void CycleThread::join() {
  if (thread_.joinable()) thread_.join();
}

}  // namespace agent
