// The text forms the payment stages splice into statements (local literals
// with a quote are met in the posting tests): remote literals that cannot
// break out of their quotes, dates and amounts that read back the
// same whatever the regional settings, and the numeric reading of stored
// counters and portal amounts.
#include <gtest/gtest.h>

#include "db/error.h"
#include "db/remote_literal.h"
#include "payments/receipt_numbers.h"
#include "payments/sql_literal.h"

namespace agent {
namespace {

TEST(RemoteLiteral, WritesTheBytesInHexSoNoQuoteOrBackslashReachesTheParser) {
  EXPECT_EQ(remoteLiteral("O1"), "_utf8mb4 X'4F31'");
  EXPECT_EQ(remoteLiteral("a'\\"), "_utf8mb4 X'61275C'");
  EXPECT_EQ(remoteLiteral(""), "_utf8mb4 X''");
  EXPECT_EQ(remoteLiteral("\xC3\xA9"), "_utf8mb4 X'C3A9'");  // é in UTF-8
}

TEST(ValueReading, FollowsTheLeadingNumberAndDateRules) {
  EXPECT_EQ(leadingNumber("000123"), 123);
  EXPECT_EQ(leadingNumber("  12abc"), 12);
  EXPECT_EQ(leadingNumber("12.75x"), 12.75);
  EXPECT_EQ(leadingNumber("abc12"), 0);
  EXPECT_EQ(leadingNumber(""), 0);
  EXPECT_EQ(numberOf(Value::null()), std::nullopt);
  EXPECT_EQ(numberOf(Value::text("1200.50")), 1200.5);
  EXPECT_EQ(dateTimeOf(Value::null()), std::nullopt);
  EXPECT_EQ(dateTimeOf(Value::text("2024-03-05 10:30:00")), (DateTime{2024, 3, 5, 10, 30, 0}));
  EXPECT_EQ(dateTimeOf(Value::text("2024-03-05")), (DateTime{2024, 3, 5}));
  EXPECT_EQ(dateTimeOf(Value::text("soon")), std::nullopt);
  EXPECT_EQ(valueText(Value::null()), "");
  EXPECT_EQ(valueText(Value::number(5)), "5");
}

TEST(NextSerial, ReadsTheStoredCounterAsItsLeadingNumber) {
  EXPECT_EQ(nextSerial(Value::text("R77")), 1);
  EXPECT_EQ(nextSerial(Value::number(41.9)), 42);
  EXPECT_THROW(nextSerial(Value::text("9999999999999999")), AgentError);
}

}  // namespace
}  // namespace agent
