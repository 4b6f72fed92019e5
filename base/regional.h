// The machine's regional settings as the agent uses them (short date, long
// time, separators), and the text forms built from them: the general
// date-time text, plain numbers, and reading a short date back.
#ifndef AGENT_BASE_REGIONAL_H_
#define AGENT_BASE_REGIONAL_H_

#include <optional>
#include <string>

#include "base/date_time.h"

namespace agent {

struct RegionalSettings {
  // Patterns in the Windows notation: d dd M MM yy yyyy for dates; h hh
  // (12-hour) H HH (24-hour) m mm s ss t tt for times. Any other character
  // stands for itself, except "/" and ":", which stand for the separators.
  std::string shortDate = "dd/MM/yyyy";
  std::string longTime = "hh:mm:ss tt";
  std::string dateSeparator = "/";
  std::string timeSeparator = ":";
  std::string decimalSeparator = ".";
};

// The date part of dt in the short date form.
std::string formatShortDate(const DateTime& dt, const RegionalSettings& r);
// The time part of dt in the long time form ("AM" / "PM" for tt).
std::string formatLongTime(const DateTime& dt, const RegionalSettings& r);
// Short date, a blank, long time; the time left out at exactly midnight.
std::string formatGeneralDate(const DateTime& dt, const RegionalSettings& r);
// A date pattern applied to dt (the notation above).
std::string formatDateTime(const DateTime& dt, const std::string& pattern,
                           const RegionalSettings& r);

// A number in its shortest plain decimal form: up to 15 significant digits,
// no grouping, no exponent, no trailing zeros, the given decimal separator.
std::string plainNumber(double d, const std::string& decimalSeparator = ".");

// Reads text written in the general date form back into a date-time, or
// nullopt when it is no date in that form.
std::optional<DateTime> parseGeneralDate(const std::string& text, const RegionalSettings& r);

}  // namespace agent

#endif  // AGENT_BASE_REGIONAL_H_
