#include "app/core/schedule.h"

#include <fmt/format.h>

#include <cstdlib>
#include <string>

#include "app/core/agent_state.h"

namespace agent {

namespace {

std::string spanText(long long seconds) {
  if (seconds >= 86400) {
    return fmt::format("{} d {} h {} min", seconds / 86400, seconds % 86400 / 3600,
                       seconds % 3600 / 60);
  }
  if (seconds >= 3600) return fmt::format("{} h {} min", seconds / 3600, seconds % 3600 / 60);
  return fmt::format("{} min {} s", seconds / 60, seconds % 60);
}

}  // namespace

Schedule::Schedule(const Clock& clock, long long intervalSeconds, Journal* journal)
    : clock_(clock),
      intervalSeconds_(intervalSeconds),
      journal_(journal),
      lastWall_(clock.now()),
      lastSteady_(clock.steadySeconds()) {
  nextRunSteady_ = lastSteady_ + intervalSeconds_;
  nextRunTime_ = addSeconds(lastWall_, intervalSeconds_);
}

bool Schedule::tick() {
  const DateTime wallNow = clock_.now();
  const long long steadyNow = clock_.steadySeconds();
  followClockChange(wallNow, steadyNow);
  if (steadyNow <= nextRunSteady_) return false;
  nextRunSteady_ = steadyNow + intervalSeconds_;
  nextRunTime_ = addSeconds(wallNow, intervalSeconds_);
  return true;
}

void Schedule::followClockChange(const DateTime& wallNow, long long steadyNow) {
  const long long set =
      (toEpochSeconds(wallNow) - toEpochSeconds(lastWall_)) - (steadyNow - lastSteady_);
  const DateTime before = lastWall_;
  lastWall_ = wallNow;
  lastSteady_ = steadyNow;
  // Both clocks count whole seconds: a second either way is their rounding.
  if (set >= -1 && set <= 1) return;
  nextRunTime_ = addSeconds(nextRunTime_, set);
  if (journal_ == nullptr || (set >= -kNotedJumpSeconds && set <= kNotedJumpSeconds)) return;
  journal_->warning(fmt::format(
      "the date and time were set {} by {} (from about {} to {}): the cycle schedule keeps "
      "its interval; next cycle at {}",
      set > 0 ? "forward" : "back", spanText(set > 0 ? set : -set), isoDateTime(before),
      isoDateTime(wallNow), isoDateTime(nextRunTime_)));
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
