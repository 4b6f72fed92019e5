// A calendar date and time of day without a time zone (SQL Server datetime,
// MySQL DATETIME), and the machine's local time now.
#ifndef AGENT_BASE_DATE_TIME_H_
#define AGENT_BASE_DATE_TIME_H_

#include <compare>

namespace agent {

// Fields are plain numbers; validity is the caller's concern.
struct DateTime {
  int year = 1900;
  int month = 1;
  int day = 1;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;

  bool isMidnight() const { return hour == 0 && minute == 0 && second == 0 && millisecond == 0; }
  auto operator<=>(const DateTime&) const = default;
};

// Whether year-month-day names a day of the Gregorian calendar in years 1
// to 9999 (29 February only in leap years).
bool isValidDate(int year, int month, int day);

// The machine's local date and time now, to the millisecond.
DateTime localDateTimeNow();

}  // namespace agent

#endif  // AGENT_BASE_DATE_TIME_H_
