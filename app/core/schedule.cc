#include "app/core/schedule.h"

namespace agent {

Schedule::Schedule(const Clock& clock, long long intervalSeconds)
    : clock_(clock),
      intervalSeconds_(intervalSeconds),
      nextRunTime_(addSeconds(clock.now(), intervalSeconds)) {}

bool Schedule::tick() {
  DateTime now = clock_.now();
  if (now <= nextRunTime_) return false;
  nextRunTime_ = addSeconds(now, intervalSeconds_);
  return true;
}

}  // namespace agent
