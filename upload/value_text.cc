// The four conversions of export values to text.
#include "upload/value_text.h"

#include "base/text.h"

namespace agent {

namespace {

constexpr int kMaxSignificantDigits = 15;
constexpr std::string_view kCedilla = "\xC2\xB8";  // U+00B8 in UTF-8

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

std::string numberText(const Value& value, const RegionalSettings& regional) {
  std::string text = normalizedDecimal(value.exactNumber());
  if (text.empty()) return plainNumber(value.numberValue(), regional.decimalSeparator);
  if (regional.decimalSeparator != ".") text = replaceAll(text, ".", regional.decimalSeparator);
  return text;
}

std::string isoDate(const DateTime& dt) {
  return formatDateTime(dt, "yyyy-MM-dd", RegionalSettings{});
}

}  // namespace

std::string normalizedDecimal(const std::string& decimalText) {
  std::string_view s = decimalText;
  bool negative = false;
  if (!s.empty() && (s[0] == '-' || s[0] == '+')) {
    negative = s[0] == '-';
    s.remove_prefix(1);
  }
  std::size_t dot = s.find('.');
  std::string_view whole = s.substr(0, dot);
  std::string_view fraction =
      dot == std::string_view::npos ? std::string_view() : s.substr(dot + 1);
  if (whole.empty() && fraction.empty()) return "";
  for (char c : whole)
    if (!isDigit(c)) return "";
  for (char c : fraction)
    if (!isDigit(c)) return "";

  while (!whole.empty() && whole.front() == '0') whole.remove_prefix(1);
  while (!fraction.empty() && fraction.back() == '0') fraction.remove_suffix(1);

  // Significant digits run from the first non-zero digit to the last.
  std::size_t significant;
  if (!whole.empty()) {
    significant = whole.size() + fraction.size();
    if (fraction.empty()) {
      std::size_t zeros = 0;
      while (zeros < whole.size() && whole[whole.size() - 1 - zeros] == '0') ++zeros;
      significant -= zeros;
    }
  } else {
    std::size_t leading = fraction.find_first_not_of('0');
    significant = leading == std::string_view::npos ? 0 : fraction.size() - leading;
  }
  if (significant > kMaxSignificantDigits) return "";
  if (significant == 0) return "0";

  std::string out = negative ? "-" : "";
  out += whole.empty() ? std::string("0") : std::string(whole);
  if (!fraction.empty()) {
    out += '.';
    out += fraction;
  }
  return out;
}

std::string plainText(const Value& value, const RegionalSettings& regional) {
  switch (value.type()) {
    case Value::Type::Null:
      return "";
    case Value::Type::Text:
      return value.textValue();
    case Value::Type::Number:
      return numberText(value, regional);
    case Value::Type::DateTime:
      return formatGeneralDate(value.dateTimeValue(), regional);
  }
  return "";
}

std::string dateText(const Value& value, const RegionalSettings& regional) {
  if (value.isNull()) return "";
  if (value.isDateTime()) return isoDate(value.dateTimeValue());
  std::string text = plainText(value, regional);
  std::optional<DateTime> date = parseGeneralDate(text, regional);
  return date ? isoDate(*date) : text;
}

std::string convertValue(const Value& value, Conversion conversion,
                         const RegionalSettings& regional) {
  switch (conversion) {
    case Conversion::Plain:
      return plainText(value, regional);
    case Conversion::Date:
      return dateText(value, regional);
    case Conversion::Trimmed:
      return trim(plainText(value, regional), " ");
    case Conversion::CommaRestored:
      return replaceAll(plainText(value, regional), kCedilla, ",");
  }
  return "";
}

}  // namespace agent
