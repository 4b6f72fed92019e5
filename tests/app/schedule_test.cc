// When the timed cycles fall due, under a clock the test sets.
#include "app/core/schedule.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <utility>

#include "tests/support/doubles.h"

namespace agent {
namespace {

using testing::SetClock;

constexpr long long kMinute = 60;

// Timed cycles run 50 minutes apart, counted from the start of the due
// tick, whatever a cycle lasts. A clock a day ahead that is corrected, a
// clock set forward a day, or back an hour: the next cycle still runs 50
// minutes after the last, NextRunTime (what --status shows) moves with the
// clock, and the journal notes each change of more than a minute once.
TEST(Schedule, TimedCyclesFiftyMinutesApartWhateverACycleLastsOrTheClockIsSet) {
  for (long long set : {-86400LL, 86400LL, -3600LL, 30LL}) {
    SetClock clock;
    Journal journal;
    Schedule schedule(clock, Schedule::kIntervalSeconds, &journal);
    clock.advance(20 * kMinute);
    EXPECT_FALSE(schedule.tick());
    clock.jump(set);
    EXPECT_FALSE(schedule.tick()) << set;
    EXPECT_EQ(schedule.nextRunTime(), addSeconds(clock.now(), 30 * kMinute)) << set;
    const bool noted = set < -Schedule::kNotedJumpSeconds || set > Schedule::kNotedJumpSeconds;
    std::size_t notes = 0;
    for (const std::string& line : journal.recentLines()) {
      if (line.find(set > 0 ? "set forward" : "set back") != std::string::npos) ++notes;
    }
    EXPECT_EQ(notes, noted ? 1u : 0u) << set;
    clock.advance(30 * kMinute);
    EXPECT_FALSE(schedule.tick()) << "exactly 50 minutes after the start: not yet; " << set;
    clock.advance(1);
    EXPECT_TRUE(schedule.tick()) << set;
    EXPECT_EQ(schedule.nextRunTime(), addSeconds(clock.now(), 50 * kMinute));
    EXPECT_FALSE(schedule.tick()) << "a due tick is followed by 50 quiet minutes";
    // A cycle longer than the interval is followed at the first tick after it.
    clock.advance(70 * kMinute);
    EXPECT_TRUE(schedule.tick()) << set;
    EXPECT_EQ(schedule.nextRunTime(), addSeconds(clock.now(), 50 * kMinute));
    EXPECT_EQ(journal.warningCount(), noted ? 1u : 0u) << "a change is noted once; " << set;
  }
}

// Sets (or, for nullptr, removes) an environment variable of this process
// (Windows' _putenv_s removes a variable set to "").
void setVariable(const char* name, const char* value) {
#ifdef _WIN32
  _putenv_s(name, value != nullptr ? value : "");
#else
  value != nullptr ? setenv(name, value, 1) : unsetenv(name);
#endif
}

// A demonstration may shorten the interval through
// UPLOAD_AGENT_INTERVAL_SECONDS (only a positive number, said in the journal).
TEST(Schedule, IntervalFromTheEnvironmentOnlyWhenPositive) {
  constexpr const char* kName = "UPLOAD_AGENT_INTERVAL_SECONDS";
  const std::pair<const char*, long long> cases[] = {
      {nullptr, 0}, {"", 0}, {"0", 0}, {"-30", 0}, {"abc", 0}, {"20", 20}, {"90s", 90}};
  for (const auto& [value, shortened] : cases) {
    setVariable(kName, value);
    Journal journal;
    const char* trace = value ? value : "(unset)";
    EXPECT_EQ(scheduleIntervalSeconds(journal), shortened ? shortened : 50 * kMinute) << trace;
    const bool said = !journal.recentLines().empty() &&
                      journal.recentLines().back().find(kName) != std::string::npos;
    EXPECT_EQ(said, shortened != 0) << trace;
  }
  setVariable(kName, nullptr);
}

}  // namespace
}  // namespace agent
