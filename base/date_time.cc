#include "base/date_time.h"

#include <chrono>
#include <ctime>

#include "base/local_time.h"

namespace agent {

DateTime localDateTimeNow() {
  using namespace std::chrono;
  auto now = system_clock::now();
  std::time_t seconds = system_clock::to_time_t(now);
  const std::tm local = localCalendarTime(seconds);
  DateTime dt;
  dt.year = local.tm_year + 1900;
  dt.month = local.tm_mon + 1;
  dt.day = local.tm_mday;
  dt.hour = local.tm_hour;
  dt.minute = local.tm_min;
  dt.second = local.tm_sec;
  dt.millisecond =
      static_cast<int>(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
  return dt;
}

bool isValidDate(int year, int month, int day) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1) return false;
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  int last = kDays[month - 1] + (month == 2 && leap ? 1 : 0);
  return day <= last;
}

}  // namespace agent
