// Receipt numbering against the embedded local database: which counter a
// college uses, what is stored back, and the two refusals.
#include "payments/receipt_numbers.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "tests/payments/payment_world.h"

namespace agent {
namespace {

using testing::LocalOffice;

// Messages with their icons.
struct ShownMessages : MessageSink {
  void show(const std::string& text, MessageIcon icon) override { shown.emplace_back(text, icon); }
  std::vector<std::pair<std::string, MessageIcon>> shown;
};

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
  ShownMessages messages;
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
  EXPECT_TRUE(messages.shown.empty());
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
  using Shown = std::pair<std::string, MessageIcon>;
  EXPECT_EQ(messages.shown, std::vector<Shown>(4, Shown{"This Rec. no. is already exist!!",
                                                        MessageIcon::Exclamation}));

  office.db().execute(
      "insert into college(fcollcode, fcollname, fgroupcode) values('LOST', 'x', 'NOGROUP')");
  EXPECT_EQ(next("LOST"), "");
  EXPECT_EQ(messages.shown.back(),
            (Shown{"Error in Receipt Prefix College Group", MessageIcon::None}));
  EXPECT_EQ(control(), "");

  messages.shown.clear();
  office.db().execute("delete from control");
  EXPECT_THROW(next("C1"), AgentError);
  EXPECT_TRUE(messages.shown.empty());
}

}  // namespace
}  // namespace agent
