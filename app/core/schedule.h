// The cycle timer's schedule, without a window: every tick compares the
// clock with NextRunTime; when it has passed, NextRunTime moves on by 50
// minutes before anything else, and the cycle runs unless paused. The
// window and the headless runner drive the same object.
#ifndef AGENT_APP_CORE_SCHEDULE_H_
#define AGENT_APP_CORE_SCHEDULE_H_

#include "cycle/clock.h"
#include "cycle/journal.h"
#include "db/value.h"

namespace agent {

class Schedule {
 public:
  static constexpr long long kIntervalSeconds = 50 * 60;

  // NextRunTime = now + intervalSeconds (50 minutes unless a demo asks for
  // less). clock must outlive the schedule.
  explicit Schedule(const Clock& clock, long long intervalSeconds = kIntervalSeconds);

  // The tick's decision: false while now <= NextRunTime; otherwise moves
  // NextRunTime to now + the interval and returns true (a cycle is due; the
  // caller skips it when paused).
  bool tick();

  const DateTime& nextRunTime() const { return nextRunTime_; }

 private:
  const Clock& clock_;
  long long intervalSeconds_;
  DateTime nextRunTime_;
};

// The interval a program run uses: 50 minutes, or the positive number of
// seconds a demonstration puts into UPLOAD_AGENT_INTERVAL_SECONDS (the
// journal then says so).
long long scheduleIntervalSeconds(Journal& journal);

}  // namespace agent

#endif  // AGENT_APP_CORE_SCHEDULE_H_
