#include "payments/sql_literal.h"

#include <cctype>
#include <cstdlib>

#include "base/regional.h"

namespace agent {

std::string localLiteral(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  out += '\'';
  for (char c : text) {
    if (c == '\'') out += '\'';
    out += c;
  }
  out += '\'';
  return out;
}

// The fixed separators "/" and ":", whatever the machine's settings.
const RegionalSettings kFixedSeparators;

std::string dayMonthYear(const DateTime& dt) {
  return formatDateTime(dt, "dd/MM/yyyy", kFixedSeparators);
}

std::string dayMonthYearTime(const DateTime& dt) {
  return formatDateTime(dt, dt.isMidnight() ? "dd/MM/yyyy" : "dd/MM/yyyy HH:mm:ss",
                        kFixedSeparators);
}

std::string amountText(double amount) {
  return plainNumber(amount, ".");
}

std::string valueText(const Value& v) {
  switch (v.type()) {
    case Value::Type::Null:
      return {};
    case Value::Type::Text:
      return v.textValue();
    case Value::Type::Number:
      return amountText(v.numberValue());
    case Value::Type::DateTime:
      return dayMonthYearTime(v.dateTimeValue());
  }
  return {};
}

double leadingNumber(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  std::size_t start = i;
  while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) ++i;
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) ++i;
  }
  std::string number(text.substr(start, i - start));
  if (number.empty() || number == ".") return 0;
  return std::strtod(number.c_str(), nullptr);
}

std::optional<double> numberOf(const Value& v) {
  if (v.isNumber()) return v.numberValue();
  if (v.isText()) return leadingNumber(v.textValue());
  return std::nullopt;
}

std::optional<DateTime> dateTimeOf(const Value& v) {
  if (v.isDateTime()) return v.dateTimeValue();
  if (!v.isText()) return std::nullopt;
  DateTime dt;
  int fields = std::sscanf(v.textValue().c_str(), "%4d-%2d-%2d %2d:%2d:%2d", &dt.year, &dt.month,
                           &dt.day, &dt.hour, &dt.minute, &dt.second);
  if (fields != 3 && fields != 5 && fields != 6) return std::nullopt;
  if (dt.month < 1 || dt.month > 12 || dt.day < 1 || dt.day > 31) return std::nullopt;
  return dt;
}

}  // namespace agent
