// Two cycles of the fee balances, receipts and SMS log stages on the same
// local connection, through the agent as the window runs them: the first
// creates the local temporary tables, the second meets each of them, has it
// dropped once and built afresh, and both stamp their end.
#include <gtest/gtest.h>

#include "app/core/agent.h"
#include "tests/support/agent_folder_test.h"
#include "upload/table_stages.h"

namespace agent {
namespace {

class ConsecutiveCyclesTest : public testing::AgentFolderTest {
 protected:
  ConsecutiveCyclesTest() : AgentFolderTest("cycles", "P028", /*withSchema=*/true) {
    std::filesystem::create_directories(home_.path() / "CSV");
  }

  SystemClock clock_;
};

TEST_F(ConsecutiveCyclesTest, SecondCycleDropsEachLeftoverTemporaryTableOnceAndCompletes) {
  local_.execute("insert into student (fadmno, fdegree, fyear) values ('S1', 'BSC', '2024')");
  local_.execute(
      "insert into FEESTRV (FDEGREE, FADMNO, FHEADCODE, FFEE, FEXAMNO) values ('BSC', 'S1', "
      "'TUI', 1000, '1')");
  local_.execute(
      "insert into RECHEAD (FRECNO, FRECCODE, FDEGREE, FTOTAL, FCASHAMOUNT) values ('R1', 'S1', "
      "'BSC', 400, 400)");
  local_.execute("insert into RECDETL (FRECNO, FHEADCODE, FAMOUNT) values ('R1', 'TUI', 400)");
  local_.execute(
      "insert into smslog (fdate, fmessage, fstatus, fguid, fmobileno) values ('2024-03-05', "
      "'Fee due', 'success', 'G1', '9845')");
  const std::vector<Stage> stages = {{"studfee", uploadFeeBalances},
                                     {"rechead, recdetl and recmode", uploadReceipts},
                                     {"smslog", uploadSmsLog}};
  Agent agent(home_.path(), messages_, journal_, clock_);
  agent.connectLocal();

  ASSERT_TRUE(agent.runCycle(stages)) << (messages_.texts.empty() ? "" : messages_.texts[0]);
  EXPECT_EQ(journalLinesWith("leftover "), 0u);
  EXPECT_EQ(remote_.scalar("select fbal from studfee"), "600.00");

  // A receipt booked between the cycles reaches the portal in the second.
  local_.execute(
      "insert into RECHEAD (FRECNO, FRECCODE, FDEGREE, FTOTAL, FCASHAMOUNT) values ('R2', 'S1', "
      "'BSC', 100, 100)");
  local_.execute("insert into RECDETL (FRECNO, FHEADCODE, FAMOUNT) values ('R2', 'TUI', 100)");
  ASSERT_TRUE(agent.runCycle(stages)) << (messages_.texts.empty() ? "" : messages_.texts[0]);
  EXPECT_TRUE(messages_.texts.empty());
  // The drops are housekeeping: one line for the cycle names them all.
  EXPECT_EQ(journalLinesWith("housekeeping: local objects left by earlier runs"), 1u);
  EXPECT_EQ(journalLinesWith("leftover "), 0u);
  for (const char* table : {"#TMPUPFEE", "#TMPUPREC", "#TMPUPBAL", "#TMPUPRECEIPT", "#tmpsmslog"}) {
    EXPECT_EQ(journalLinesWith(table), 1u) << table;
  }
  EXPECT_EQ(remote_.scalar("select fbal from studfee"), "500.00");
  EXPECT_EQ(remote_.scalar("select count(*) from recmode"), "2");
  EXPECT_EQ(remote_.scalar("select count(*) from smslog"), "1");
  EXPECT_NE(remote_.scalar("select ifnull(flastupdendtime, 'none') from control"), "none");
}

}  // namespace
}  // namespace agent
