// The clocks the agent reads: the local date and time (for stamps and the
// texts people read) and a steady clock (for intervals and ages, which
// setting the date and time must not move). Tests inject their own.
#ifndef AGENT_CYCLE_CLOCK_H_
#define AGENT_CYCLE_CLOCK_H_

#include <mutex>

#include "base/date_time.h"

namespace agent {

class Clock {
 public:
  virtual ~Clock() = default;
  // The local date and time: what stamps and texts show.
  virtual DateTime now() const = 0;
  // Whole seconds on a clock that moves only forward, with real time,
  // asleep or not; only differences mean anything.
  virtual long long steadySeconds() const = 0;

  // Seconds since 1970 (of now() taken as UTC) as now() read at this
  // clock's first call, moved on by the steady clock since: the measure of
  // a stamp's age, which a clock set back or forward in the meantime does
  // not change. Safe from any thread.
  long long steadyEpochSeconds() const;

 private:
  mutable std::once_flag baseTaken_;
  mutable long long baseEpoch_ = 0;   // guarded by baseTaken_
  mutable long long baseSteady_ = 0;  // guarded by baseTaken_
};

// The machine's local time, to the second, and its steady clock.
class SystemClock : public Clock {
 public:
  DateTime now() const override;
  long long steadySeconds() const override;
};

// Whole seconds since 1970-01-01 00:00:00 of a date-time taken as UTC, and
// back: enough for date arithmetic without time zones.
long long toEpochSeconds(const DateTime& dt);
DateTime fromEpochSeconds(long long seconds);
DateTime addSeconds(const DateTime& dt, long long seconds);

}  // namespace agent

#endif  // AGENT_CYCLE_CLOCK_H_
