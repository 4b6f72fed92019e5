#include "app/core/schedule.h"

#include <cstdlib>
#include <string>

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

long long scheduleIntervalSeconds(Journal& journal) {
  constexpr const char* kVariable = "UPLOAD_AGENT_INTERVAL_SECONDS";
  const char* text = std::getenv(kVariable);
  long long seconds = text == nullptr ? 0 : std::atoll(text);
  if (seconds <= 0) return Schedule::kIntervalSeconds;
  journal.warning(std::string(kVariable) + " set: a timed cycle every " + std::to_string(seconds) +
                  " seconds instead of every 50 minutes");
  return seconds;
}

}  // namespace agent
