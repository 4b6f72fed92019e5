#include "cycle/clock.h"

#include <chrono>

#include "base/steady_time.h"

namespace agent {

DateTime SystemClock::now() const {
  DateTime dt = localDateTimeNow();
  dt.millisecond = 0;
  return dt;
}

long long SystemClock::steadySeconds() const {
  return steadySecondsNow();
}

long long Clock::steadyEpochSeconds() const {
  std::call_once(baseTaken_, [this] {
    baseEpoch_ = toEpochSeconds(now());
    baseSteady_ = steadySeconds();
  });
  return baseEpoch_ + (steadySeconds() - baseSteady_);
}

long long toEpochSeconds(const DateTime& dt) {
  using namespace std::chrono;
  auto days = sys_days(year_month_day(year(dt.year), month(dt.month), day(dt.day)));
  return duration_cast<seconds>(days.time_since_epoch()).count() + dt.hour * 3600LL +
         dt.minute * 60LL + dt.second;
}

DateTime fromEpochSeconds(long long s) {
  using namespace std::chrono;
  long long dayCount = s >= 0 ? s / 86400 : -((-s + 86399) / 86400);
  long long rest = s - dayCount * 86400;
  year_month_day ymd{sys_days(days(dayCount))};
  DateTime dt;
  dt.year = static_cast<int>(ymd.year());
  dt.month = static_cast<int>(static_cast<unsigned>(ymd.month()));
  dt.day = static_cast<int>(static_cast<unsigned>(ymd.day()));
  dt.hour = static_cast<int>(rest / 3600);
  dt.minute = static_cast<int>(rest % 3600 / 60);
  dt.second = static_cast<int>(rest % 60);
  return dt;
}

DateTime addSeconds(const DateTime& dt, long long seconds) {
  DateTime out = fromEpochSeconds(toEpochSeconds(dt) + seconds);
  out.millisecond = dt.millisecond;
  return out;
}

}  // namespace agent
