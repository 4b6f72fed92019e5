#include "db/growing_file.h"

namespace agent {

void GrowingFile::grown(std::uint64_t bytes) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (ended_ || bytes <= bytes_) return;
    bytes_ = bytes;
  }
  changed_.notify_all();
}

void GrowingFile::finish() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (ended_) return;
    ended_ = true;
  }
  changed_.notify_all();
}

void GrowingFile::fail(const std::string& reason) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (ended_) return;
    ended_ = true;
    failure_ = reason.empty() ? "the export failed" : reason;
  }
  changed_.notify_all();
}

bool GrowingFile::ended() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return ended_;
}

bool GrowingFile::failed() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return !failure_.empty();
}

GrowingFile::Extent GrowingFile::waitBeyond(std::uint64_t offset) const {
  std::unique_lock<std::mutex> lock(mutex_);
  bool news = changed_.wait_for(lock, stallLimit_, [&] { return ended_ || bytes_ > offset; });
  if (!news) {
    return Extent{
        bytes_, true,
        "the export file did not grow for " + std::to_string(stallLimit_.count()) + " ms"};
  }
  return Extent{bytes_, ended_, failure_};
}

}  // namespace agent
