#include "base/regional.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "base/text.h"

namespace agent {

namespace {

std::string pad(int v, int width) {
  std::string s = std::to_string(v);
  while (static_cast<int>(s.size()) < width) s.insert(s.begin(), '0');
  return s;
}

// Length of the run of c starting at pattern[i].
std::size_t runLength(const std::string& pattern, std::size_t i) {
  std::size_t n = 1;
  while (i + n < pattern.size() && pattern[i + n] == pattern[i]) ++n;
  return n;
}

}  // namespace

std::string formatDateTime(const DateTime& dt, const std::string& pattern,
                           const RegionalSettings& r) {
  std::string out;
  for (std::size_t i = 0; i < pattern.size();) {
    char c = pattern[i];
    std::size_t n = runLength(pattern, i);
    int hour12 = dt.hour % 12 == 0 ? 12 : dt.hour % 12;
    switch (c) {
      case 'd':
        out += pad(dt.day, n >= 2 ? 2 : 1);
        break;
      case 'M':
        out += pad(dt.month, n >= 2 ? 2 : 1);
        break;
      case 'y':
        out += n >= 3 ? pad(dt.year, 4) : pad(dt.year % 100, 2);
        break;
      case 'h':
        out += pad(hour12, n >= 2 ? 2 : 1);
        break;
      case 'H':
        out += pad(dt.hour, n >= 2 ? 2 : 1);
        break;
      case 'm':
        out += pad(dt.minute, n >= 2 ? 2 : 1);
        break;
      case 's':
        out += pad(dt.second, n >= 2 ? 2 : 1);
        break;
      case 't':
        out += dt.hour < 12 ? (n >= 2 ? "AM" : "A") : (n >= 2 ? "PM" : "P");
        break;
      case '/':
        for (std::size_t k = 0; k < n; ++k) out += r.dateSeparator;
        break;
      case ':':
        for (std::size_t k = 0; k < n; ++k) out += r.timeSeparator;
        break;
      default:
        out.append(n, c);
    }
    i += n;
  }
  return out;
}

std::string formatShortDate(const DateTime& dt, const RegionalSettings& r) {
  return formatDateTime(dt, r.shortDate, r);
}

std::string formatLongTime(const DateTime& dt, const RegionalSettings& r) {
  return formatDateTime(dt, r.longTime, r);
}

std::string formatGeneralDate(const DateTime& dt, const RegionalSettings& r) {
  std::string s = formatShortDate(dt, r);
  if (dt.hour != 0 || dt.minute != 0 || dt.second != 0) s += " " + formatLongTime(dt, r);
  return s;
}

std::string plainNumber(double d, const std::string& decimalSeparator) {
  if (d == 0) return "0";
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.15g", d);
  std::string s = buf;
  std::size_t e = s.find_first_of("eE");
  if (e != std::string::npos) {
    // Write the digits out in full rather than with an exponent.
    int exponent = std::atoi(s.c_str() + e + 1);
    std::string mantissa = s.substr(0, e);
    bool negative = mantissa[0] == '-';
    if (negative) mantissa.erase(0, 1);
    std::string digits;
    std::size_t dot = mantissa.find('.');
    int intDigits = static_cast<int>(dot == std::string::npos ? mantissa.size() : dot);
    for (char c : mantissa)
      if (c != '.') digits += c;
    int point = intDigits + exponent;
    std::string out;
    if (point <= 0) {
      out = "0." + std::string(-point, '0') + digits;
    } else if (point >= static_cast<int>(digits.size())) {
      out = digits + std::string(point - digits.size(), '0');
    } else {
      out = digits.substr(0, point) + "." + digits.substr(point);
    }
    s = (negative ? "-" : "") + out;
  }
  if (s.find('.') != std::string::npos) {
    while (s.back() == '0') s.pop_back();
    if (s.back() == '.') s.pop_back();
  }
  if (decimalSeparator != ".") s = replaceAll(s, ".", decimalSeparator);
  return s;
}

std::optional<DateTime> parseGeneralDate(const std::string& text, const RegionalSettings& r) {
  // Pull the numbers out in the order the short date pattern names them,
  // then an optional time (hours, minutes, seconds, AM/PM).
  std::vector<int> numbers;
  std::string t = text;
  bool pm = false, am = false;
  std::string upper = toUpperAscii(t);
  if (upper.find("PM") != std::string::npos) pm = true;
  if (upper.find("AM") != std::string::npos) am = true;
  for (std::size_t i = 0; i < t.size();) {
    if (t[i] >= '0' && t[i] <= '9') {
      std::size_t j = i;
      while (j < t.size() && t[j] >= '0' && t[j] <= '9') ++j;
      numbers.push_back(std::atoi(t.substr(i, j - i).c_str()));
      i = j;
    } else {
      ++i;
    }
  }
  if (numbers.size() < 3) return std::nullopt;
  DateTime dt;
  int order = 0;
  for (std::size_t i = 0; i < r.shortDate.size() && order < 3;) {
    char c = r.shortDate[i];
    std::size_t n = runLength(r.shortDate, i);
    if (c == 'd') dt.day = numbers[order++];
    if (c == 'M') dt.month = numbers[order++];
    if (c == 'y') {
      int y = numbers[order++];
      dt.year = n >= 3 ? y : (y < 30 ? 2000 + y : 1900 + y);
    }
    i += n;
  }
  if (order < 3) return std::nullopt;
  if (numbers.size() >= 5) {
    dt.hour = numbers[3];
    dt.minute = numbers[4];
    dt.second = numbers.size() >= 6 ? numbers[5] : 0;
    if (pm && dt.hour < 12) dt.hour += 12;
    if (am && dt.hour == 12) dt.hour = 0;
  }
  if (!isValidDate(dt.year, dt.month, dt.day)) return std::nullopt;
  if (dt.hour > 23 || dt.minute > 59 || dt.second > 59) return std::nullopt;
  return dt;
}

}  // namespace agent
