#include "app/core/schedule.h"

namespace agent {

Schedule::Schedule(const Clock& clock)
    : clock_(clock), nextRunTime_(addSeconds(clock.now(), kIntervalSeconds)) {}

bool Schedule::tick() {
  DateTime now = clock_.now();
  if (now <= nextRunTime_) return false;
  nextRunTime_ = addSeconds(now, kIntervalSeconds);
  return true;
}

}  // namespace agent
