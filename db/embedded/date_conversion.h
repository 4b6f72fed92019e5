// Text to datetime as SQL Server converts it, and the engine's stored form
// of a datetime. SQL Server reads 'yyyymmdd' and ISO 8601 'yyyy-mm-ddThh:mm'
// the same under every DATEFORMAT; every other numeric form ('05/03/2024',
// '2024-03-05', '05-03-24 10:30') by the session's DATEFORMAT, where a
// leading four-digit year keeps the year first and swaps day and month for
// the formats that put the day before the month.
#ifndef AGENT_DB_EMBEDDED_DATE_CONVERSION_H_
#define AGENT_DB_EMBEDDED_DATE_CONVERSION_H_

#include <optional>
#include <string>
#include <string_view>

#include "db/value.h"

namespace agent::tsql {

// SET DATEFORMAT: the order of day, month and year in numeric date text.
enum class DateOrder { MDY, DMY, YMD, YDM, MYD, DYM };

// Reads a DATEFORMAT name (case-insensitive); nullopt for any other text.
std::optional<DateOrder> dateOrderFromName(std::string_view name);

struct DateParse {
  enum class Status { Ok, Malformed, OutOfRange };
  Status status = Status::Malformed;
  DateTime value;
};

// Converts text to a datetime as CONVERT(datetime, text) does: Malformed for
// text that is no date (SQL Server's error 241), OutOfRange for a well-formed
// but impossible date such as 31/02/2024 (error 242). The empty text (or
// blanks) is 1 January 1900, midnight.
DateParse parseDateText(std::string_view text, DateOrder order);

// The engine's stored form: "yyyy-mm-ddThh:mm:ss.fff". It is ISO 8601, so
// it converts back to the same date under every DATEFORMAT, and it sorts in
// date order as text.
std::string storageText(const DateTime& dt);
// Reads a stored datetime: the stored form, or ISO text with a blank for the
// "T" or without a time. nullopt for anything else.
std::optional<DateTime> parseStorageText(std::string_view text);

// Days since 1 January 1900 (negative before it), for DATEDIFF and DATEADD.
long long dayNumber(int year, int month, int day);
DateTime fromDayNumber(long long days);

// The canonical name of a datepart word as DATEDIFF, DATEADD and DATEPART
// take it (D, DD, DAY give "DAY"; YY, YYYY, YEAR give "YEAR"...), or the
// empty text when the word is no datepart.
std::string canonicalDatePart(std::string_view word);

// The date order a CONVERT style reads text in (101 mdy, 103 dmy, 111 ymd...),
// nullopt for a style that follows the DATEFORMAT.
std::optional<DateOrder> dateOrderForStyle(int style);
// A datetime's text in a CONVERT style (103 "dd/mm/yyyy", 112 "yyyymmdd",
// 120 "yyyy-mm-dd hh:mi:ss"...); style 0 and unknown styles give the default.
std::string styledDateText(const DateTime& dt, int style);

// SQL Server's style-0 text of a datetime: "Mar  5 2024 10:30AM".
std::string defaultDateText(const DateTime& dt);

}  // namespace agent::tsql

#endif  // AGENT_DB_EMBEDDED_DATE_CONVERSION_H_
