#include "db/growing_file.h"

namespace agent {

void GrowingFile::grown(std::uint64_t bytes) {
  {
    MutexLock lock(mutex_);
    if (ended_ || bytes <= bytes_) return;
    bytes_ = bytes;
  }
  changed_.notifyAll();
}

void GrowingFile::finish() {
  {
    MutexLock lock(mutex_);
    if (ended_) return;
    ended_ = true;
  }
  changed_.notifyAll();
}

void GrowingFile::fail(const std::string& reason) {
  {
    MutexLock lock(mutex_);
    if (ended_) return;
    ended_ = true;
    failure_ = reason.empty() ? "the export failed" : reason;
  }
  changed_.notifyAll();
}

bool GrowingFile::ended() const {
  MutexLock lock(mutex_);
  return ended_;
}

bool GrowingFile::failed() const {
  MutexLock lock(mutex_);
  return !failure_.empty();
}

GrowingFile::Extent GrowingFile::waitBeyond(std::uint64_t offset) const {
  const auto deadline = std::chrono::steady_clock::now() + stallLimit_;
  MutexLock lock(mutex_);
  while (!ended_ && bytes_ <= offset && changed_.waitUntil(deadline)) {
  }
  if (!ended_ && bytes_ <= offset) {
    return Extent{
        bytes_, true,
        "the export file did not grow for " + std::to_string(stallLimit_.count()) + " ms"};
  }
  return Extent{bytes_, ended_, failure_};
}

}  // namespace agent
