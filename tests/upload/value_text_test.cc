// The text forms of export values: numbers, dates, trimming, commas.
#include "upload/value_text.h"

#include <gtest/gtest.h>

namespace agent {
namespace {

std::string plain(const Value& v, const RegionalSettings& r = RegionalSettings{}) {
  return convertValue(v, Conversion::Plain, r);
}

TEST(ValueTextTest, NumbersTakeTheirShortestPlainForm) {
  EXPECT_EQ(plain(Value::number(1500.5, "1500.50")), "1500.5");
  EXPECT_EQ(plain(Value::number(1500, "1500.00")), "1500");
  EXPECT_EQ(plain(Value::number(0.5, "0.50")), "0.5");
  EXPECT_EQ(plain(Value::number(0.5, ".5")), "0.5");
  EXPECT_EQ(plain(Value::number(-2.25, "-2.250")), "-2.25");
  EXPECT_EQ(plain(Value::number(0, "-0.00")), "0");
  EXPECT_EQ(plain(Value::number(7, "007")), "7");
  EXPECT_EQ(plain(Value::number(1e14, "100000000000000")), "100000000000000");
  // Computed numbers (no exact text) and texts past 15 digits use the double.
  EXPECT_EQ(plain(Value::number(1500.5)), "1500.5");
  EXPECT_EQ(plain(Value::number(0.1 + 0.2)), "0.3");
  EXPECT_EQ(plain(Value::number(1234567.125, "1234567.1250000000001")), "1234567.125");
  EXPECT_EQ(plain(Value::number(1234567.890123456, "1234567.890123456")), "1234567.89012346");
  EXPECT_EQ(plain(Value::number(1e20)), "100000000000000000000");
  // The regional decimal separator.
  RegionalSettings r;
  r.decimalSeparator = ",";
  EXPECT_EQ(plain(Value::number(1500.5, "1500.50"), r), "1500,5");
  EXPECT_EQ(plain(Value::number(0.25), r), "0,25");
  EXPECT_EQ(plain(Value::number(1500, "1500.00"), r), "1500");
}

TEST(ValueTextTest, DatesArePlainInTheShortFormAndIsoInTheDateConversion) {
  DateTime midnight{2024, 3, 7};
  DateTime afternoon{2024, 3, 7, 14, 5, 9};
  EXPECT_EQ(plain(Value::dateTime(midnight)), "07/03/2024");
  EXPECT_EQ(plain(Value::dateTime(afternoon)), "07/03/2024 02:05:09 PM");
  EXPECT_EQ(dateText(Value::dateTime(midnight), RegionalSettings{}), "2024-03-07");
  EXPECT_EQ(dateText(Value::dateTime(afternoon), RegionalSettings{}), "2024-03-07");
  // A date held as text is read back in the short form of the settings.
  EXPECT_EQ(dateText(Value::text("07/03/2024"), RegionalSettings{}), "2024-03-07");
  RegionalSettings us;
  us.shortDate = "M/d/yyyy";
  EXPECT_EQ(plain(Value::dateTime(midnight), us), "3/7/2024");
  EXPECT_EQ(dateText(Value::text("3/7/2024 10:00:00 AM"), us), "2024-03-07");
  // A text that is no date is written as it is.
  EXPECT_EQ(dateText(Value::text("pending"), RegionalSettings{}), "pending");
}

// Texts keep their blanks unless trimmed (of spaces only); the comma
// restoring conversion writes every cedilla as a comma.
TEST(ValueTextTest, TrimmedAndCommaRestoredTouchNothingElse) {
  auto as = [](Conversion c, const Value& v) { return convertValue(v, c, RegionalSettings{}); };
  EXPECT_EQ(plain(Value::text("  MAT  ")), "  MAT  ");
  EXPECT_EQ(as(Conversion::Trimmed, Value::text("  70 ")), "70");
  EXPECT_EQ(as(Conversion::Trimmed, Value::text("\t70 \t")), "\t70 \t");
  EXPECT_EQ(as(Conversion::Trimmed, Value::number(30, "30.00")), "30");
  EXPECT_EQ(as(Conversion::CommaRestored, Value::text("12\xC2\xB8 Main Road\xC2\xB8 Town")),
            "12, Main Road, Town");
  EXPECT_EQ(as(Conversion::CommaRestored, Value::text("Caf\xC3\xA9")), "Caf\xC3\xA9");
}

}  // namespace
}  // namespace agent
