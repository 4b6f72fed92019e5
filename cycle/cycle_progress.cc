#include "cycle/cycle_progress.h"

namespace agent {

void CycleProgress::cycleStarted() {
  MutexLock lock(mutex_);
  running_ = true;
  stage_.clear();
  rows_.store(0, std::memory_order_relaxed);
}

void CycleProgress::cycleEnded() {
  MutexLock lock(mutex_);
  running_ = false;
}

void CycleProgress::stageStarted(const std::string& name) {
  MutexLock lock(mutex_);
  stage_ = name;
  rows_.store(0, std::memory_order_relaxed);
}

CycleProgress::Snapshot CycleProgress::snapshot() const {
  MutexLock lock(mutex_);
  return Snapshot{running_, stage_, rows_.load(std::memory_order_relaxed)};
}

namespace {

// 12000 -> "12,000": easier to read at a glance on a changing line.
std::string groupedCount(std::size_t n) {
  std::string digits = std::to_string(n);
  std::string out;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}

}  // namespace

std::string progressText(const CycleProgress::Snapshot& progress) {
  if (progress.stage.empty()) return "Cycle running";
  std::string text = "Uploading " + progress.stage;
  if (progress.rows > 0) {
    text += " - " + groupedCount(progress.rows) + (progress.rows == 1 ? " row" : " rows");
  }
  return text;
}

}  // namespace agent
