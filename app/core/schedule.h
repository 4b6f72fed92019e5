// The cycle timer's schedule, without a window: every tick compares the
// steady clock with the next run; when it has passed, the next run moves on
// by 50 minutes before anything else, and the cycle runs unless paused.
// The window and the headless runner drive the same object.
//
// Intervals run on the steady clock, so setting the date and time (by hand,
// or a clock that was a day ahead being corrected) changes nothing about
// when the next cycle runs; NextRunTime, the date and time shown for it,
// follows such a change, and a change of more than a minute is journaled.
#ifndef AGENT_APP_CORE_SCHEDULE_H_
#define AGENT_APP_CORE_SCHEDULE_H_

#include "cycle/clock.h"
#include "cycle/journal.h"
#include "db/value.h"

namespace agent {

class Schedule {
 public:
  static constexpr long long kIntervalSeconds = 50 * 60;
  // A change of the date and time larger than this is journaled.
  static constexpr long long kNotedJumpSeconds = 60;

  // The next run is intervalSeconds (50 minutes unless a demo asks for
  // less) from now. clock, and journal when given (where changes of the
  // date and time are noted), must outlive the schedule.
  explicit Schedule(const Clock& clock, long long intervalSeconds = kIntervalSeconds,
                    Journal* journal = nullptr);

  // The tick's decision: false until the interval has passed on the steady
  // clock since the last due tick (or the start); otherwise the next run
  // moves to now + the interval and true is returned (a cycle is due; the
  // caller skips it when paused).
  bool tick();

  // Whether the next tick would be due, without moving the schedule on.
  bool due() const { return clock_.steadySeconds() > nextRunSteady_; }

  // The date and time of the next run as the clock now reads.
  const DateTime& nextRunTime() const { return nextRunTime_; }

 private:
  // Moves NextRunTime along with a change of the date and time seen since
  // the last tick, and journals a large one.
  void followClockChange(const DateTime& wallNow, long long steadyNow);

  const Clock& clock_;
  long long intervalSeconds_;
  Journal* journal_;
  long long nextRunSteady_;
  DateTime nextRunTime_;
  // The two clocks at the last tick: how far they drift apart between
  // ticks is how far the date and time was set.
  DateTime lastWall_;
  long long lastSteady_;
};

// The interval a program run uses: 50 minutes, or the positive number of
// seconds a demonstration puts into UPLOAD_AGENT_INTERVAL_SECONDS (the
// journal then says so).
long long scheduleIntervalSeconds(Journal& journal);

}  // namespace agent

#endif  // AGENT_APP_CORE_SCHEDULE_H_
