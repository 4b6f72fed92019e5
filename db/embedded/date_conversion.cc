#include "db/embedded/date_conversion.h"

#include <cctype>
#include <cstdio>
#include <optional>
#include <vector>

#include "base/text.h"

namespace agent::tsql {

namespace {

constexpr const char* kMonthNames[] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                       "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};

// One lexical piece of date text: a run of digits, a run of letters, or a
// single separator character.
struct Piece {
  enum class Kind { Digits, Letters, Separator };
  Kind kind;
  std::string text;
};

std::vector<Piece> splitPieces(std::string_view s) {
  std::vector<Piece> pieces;
  std::size_t i = 0;
  while (i < s.size()) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    std::size_t j = i + 1;
    if (std::isdigit(c)) {
      while (j < s.size() && std::isdigit(static_cast<unsigned char>(s[j]))) ++j;
      pieces.push_back({Piece::Kind::Digits, std::string(s.substr(i, j - i))});
    } else if (std::isalpha(c)) {
      while (j < s.size() && std::isalpha(static_cast<unsigned char>(s[j]))) ++j;
      pieces.push_back({Piece::Kind::Letters, toUpperAscii(s.substr(i, j - i))});
    } else if (c == ' ' || c == '\t') {
      while (j < s.size() && (s[j] == ' ' || s[j] == '\t')) ++j;
      pieces.push_back({Piece::Kind::Separator, " "});
    } else {
      pieces.push_back({Piece::Kind::Separator, std::string(1, s[i])});
    }
    i = j;
  }
  return pieces;
}

int toInt(const std::string& digits) {
  int v = 0;
  for (char c : digits) v = v * 10 + (c - '0');
  return v;
}

int expandYear(const std::string& digits) {
  int y = toInt(digits);
  if (digits.size() <= 2) y += y < 50 ? 2000 : 1900;  // two-digit year cutoff 2049
  return y;
}

int monthFromName(const std::string& letters) {
  if (letters.size() < 3) return 0;
  for (int m = 0; m < 12; ++m) {
    if (letters.compare(0, 3, kMonthNames[m]) == 0) return m + 1;
  }
  return 0;
}

// Reads the pieces from index i as a time of day: h[:mm[:ss[.fff|:fff]]]
// [AM|PM] or h AM. Returns false when they are no time.
bool parseTime(const std::vector<Piece>& p, std::size_t i, DateTime* dt) {
  auto isSep = [&](std::size_t k, const char* s) {
    return k < p.size() && p[k].kind == Piece::Kind::Separator && p[k].text == s;
  };
  auto isDigits = [&](std::size_t k) { return k < p.size() && p[k].kind == Piece::Kind::Digits; };
  if (!isDigits(i) || p[i].text.size() > 2) return false;
  int hour = toInt(p[i].text), minute = 0, second = 0, milli = 0;
  std::size_t k = i + 1;
  bool hasColon = false;
  if (isSep(k, ":") && isDigits(k + 1)) {
    hasColon = true;
    minute = toInt(p[k + 1].text);
    k += 2;
    if (isSep(k, ":") && isDigits(k + 1)) {
      second = toInt(p[k + 1].text);
      k += 2;
      if ((isSep(k, ".") || isSep(k, ":")) && isDigits(k + 1)) {
        std::string frac = p[k + 1].text.substr(0, 3);
        if (isSep(k, ".")) {
          while (frac.size() < 3) frac += '0';
        }
        milli = toInt(frac);
        k += 2;
      }
    }
  }
  if (k < p.size() && p[k].text == " ") ++k;
  bool hasMeridiem = false;
  if (k < p.size() && p[k].kind == Piece::Kind::Letters &&
      (p[k].text == "AM" || p[k].text == "PM")) {
    hasMeridiem = true;
    if (hour > 12) return false;
    if (p[k].text == "PM" && hour < 12) hour += 12;
    if (p[k].text == "AM" && hour == 12) hour = 0;
    ++k;
  }
  if (k < p.size() && p[k].text == " ") ++k;
  if (k != p.size()) return false;
  if (!hasColon && !hasMeridiem) return false;
  if (hour > 23 || minute > 59 || second > 59 || milli > 999) return false;
  dt->hour = hour;
  dt->minute = minute;
  dt->second = second;
  dt->millisecond = milli;
  return true;
}

// Places three numbers by the DATEFORMAT order; a leading four-digit year
// keeps the year first (ymd or, for the day-first formats, ydm).
void placeNumeric(const std::string parts[3], DateOrder order, int* y, int* m, int* d) {
  if (parts[0].size() >= 3) {
    bool dayFirst = order == DateOrder::DMY || order == DateOrder::DYM || order == DateOrder::YDM;
    *y = expandYear(parts[0]);
    *m = toInt(parts[dayFirst ? 2 : 1]);
    *d = toInt(parts[dayFirst ? 1 : 2]);
    return;
  }
  const char* pattern = "mdy";
  switch (order) {
    case DateOrder::MDY:
      pattern = "mdy";
      break;
    case DateOrder::DMY:
      pattern = "dmy";
      break;
    case DateOrder::YMD:
      pattern = "ymd";
      break;
    case DateOrder::YDM:
      pattern = "ydm";
      break;
    case DateOrder::MYD:
      pattern = "myd";
      break;
    case DateOrder::DYM:
      pattern = "dym";
      break;
  }
  for (int i = 0; i < 3; ++i) {
    if (pattern[i] == 'y') *y = expandYear(parts[i]);
    if (pattern[i] == 'm') *m = toInt(parts[i]);
    if (pattern[i] == 'd') *d = toInt(parts[i]);
  }
}

DateParse finish(int y, int m, int d, DateTime dt) {
  DateParse r;
  if (!isValidDate(y, m, d) || y < 1753) {
    r.status = DateParse::Status::OutOfRange;
    return r;
  }
  dt.year = y;
  dt.month = m;
  dt.day = d;
  r.status = DateParse::Status::Ok;
  r.value = dt;
  return r;
}

}  // namespace

std::optional<DateOrder> dateOrderFromName(std::string_view name) {
  std::string n = toLowerAscii(trimView(name));
  if (n == "mdy") return DateOrder::MDY;
  if (n == "dmy") return DateOrder::DMY;
  if (n == "ymd") return DateOrder::YMD;
  if (n == "ydm") return DateOrder::YDM;
  if (n == "myd") return DateOrder::MYD;
  if (n == "dym") return DateOrder::DYM;
  return std::nullopt;
}

namespace {

// The pieces of a date text, with the questions each form asks of them.
struct DatePieces {
  std::vector<Piece> p;

  std::string sepAt(std::size_t k) const {
    return k < p.size() && p[k].kind == Piece::Kind::Separator ? p[k].text : std::string();
  }
  bool digitsAt(std::size_t k) const { return k < p.size() && p[k].kind == Piece::Kind::Digits; }
  bool letterTAt(std::size_t k) const {
    return k < p.size() && p[k].kind == Piece::Kind::Letters && p[k].text == "T";
  }
  // The time after piece k-1: nothing, or " " or ISO "T" (a letter piece)
  // and a time.
  bool timeFrom(std::size_t k, DateTime* out) const {
    if (k >= p.size()) return true;
    std::string sep = sepAt(k);
    if (sep != " " && sep != "T" && !letterTAt(k)) return false;
    return parseTime(p, k + 1, out);
  }
};

// yyyymmdd or yymmdd, optionally followed by a time; nullopt when the text
// has another form.
std::optional<DateParse> parseUnseparatedDate(const DatePieces& d) {
  const std::vector<Piece>& p = d.p;
  if (!d.digitsAt(0) || (p[0].text.size() != 8 && p[0].text.size() != 6) ||
      (p.size() != 1 && d.sepAt(1) != " ")) {
    return std::nullopt;
  }
  const std::string& t = p[0].text;
  std::size_t yl = t.size() - 4;
  DateTime dt;
  if (p.size() > 1 && !parseTime(p, 2, &dt)) return DateParse{};
  return finish(expandYear(t.substr(0, yl)), toInt(t.substr(yl, 2)), toInt(t.substr(yl + 2, 2)),
                dt);
}

// n sep n sep n [time], the order of day, month and year as order says
// (ISO yyyy-mm-ddThh:mm always year first); nullopt for another form.
std::optional<DateParse> parseNumericDate(const DatePieces& d, DateOrder order) {
  const std::vector<Piece>& p = d.p;
  if (!d.digitsAt(0) || !d.digitsAt(2) || !d.digitsAt(4)) return std::nullopt;
  std::string sep = d.sepAt(1);
  if ((sep != "/" && sep != "-" && sep != ".") || d.sepAt(3) != sep) return std::nullopt;
  std::string parts[3] = {p[0].text, p[2].text, p[4].text};
  bool iso = parts[0].size() == 4 && sep == "-" && d.letterTAt(5);
  int y = 0, m = 0, day = 0;
  if (iso) {
    y = toInt(parts[0]);
    m = toInt(parts[1]);
    day = toInt(parts[2]);
  } else {
    if (parts[0].size() > 4 || parts[1].size() > 4 || parts[2].size() > 4) return DateParse{};
    placeNumeric(parts, order, &y, &m, &day);
  }
  DateTime dt;
  if (!d.timeFrom(5, &dt)) return DateParse{};
  return finish(y, m, day, dt);
}

// A month name: "Mar 5 2024", "5 March 2024", "March 5, 2024" [time].
DateParse parseMonthNameDate(const DatePieces& d) {
  const std::vector<Piece>& p = d.p;
  const DateParse malformed;
  std::vector<std::string> numbers;
  int month = 0;
  std::size_t k = 0;
  for (; k < p.size() && numbers.size() + (month ? 1 : 0) < 3; ++k) {
    if (p[k].kind == Piece::Kind::Digits) {
      numbers.push_back(p[k].text);
    } else if (p[k].kind == Piece::Kind::Letters) {
      if (month != 0) return malformed;
      month = monthFromName(p[k].text);
      if (month == 0) return malformed;
    } else if (p[k].text != " " && p[k].text != "," && p[k].text != "-" && p[k].text != "/" &&
               p[k].text != ".") {
      return malformed;
    }
  }
  if (month == 0 || numbers.size() != 2) return malformed;
  int y = 0, day = 0;
  if (numbers[0].size() == 4) {
    y = toInt(numbers[0]);
    day = toInt(numbers[1]);
  } else {
    day = toInt(numbers[0]);
    y = expandYear(numbers[1]);
  }
  DateTime dt;
  if (k < p.size() && (d.sepAt(k) != " " || !parseTime(p, k + 1, &dt))) return malformed;
  return finish(y, month, day, dt);
}

}  // namespace

DateParse parseDateText(std::string_view text, DateOrder order) {
  std::string_view s = trimView(text, " \t\r\n");
  DateTime dt;
  if (s.empty()) return finish(1900, 1, 1, dt);
  DatePieces pieces{splitPieces(s)};
  if (auto parsed = parseUnseparatedDate(pieces)) return *parsed;
  if (auto parsed = parseNumericDate(pieces, order)) return *parsed;
  // Time alone: the date is 1 January 1900.
  if (parseTime(pieces.p, 0, &dt)) return finish(1900, 1, 1, dt);
  return parseMonthNameDate(pieces);
}

std::string storageText(const DateTime& dt) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03d", dt.year, dt.month, dt.day,
                dt.hour, dt.minute, dt.second, dt.millisecond);
  return buf;
}

std::optional<DateTime> parseStorageText(std::string_view s) {
  auto digits = [&](std::size_t pos, std::size_t n, int* out) {
    if (pos + n > s.size()) return false;
    int v = 0;
    for (std::size_t i = pos; i < pos + n; ++i) {
      if (s[i] < '0' || s[i] > '9') return false;
      v = v * 10 + (s[i] - '0');
    }
    *out = v;
    return true;
  };
  DateTime dt;
  if (!digits(0, 4, &dt.year) || s.size() < 10 || s[4] != '-' || !digits(5, 2, &dt.month) ||
      s[7] != '-' || !digits(8, 2, &dt.day)) {
    return std::nullopt;
  }
  if (s.size() > 10) {
    if ((s[10] != 'T' && s[10] != ' ') || !digits(11, 2, &dt.hour) || s.size() < 16 ||
        s[13] != ':' || !digits(14, 2, &dt.minute)) {
      return std::nullopt;
    }
    if (s.size() > 16) {
      if (s[16] != ':' || !digits(17, 2, &dt.second)) return std::nullopt;
      if (s.size() > 19) {
        if (s[19] != '.') return std::nullopt;
        std::string frac(s.substr(20, 3));
        while (frac.size() < 3) frac += '0';
        int ms = 0;
        for (char c : frac) {
          if (c < '0' || c > '9') return std::nullopt;
          ms = ms * 10 + (c - '0');
        }
        dt.millisecond = ms;
      }
    }
  }
  if (!isValidDate(dt.year, dt.month, dt.day)) return std::nullopt;
  return dt;
}

long long dayNumber(int y, int m, int d) {
  // Days from civil, shifted so that 1900-01-01 is day 0.
  y -= m <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const long long yoe = y - era * 400;
  const long long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468 + 25567;
}

DateTime fromDayNumber(long long days) {
  long long z = days - 25567 + 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const long long doe = z - era * 146097;
  const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const long long mp = (5 * doy + 2) / 153;
  DateTime dt;
  dt.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  dt.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  dt.year = static_cast<int>(yoe + era * 400 + (dt.month <= 2 ? 1 : 0));
  return dt;
}

std::string canonicalDatePart(std::string_view word) {
  static const struct {
    const char* name;
    const char* canonical;
  } kParts[] = {{"YEAR", "YEAR"},       {"YY", "YEAR"},
                {"YYYY", "YEAR"},       {"QUARTER", "QUARTER"},
                {"QQ", "QUARTER"},      {"Q", "QUARTER"},
                {"MONTH", "MONTH"},     {"MM", "MONTH"},
                {"M", "MONTH"},         {"DAYOFYEAR", "DAYOFYEAR"},
                {"DY", "DAYOFYEAR"},    {"Y", "DAYOFYEAR"},
                {"DAY", "DAY"},         {"DD", "DAY"},
                {"D", "DAY"},           {"WEEK", "WEEK"},
                {"WK", "WEEK"},         {"WW", "WEEK"},
                {"WEEKDAY", "WEEKDAY"}, {"DW", "WEEKDAY"},
                {"W", "WEEKDAY"},       {"HOUR", "HOUR"},
                {"HH", "HOUR"},         {"MINUTE", "MINUTE"},
                {"MI", "MINUTE"},       {"N", "MINUTE"},
                {"SECOND", "SECOND"},   {"SS", "SECOND"},
                {"S", "SECOND"},        {"MILLISECOND", "MILLISECOND"},
                {"MS", "MILLISECOND"}};
  for (const auto& p : kParts) {
    if (equalsIgnoreCase(word, p.name)) return p.canonical;
  }
  return {};
}

std::string defaultDateText(const DateTime& dt) {
  static const char* kNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  int hour12 = dt.hour % 12 == 0 ? 12 : dt.hour % 12;
  char buf[40];
  std::snprintf(buf, sizeof buf, "%s %2d %04d %2d:%02d%s", kNames[(dt.month + 11) % 12], dt.day,
                dt.year, hour12, dt.minute, dt.hour < 12 ? "AM" : "PM");
  return buf;
}

}  // namespace agent::tsql

namespace agent::tsql {

std::optional<DateOrder> dateOrderForStyle(int style) {
  switch (style % 100) {
    case 1:
    case 10:
    case 22:
      return DateOrder::MDY;
    case 3:
    case 4:
    case 5:
    case 6:
    case 13:
      return DateOrder::DMY;
    case 2:
    case 11:
    case 12:
    case 20:
    case 21:
    case 23:
    case 26:
      return DateOrder::YMD;
    default:
      return std::nullopt;
  }
}

namespace {

// Writes value in width digits (zeros in front) at p; years of 1 to 9999.
char* putDigits(char* p, int value, int width) {
  for (int i = width - 1; i >= 0; --i, value /= 10) p[i] = static_cast<char>('0' + value % 10);
  return p + width;
}

// "yyyy-mm-dd hh:mi:ss" and, with milliseconds, ".mmm" (ODBC canonical):
// written by hand, as export queries convert every row's date this way.
std::string canonicalDateText(const DateTime& d, bool milliseconds) {
  char buf[24];
  char* p = putDigits(buf, d.year, 4);
  *p++ = '-';
  p = putDigits(p, d.month, 2);
  *p++ = '-';
  p = putDigits(p, d.day, 2);
  *p++ = ' ';
  p = putDigits(p, d.hour, 2);
  *p++ = ':';
  p = putDigits(p, d.minute, 2);
  *p++ = ':';
  p = putDigits(p, d.second, 2);
  if (milliseconds) {
    *p++ = '.';
    p = putDigits(p, d.millisecond, 3);
  }
  return std::string(buf, p);
}

}  // namespace

std::string styledDateText(const DateTime& d, int style) {
  char buf[40];
  const bool century = style >= 100 || style == 20 || style == 21 || style == 23 || style == 26;
  const int year = century ? d.year : d.year % 100;
  const int yw = century ? 4 : 2;
  switch (style % 100) {
    case 1:
      std::snprintf(buf, sizeof buf, "%02d/%02d/%0*d", d.month, d.day, yw, year);
      return buf;
    case 2:
      std::snprintf(buf, sizeof buf, "%0*d.%02d.%02d", yw, year, d.month, d.day);
      return buf;
    case 3:
      std::snprintf(buf, sizeof buf, "%02d/%02d/%0*d", d.day, d.month, yw, year);
      return buf;
    case 4:
      std::snprintf(buf, sizeof buf, "%02d.%02d.%0*d", d.day, d.month, yw, year);
      return buf;
    case 5:
      std::snprintf(buf, sizeof buf, "%02d-%02d-%0*d", d.day, d.month, yw, year);
      return buf;
    case 8:
      std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", d.hour, d.minute, d.second);
      return buf;
    case 10:
      std::snprintf(buf, sizeof buf, "%02d-%02d-%0*d", d.month, d.day, yw, year);
      return buf;
    case 11:
      std::snprintf(buf, sizeof buf, "%0*d/%02d/%02d", yw, year, d.month, d.day);
      return buf;
    case 12:
      std::snprintf(buf, sizeof buf, "%0*d%02d%02d", yw, year, d.month, d.day);
      return buf;
    case 20:
      return canonicalDateText(d, false);
    case 21:
      return canonicalDateText(d, true);
    case 23:
      std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", d.year, d.month, d.day);
      return buf;
    case 26:
      std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03d", d.year, d.month, d.day,
                    d.hour, d.minute, d.second, d.millisecond);
      return buf;
    default:
      return defaultDateText(d);
  }
}

}  // namespace agent::tsql
