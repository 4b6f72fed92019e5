// The clock the agent reads: the local date and time. Tests inject their own.
#ifndef AGENT_CYCLE_CLOCK_H_
#define AGENT_CYCLE_CLOCK_H_

#include "base/date_time.h"

namespace agent {

class Clock {
 public:
  virtual ~Clock() = default;
  virtual DateTime now() const = 0;
};

// The machine's local time, to the second.
class SystemClock : public Clock {
 public:
  DateTime now() const override;
};

// Whole seconds since 1970-01-01 00:00:00 of a date-time taken as UTC, and
// back: enough for date arithmetic without time zones.
long long toEpochSeconds(const DateTime& dt);
DateTime fromEpochSeconds(long long seconds);
DateTime addSeconds(const DateTime& dt, long long seconds);

}  // namespace agent

#endif  // AGENT_CYCLE_CLOCK_H_
