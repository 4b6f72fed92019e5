// The implicit and explicit conversions of T-SQL between text, numbers and
// datetimes, shared by the translator (for literals, at translation time)
// and by the engine's SQLite functions (for column values, at run time), so
// that both give the same result and the same error.
#ifndef AGENT_DB_EMBEDDED_VALUE_CONVERSION_H_
#define AGENT_DB_EMBEDDED_VALUE_CONVERSION_H_

#include <string>
#include <string_view>

#include "db/embedded/date_conversion.h"
#include "db/embedded/sql_type.h"

namespace agent::tsql {

struct NumberValue {
  bool integer = false;
  long long intValue = 0;
  double value = 0;
};

// Text to a number of the target kind (int, bit, numeric, float) as SQL
// Server converts varchar: blanks around it are ignored; '' is 0 for int,
// bit and float but an error for numeric. Throws DbError 245 (int, bit) or
// 8114 (numeric, float) for text that is no such number.
NumberValue textToNumber(std::string_view text, const SqlType& target);

// Text to the stored datetime form by the DATEFORMAT. Throws DbError 241 for
// text that is no date, 242 for an impossible one.
std::string textToStoredDate(std::string_view text, DateOrder order);

// A number rounded to scale decimal digits (numeric columns).
double roundToScale(double value, int scale);
// A number's text with exactly scale decimals ("1500.50").
std::string fixedText(double value, int scale);
// A float's shortest text that reads back as the same double.
std::string floatText(double value);

}  // namespace agent::tsql

#endif  // AGENT_DB_EMBEDDED_VALUE_CONVERSION_H_
