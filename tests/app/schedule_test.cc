// The cycle schedule under a clock the test sets: when the timed cycles fall
// due after start-up, after a long cycle, and after the date and time are
// set back or forward.
#include "app/core/schedule.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "tests/support/doubles.h"

namespace agent {
namespace {

using testing::SetClock;

constexpr long long kMinute = 60;

TEST(Schedule, FirstTimedCycleFiftyMinutesAfterStartWhateverTheFirstCycleLasts) {
  for (long long firstCycleMinutes : {0, 1, 30, 49}) {
    SetClock clock;
    const DateTime start = clock.now();
    Schedule schedule(clock);
    clock.advance(firstCycleMinutes * kMinute);  // the activation's cycle
    EXPECT_FALSE(schedule.tick()) << firstCycleMinutes;
    clock.advance(50 * kMinute - firstCycleMinutes * kMinute);  // exactly NextRunTime: not yet
    ASSERT_EQ(clock.now(), addSeconds(start, 50 * kMinute));
    EXPECT_FALSE(schedule.tick()) << firstCycleMinutes;
    clock.advance(1);
    EXPECT_TRUE(schedule.tick()) << firstCycleMinutes;
    EXPECT_EQ(schedule.nextRunTime(), addSeconds(clock.now(), 50 * kMinute));
    EXPECT_FALSE(schedule.tick()) << "a due tick is followed by 50 quiet minutes";
  }
}

// A clock a day ahead that is corrected, a clock set forward a day, or back
// an hour: the next cycle still runs 50 minutes after the last, NextRunTime
// (what --status shows) moves with the clock, and the journal notes each
// change of more than a minute once.
TEST(Schedule, SettingTheDateAndTimeLeavesTheIntervalAsItWas) {
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
    EXPECT_FALSE(schedule.tick());
    EXPECT_EQ(journal.warningCount(), noted ? 1u : 0u) << "a change is noted once; " << set;
  }
}

TEST(Schedule, CycleLongerThanIntervalIsFollowedAtTheFirstTickAfterIt) {
  SetClock clock;
  Schedule schedule(clock);
  clock.advance(50 * kMinute + 1);
  ASSERT_TRUE(schedule.tick());
  const DateTime dueTick = clock.now();
  EXPECT_EQ(schedule.nextRunTime(), addSeconds(dueTick, 50 * kMinute))
      << "counted from the start of the due tick, not the end of its cycle";

  clock.advance(70 * kMinute);  // the cycle; ticks meanwhile are lost
  EXPECT_TRUE(schedule.tick());
  EXPECT_EQ(schedule.nextRunTime(), addSeconds(clock.now(), 50 * kMinute));
}

// A demonstration may shorten the interval through
// UPLOAD_AGENT_INTERVAL_SECONDS; anything but a positive number keeps the
// 50 minutes, and the journal says when it is shortened.
// Sets (or, for nullptr, removes) an environment variable of this process.
// Windows has no setenv; its _putenv_s removes a variable set to "".
void setVariable(const char* name, const char* value) {
#ifdef _WIN32
  _putenv_s(name, value != nullptr ? value : "");
#else
  if (value != nullptr) {
    setenv(name, value, 1);
  } else {
    unsetenv(name);
  }
#endif
}

TEST(Schedule, IntervalFromTheEnvironmentOnlyWhenPositive) {
  constexpr const char* kName = "UPLOAD_AGENT_INTERVAL_SECONDS";
  struct Case {
    const char* value;
    long long seconds;
  } cases[] = {
      {nullptr, 50 * kMinute}, {"", 50 * kMinute}, {"0", 50 * kMinute}, {"-30", 50 * kMinute},
      {"abc", 50 * kMinute},   {"20", 20},         {"90s", 90}};
  for (const Case& c : cases) {
    setVariable(kName, c.value);
    Journal journal;
    EXPECT_EQ(scheduleIntervalSeconds(journal), c.seconds) << (c.value ? c.value : "(unset)");
    const bool said = !journal.recentLines().empty() &&
                      journal.recentLines().back().find(kName) != std::string::npos;
    EXPECT_EQ(said, c.seconds != 50 * kMinute) << (c.value ? c.value : "(unset)");
  }
  setVariable(kName, nullptr);
}

}  // namespace
}  // namespace agent
