// Where a running cycle is: the stage under way and the rows it has read so
// far. The cycle's thread writes it; the window reads it from its own
// thread a few times a second to show on its status line.
#ifndef AGENT_CYCLE_CYCLE_PROGRESS_H_
#define AGENT_CYCLE_CYCLE_PROGRESS_H_

#include <atomic>
#include <cstddef>
#include <string>

#include "base/mutex.h"
#include "base/thread_annotations.h"

namespace agent {

class CycleProgress {
 public:
  struct Snapshot {
    bool running = false;
    std::string stage;  // empty before the first stage
    std::size_t rows = 0;
  };

  // A cycle begins (no stage yet) or has ended.
  void cycleStarted();
  void cycleEnded();
  // A stage begins; its row count starts at zero.
  void stageStarted(const std::string& name);
  // One more row read by the running stage. Cheap enough for every row.
  void rowDone() { rows_.fetch_add(1, std::memory_order_relaxed); }

  Snapshot snapshot() const;

 private:
  mutable Mutex mutex_;
  bool running_ GUARDED_BY(mutex_) = false;
  std::string stage_ GUARDED_BY(mutex_);
  std::atomic<std::size_t> rows_{0};
};

// The status line's text for a running cycle: "Uploading studsub - 12,000
// rows"; "Cycle running" before its first stage.
std::string progressText(const CycleProgress::Snapshot& progress);

}  // namespace agent

#endif  // AGENT_CYCLE_CYCLE_PROGRESS_H_
