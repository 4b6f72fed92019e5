// The text forms of a database value in an export file: plain, date,
// trimmed and comma restored. Every export field that reads a source column
// goes through exactly one of them.
#ifndef AGENT_UPLOAD_VALUE_TEXT_H_
#define AGENT_UPLOAD_VALUE_TEXT_H_

#include <string>

#include "base/regional.h"
#include "db/value.h"

namespace agent {

enum class Conversion {
  // Null: empty. Text: unchanged, blanks kept. Number: shortest plain
  // decimal form (1500.5, 1500, 0.5, -2), at most 15 significant digits,
  // no grouping, no exponent, the regional decimal separator. Date: the
  // short date, plus a blank and the long time when not midnight.
  Plain,
  // The plain text read back as a date and written yyyy-mm-dd; Null gives
  // an empty field. A text that is no date is written as it is.
  Date,
  // The plain text without leading and trailing spaces (spaces only).
  Trimmed,
  // The plain text with every cedilla (U+00B8) written as ",".
  CommaRestored,
};

std::string plainText(const Value& value, const RegionalSettings& regional);
std::string dateText(const Value& value, const RegionalSettings& regional);
std::string convertValue(const Value& value, Conversion conversion,
                         const RegionalSettings& regional);

// A decimal text ("1500.50", "-0.5", "007") in its shortest plain form with
// "." as separator ("1500.5", "-0.5", "7"), or "" when the text is no plain
// decimal or has more than 15 significant digits.
std::string normalizedDecimal(const std::string& decimalText);

}  // namespace agent

#endif  // AGENT_UPLOAD_VALUE_TEXT_H_
