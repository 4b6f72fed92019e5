// How the payment stages write values into the statements they send: a
// T-SQL literal for the local database (quotes doubled; the remote one's
// forms are in db/remote_literal.h), and the fixed text forms of dates and amounts
// that the local convert(datetime, ...) and the numeric columns read the
// same whatever the machine's regional settings.
#ifndef AGENT_PAYMENTS_SQL_LITERAL_H_
#define AGENT_PAYMENTS_SQL_LITERAL_H_

#include <optional>
#include <string>
#include <string_view>

#include "db/value.h"

namespace agent {

// text between single quotes with every single quote doubled: 'D''Souza'.
// Safe for any text on the local (T-SQL) connection.
std::string localLiteral(std::string_view text);

// The date as day/month/year with two-digit day and month (05/03/2024); the
// time of day is left out.
std::string dayMonthYear(const DateTime& dt);
// dayMonthYear, followed by " HH:mm:ss" (24-hour) when the time is not
// midnight: the text convert(datetime, ...) reads back to the same moment
// on a connection whose date format is day-month-year.
std::string dayMonthYearTime(const DateTime& dt);

// An amount as plain decimal text with "." (1500, 1234.5): up to 15
// significant digits, no grouping, no trailing zeros.
std::string amountText(double amount);

// The value as the platform joins it to text: NULL gives "", a number its
// plain decimal text, a date its dayMonthYearTime text.
std::string valueText(const Value& v);

// The decimal number at the start of text (leading blanks skipped, an
// optional fraction after "."), or 0 when text does not begin with one.
// "000123" gives 123, "12abc" gives 12, "abc" and "" give 0.
double leadingNumber(std::string_view text);

// A value read as a number: a number as it is, text by leadingNumber, a date
// or NULL as nullopt.
std::optional<double> numberOf(const Value& v);

// A value read as a date-time: a date as it is; text in the ISO form
// yyyy-mm-dd[ hh:mm[:ss]] (as some drivers return dates) parsed; anything else
// nullopt.
std::optional<DateTime> dateTimeOf(const Value& v);

}  // namespace agent

#endif  // AGENT_PAYMENTS_SQL_LITERAL_H_
