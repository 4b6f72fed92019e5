// The payment rules that need no database (the Windows unit tests run them
// too): the spreading of a paid amount over fee balances, and the text
// forms spliced into statements (remote literals that cannot break out of
// their quotes, the numeric reading of stored counters and portal amounts).
#include "payments/payment_allocation.h"

#include <gtest/gtest.h>

#include <vector>

#include "base/errors.h"
#include "db/remote_literal.h"
#include "payments/receipt_numbers.h"
#include "payments/sql_literal.h"

namespace agent {
namespace {

using Lines = std::vector<ReceiptLine>;

const std::vector<FeeBalance> kTwoHeads = {{"A", 1000}, {"B", 500}};

TEST(PaymentAllocation, FillsBalancesInOrderAndEndsAfterThePartialOne) {
  EXPECT_EQ(allocatePayment(1200, kTwoHeads), (Lines{{"A", 1000}, {"B", 200}}));
  EXPECT_EQ(allocatePayment(700, kTwoHeads), (Lines{{"A", 700}}));
  // Paid exactly: no line of nothing for the next head.
  EXPECT_EQ(allocatePayment(1000, kTwoHeads), (Lines{{"A", 1000}}));
  EXPECT_EQ(allocatePayment(1000.5, {{"A", 1000}, {"B", 500}, {"C", 10}}),
            (Lines{{"A", 1000}, {"B", 0.5}}));
}

TEST(PaymentAllocation, BalancesOfZeroOrLessOrNullArePassedOverWhereverTheyStand) {
  EXPECT_EQ(
      allocatePayment(600, {{"A", -300}, {"B", 500}, {"C", std::nullopt}, {"D", 0}, {"E", 400}}),
      (Lines{{"B", 500}, {"E", 100}}));
  EXPECT_EQ(allocatePayment(600, {{"A", 0}, {"B", -1}}), Lines{});
}

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
