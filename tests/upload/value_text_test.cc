// The text forms of export values: numbers, dates, trimming, commas.
#include "upload/value_text.h"

#include <gtest/gtest.h>

#include <vector>

namespace agent {
namespace {

RegionalSettings withDecimalComma() {
  RegionalSettings r;
  r.decimalSeparator = ",";
  return r;
}

RegionalSettings withUsDates() {
  RegionalSettings r;
  r.shortDate = "M/d/yyyy";
  return r;
}

struct Case {
  Value value;
  Conversion conversion;
  std::string expected;
  RegionalSettings regional = {};
};

TEST(ValueTextTest, EachConversionWritesItsTextForm) {
  const DateTime midnight{2024, 3, 7};
  const DateTime afternoon{2024, 3, 7, 14, 5, 9};
  const std::vector<Case> cases = {
      // Numbers take their shortest plain form, from the exact text where
      // there is one of at most 15 digits, else from the double.
      {Value::number(1500.5, "1500.50"), Conversion::Plain, "1500.5"},
      {Value::number(1500, "1500.00"), Conversion::Plain, "1500"},
      {Value::number(0.5, "0.50"), Conversion::Plain, "0.5"},
      {Value::number(0.5, ".5"), Conversion::Plain, "0.5"},
      {Value::number(-2.25, "-2.250"), Conversion::Plain, "-2.25"},
      {Value::number(0, "-0.00"), Conversion::Plain, "0"},
      {Value::number(7, "007"), Conversion::Plain, "7"},
      {Value::number(1e14, "100000000000000"), Conversion::Plain, "100000000000000"},
      {Value::number(1500.5), Conversion::Plain, "1500.5"},
      {Value::number(0.1 + 0.2), Conversion::Plain, "0.3"},
      {Value::number(1234567.125, "1234567.1250000000001"), Conversion::Plain, "1234567.125"},
      {Value::number(1e20), Conversion::Plain, "100000000000000000000"},
      // The regional decimal separator.
      {Value::number(1500.5, "1500.50"), Conversion::Plain, "1500,5", withDecimalComma()},
      {Value::number(0.25), Conversion::Plain, "0,25", withDecimalComma()},
      {Value::number(1500, "1500.00"), Conversion::Plain, "1500", withDecimalComma()},
      // Dates in the short form, the time added when it is not midnight.
      {Value::dateTime(midnight), Conversion::Plain, "07/03/2024"},
      {Value::dateTime(afternoon), Conversion::Plain, "07/03/2024 02:05:09 PM"},
      {Value::dateTime(midnight), Conversion::Plain, "3/7/2024", withUsDates()},
      // Only spaces are trimmed, and only by the trimmed conversion.
      {Value::text("  MAT  "), Conversion::Plain, "  MAT  "},
      {Value::text("  70 "), Conversion::Trimmed, "70"},
      {Value::text("\t70 \t"), Conversion::Trimmed, "\t70 \t"},
      {Value::number(30, "30.00"), Conversion::Trimmed, "30"},
      // Every cedilla becomes a comma; other characters outside ASCII stay.
      {Value::text("12\xC2\xB8 Main Road\xC2\xB8 Town"), Conversion::CommaRestored,
       "12, Main Road, Town"},
      {Value::text("Caf\xC3\xA9"), Conversion::CommaRestored, "Caf\xC3\xA9"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(convertValue(c.value, c.conversion, c.regional), c.expected);
  }
}

TEST(ValueTextTest, TheDateConversionReadsTheShortFormBackAsIso) {
  const RegionalSettings defaults;
  EXPECT_EQ(dateText(Value::dateTime(DateTime{2024, 3, 7}), defaults), "2024-03-07");
  EXPECT_EQ(dateText(Value::dateTime(DateTime{2024, 3, 7, 14, 5, 9}), defaults), "2024-03-07");
  EXPECT_EQ(dateText(Value::text("07/03/2024"), defaults), "2024-03-07");
  EXPECT_EQ(dateText(Value::text("3/7/2024 10:00:00 AM"), withUsDates()), "2024-03-07");
  // A text that is no date is written as it is.
  EXPECT_EQ(dateText(Value::text("pending"), defaults), "pending");
}

}  // namespace
}  // namespace agent
