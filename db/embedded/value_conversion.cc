#include "db/embedded/value_conversion.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "base/text.h"
#include "db/embedded/engine_errors.h"

namespace agent::tsql {

namespace {

// [sign] digits [. digits] | [sign] . digits
bool isDecimal(std::string_view s, bool allowPoint) {
  std::size_t i = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  bool digits = false;
  while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) {
    ++i;
    digits = true;
  }
  if (allowPoint && i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) {
      ++i;
      digits = true;
    }
  }
  return digits && i == s.size();
}

std::string lowerName(const SqlType& t) {
  return toLowerAscii(t.name.empty() ? "int" : t.name);
}

}  // namespace

NumberValue textToNumber(std::string_view text, const SqlType& target) {
  std::string_view s = trimView(text, " \t\r\n");
  NumberValue n;
  switch (target.kind) {
    case SqlType::Kind::Int:
    case SqlType::Kind::Bit: {
      if (target.kind == SqlType::Kind::Bit &&
          (equalsIgnoreCase(s, "TRUE") || equalsIgnoreCase(s, "FALSE"))) {
        n.integer = true;
        n.intValue = equalsIgnoreCase(s, "TRUE") ? 1 : 0;
        n.value = static_cast<double>(n.intValue);
        return n;
      }
      if (!s.empty() && !isDecimal(s, false)) {
        throw textToIntError(std::string(text), lowerName(target));
      }
      n.integer = true;
      n.intValue = s.empty() ? 0 : std::strtoll(std::string(s).c_str(), nullptr, 10);
      if (target.kind == SqlType::Kind::Bit) n.intValue = n.intValue != 0;
      n.value = static_cast<double>(n.intValue);
      return n;
    }
    case SqlType::Kind::Numeric:
      if (!isDecimal(s, true)) throw textToNumberError("numeric");
      n.value = roundToScale(std::strtod(std::string(s).c_str(), nullptr), target.scale);
      return n;
    default: {
      if (s.empty()) return n;
      std::string str(s);
      char* end = nullptr;
      n.value = std::strtod(str.c_str(), &end);
      bool plain = str.find_first_of("xXnNiI") == std::string::npos;
      if (!plain || end != str.c_str() + str.size()) throw textToNumberError("float");
      return n;
    }
  }
}

std::string textToStoredDate(std::string_view text, DateOrder order) {
  DateParse p = parseDateText(text, order);
  if (p.status == DateParse::Status::Malformed) throw dateConversionError();
  if (p.status == DateParse::Status::OutOfRange) throw dateOutOfRangeError();
  return storageText(p.value);
}

double roundToScale(double value, int scale) {
  // Exact powers of ten: pow() per numeric value was a visible cost of a scan.
  static constexpr double kPowersOfTen[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                            1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
  if (scale < 0 || scale > 15) return value;
  double factor = kPowersOfTen[scale];
  return std::round(value * factor) / factor;
}

std::string fixedText(double value, int scale) {
  // to_chars with a precision writes what printf's "%.*f" writes, without
  // the format parsing and locale lookups that made it the scan's largest
  // cost per numeric column.
  char buf[400];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, scale);
  if (ec != std::errc()) {
    std::snprintf(buf, sizeof buf, "%.*e", scale, value);  // beyond any numeric column
    end = buf + std::strlen(buf);
  }
  std::string_view s(buf, end - buf);
  // A negative value that rounds to zero is written without its sign.
  if (s.size() > 1 && s[0] == '-' && s.find_first_not_of("-0.") == std::string_view::npos) {
    s.remove_prefix(1);
  }
  return std::string(s);
}

std::string floatText(double value) {
  char buf[64];
  for (int precision = 15; precision <= 17; ++precision) {
    std::snprintf(buf, sizeof buf, "%.*g", precision, value);
    if (std::strtod(buf, nullptr) == value) break;
  }
  return buf;
}

}  // namespace agent::tsql
