// The spreading of a paid amount over fee balances.
#include "payments/payment_allocation.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace agent
