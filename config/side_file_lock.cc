// The wait of a side file lock; the platform files lock, write and read.
#include "config/side_file_lock.h"

#include <thread>

namespace agent {

namespace {
constexpr std::chrono::milliseconds kRetryEvery{100};
}  // namespace

SideFileLock::SideFileLock(const std::filesystem::path& path, const std::string& holder,
                           std::chrono::milliseconds wait, const Signal* stop) {
  std::string error;
  platform_ = Platform::open(path, &error);
  if (!platform_) {
    detail_ = error;
    return;
  }
  const auto start = std::chrono::steady_clock::now();
  for (;;) {
    const Platform::Try attempt = platform_->tryLock(&error);
    waited_ = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    if (attempt == Platform::Try::Locked) {
      outcome_ = Outcome::Held;
      // The line is a courtesy to a waiter: a lock without it still holds.
      platform_->writeText(holder + "\n");
      return;
    }
    if (attempt == Platform::Try::Failed) {
      detail_ = error;
      platform_.reset();
      return;
    }
    if (waited_ >= wait || (stop != nullptr && stop->raised())) break;
    // Another process's lock wakes no one here: it is tried again.
    if (stop != nullptr) {
      stop->waitFor(kRetryEvery);
    } else {
      std::this_thread::sleep_for(kRetryEvery);
    }
  }
  outcome_ = Outcome::HeldByOther;
  detail_ = platform_->readText();
  while (!detail_.empty() && (detail_.back() == '\n' || detail_.back() == '\r')) detail_.pop_back();
  platform_.reset();
}

SideFileLock::~SideFileLock() = default;

}  // namespace agent
