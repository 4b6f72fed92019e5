// The payment rules without a portal: the spreading of a paid amount over
// fee balances; receipt numbering against the embedded local database
// (which counter a college uses, what is stored back, the refusals); and
// the text forms spliced into statements (remote literals that cannot
// break out of their quotes, the numeric reading of stored counters and
// portal amounts).
#include "payments/receipt_numbers.h"

#include <gtest/gtest.h>

#include <vector>

#include "db/error.h"
#include "db/remote_literal.h"
#include "payments/payment_allocation.h"
#include "payments/sql_literal.h"
#include "tests/payments/payment_world.h"

namespace agent {
namespace {

using testing::LocalOffice;

class ReceiptNumbers : public ::testing::Test {
 protected:
  ReceiptNumbers() : office("recno") {}

  void addGroupCollege(const std::string& college, const std::string& group,
                       const std::string& prefixLiteral, const std::string& lastLiteral) {
    office.db().execute("insert into college(fcollcode, fcollname, fgroupcode) values('" + college +
                        "', 'x', '" + group + "')");
    office.db().execute("insert into collgroup(fgroupcode, frecprefix, freclastno) values('" +
                        group + "', " + prefixLiteral + ", " + lastLiteral + ")");
  }
  std::string next(const std::string& college) { return getRecNo(office.db(), messages, college); }
  std::string control() { return office.scalar("select frecno from control"); }
  std::string groupLast(const std::string& group) {
    return office.scalar("select freclastno from collgroup where fgroupcode = '" + group + "'");
  }

  LocalOffice office;
  testing::RecordedMessages messages;
};

TEST_F(ReceiptNumbers, CollegeWithoutGroupCountsInControlAsPaddedText) {
  office.db().execute(
      "insert into college(fcollcode, fcollname, fgroupcode) values('C2', 'x', '')");
  EXPECT_EQ(next("C1"), "000001");  // fgroupcode NULL
  EXPECT_EQ(control(), "000001");
  EXPECT_EQ(next("C2"), "000002");  // fgroupcode empty
  EXPECT_EQ(next("UNKNOWN"), "000003");
  office.db().execute("update control set frecno = '000123'");
  EXPECT_EQ(next("C1"), "000124");
  EXPECT_EQ(control(), "000124");
  EXPECT_TRUE(messages.texts.empty());
}

TEST_F(ReceiptNumbers, GroupCounterIssuesPrefixAndSerialAndStoresTheBareSerial) {
  addGroupCollege("G1C", "G1", "'P'", "NULL");
  addGroupCollege("G2C", "G2", "'Q'", "999999");
  addGroupCollege("G3C", "G3", "NULL", "41");
  addGroupCollege("G4C", "G4", "'O''B/'", "0");
  EXPECT_EQ(next("G1C"), "P000001");
  EXPECT_EQ(groupLast("G1"), "1");
  EXPECT_EQ(next("G1C"), "P000002");
  EXPECT_EQ(next("G2C"), "Q1000000");
  EXPECT_EQ(groupLast("G2"), "1000000");
  EXPECT_EQ(next("G3C"), "000042");  // no prefix, still the group's counter
  EXPECT_EQ(groupLast("G3"), "42");
  EXPECT_EQ(next("G4C"), "O'B/000001");  // a quote in the prefix is data, not SQL
  EXPECT_EQ(control(), "");              // the control counter was never touched
}

// The refusals: a number already in rechead (every time, nothing
// advances), a group without its collgroup row, and no control row (a
// database error for the cycle, no box).
TEST_F(ReceiptNumbers, RefusalsAdvanceNoCounter) {
  addGroupCollege("G1C", "G1", "'P'", "4");
  office.db().execute("insert into rechead(frecno, freccode) values('P000005', 'S1')");
  office.db().execute("insert into rechead(frecno, freccode) values('000001', 'S1')");
  for (int call = 0; call < 2; ++call) {
    EXPECT_EQ(next("G1C"), "");
    EXPECT_EQ(next("C1"), "");
  }
  EXPECT_EQ(groupLast("G1"), "4");
  EXPECT_EQ(control(), "");
  EXPECT_EQ(messages.texts, std::vector<std::string>(4, "This Rec. no. is already exist!!"));
  EXPECT_EQ(messages.icons, std::vector<MessageIcon>(4, MessageIcon::Exclamation));

  office.db().execute(
      "insert into college(fcollcode, fcollname, fgroupcode) values('LOST', 'x', 'NOGROUP')");
  EXPECT_EQ(next("LOST"), "");
  EXPECT_EQ(messages.texts.back(), "Error in Receipt Prefix College Group");
  EXPECT_EQ(messages.icons.back(), MessageIcon::None);
  EXPECT_EQ(control(), "");

  messages.texts.clear();
  office.db().execute("delete from control");
  EXPECT_THROW(next("C1"), AgentError);
  EXPECT_TRUE(messages.texts.empty());
}

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
