// The upload cycle of a whole program folder: the settings file, the local
// connection on the embedded engine, the remote account on the test
// MariaDB server, the start and end stamps, the error handler and the
// recovery from leftover local objects across cycles.
#include <gtest/gtest.h>

#include "app/core/agent.h"
#include "base/errors.h"
#include "config/local_settings.h"
#include "config/remote_accounts.h"
#include "db/error.h"
#include "tests/support/local_database.h"
#include "tests/support/program_folder.h"
#include "tests/support/remote_server.h"
#include "tests/support/temp_dir.h"

namespace agent {
namespace {

using testing::LocalTestDatabase;
using testing::RemoteTestDatabase;

class FixedClock : public Clock {
 public:
  DateTime now() const override { return time; }
  DateTime time{2024, 3, 5, 14, 7, 9};
};

class CycleTest : public ::testing::Test {
 protected:
  CycleTest()
      : local_("cycle", /*withSchema=*/false), remote_("cycle"), home_(local_, remote_, "P001") {
    local_.execute("create table control (funivcode varchar(10), frecno varchar(20))");
    local_.execute("insert into control values ('P001', NULL)");
    local_.execute("create table college (fcollcode varchar(10), fcollname varchar(60))");
    local_.execute("insert into college values ('C01', 'First College')");
  }

  Agent& agent() {
    if (!agent_) agent_ = std::make_unique<Agent>(home_.path(), messages_, journal_, clock_);
    return *agent_;
  }
  std::string remoteStamps() {
    return remote_.scalar(
        "select concat(ifnull(flastupdstarttime, 'NULL'), ' / ', "
        "ifnull(flastupdendtime, 'NULL')) from control");
  }
  // The message the program ends with when it connects locally.
  std::string programEndOfConnect() {
    try {
      agent().connectLocal();
    } catch (const ProgramEnd& e) {
      return e.message();
    }
    return "<the program goes on>";
  }
  std::size_t journalLinesWith(const std::string& text) {
    return testing::journalLinesWith(journal_, text);
  }

  LocalTestDatabase local_;
  RemoteTestDatabase remote_;
  testing::ProgramFolder home_;
  RecordedMessages messages_;
  Journal journal_;
  FixedClock clock_;
  std::unique_ptr<Agent> agent_;
};

// Stages used by the tests: each does what a real stage does at the point
// that matters (creates a temporary table, fails, reads remotely).
std::size_t createsReceiptTable(CycleContext& ctx) {
  ctx.local.execute("select fcollcode, fcollname into #TMPUPRECEIPT from college");
  return 1;
}
std::size_t createsBothTables(CycleContext& ctx) {
  ctx.local.execute("select fcollcode into #TMPUPREC from college");
  return createsReceiptTable(ctx);
}
std::size_t readsMissingBalance(CycleContext& ctx) {
  ctx.local.query("select * from #TMPUPBAL");
  return 0;
}
std::size_t failsGenerically(CycleContext&) {
  throw AgentError(error_number::kGenericFailure, "[ma-3.1.15] Lost connection to server");
}
std::size_t readsLocalControl(CycleContext& ctx) {
  ctx.local.query("select * from control");
  return 0;
}

TEST_F(CycleTest, StampsItsStartAndEndWithTheInstitutionsAccount) {
  // A second activation reads the same settings file and logs in again: the
  // password is unscrambled afresh, not shifted a second time.
  agent().connectLocal();
  agent().connectLocal();
  EXPECT_EQ(agent().univCode(), "P001");
  clock_.time = {2024, 3, 5, 14, 7, 9};
  std::vector<Stage> stages = {
      {"check start stamp", [](CycleContext& ctx) -> std::size_t {
         auto rs = ctx.remote.query("select flastupdstarttime, flastupdendtime from control");
         EXPECT_EQ(rs->field("flastupdstarttime").textValue(), "05/03/2024 02:07:09 PM");
         EXPECT_TRUE(rs->field("flastupdendtime").isNull());
         return 1;
       }}};
  EXPECT_TRUE(agent().runCycle(stages));
  EXPECT_EQ(remoteStamps(), "05/03/2024 02:07:09 PM / 05/03/2024 02:07:09 PM");
  EXPECT_TRUE(messages_.texts.empty());
  EXPECT_EQ(journalLinesWith("stage check start stamp: 1 rows"), 1u);
}

TEST_F(CycleTest, ADriverInjectedThroughRemoteAccountsIsNeverLoaded) {
  // A file that is no library: loading it would fail with the driver
  // manager's "Can't open lib"; kept one server name, it names no host.
  const std::string library = (home_.path() / "platform.ini").string();
  home_.write(
      kRemoteAccountsFileName,
      "[P001]\nuser = u\npassword = p\nserver = 127.0.0.1;DRIVER=" + library + "\ndatabase = d\n");
  agent().connectLocal();
  EXPECT_FALSE(agent().runCycle({}));
  ASSERT_FALSE(messages_.texts.empty());
  for (const std::string& line : journal_.recentLines()) {
    EXPECT_EQ(line.find("Can't open lib"), std::string::npos) << line;
  }
  EXPECT_EQ(journalLinesWith("remote connection failed"), 1u);
  EXPECT_EQ(remoteStamps(), "NULL / NULL");
}

TEST_F(CycleTest, SecondCycleDropsEachLeftoverTemporaryTableOnceAndCompletes) {
  agent().connectLocal();
  std::vector<Stage> stages = {{"receipts", createsBothTables}};
  EXPECT_TRUE(agent().runCycle(stages));
  EXPECT_EQ(journalLinesWith("leftover "), 0u);
  // The next cycle meets both tables: the error naming #TMPUPREC drops that
  // table; the one naming #TMPUPRECEIPT drops that table, never #TMPUPREC.
  EXPECT_TRUE(agent().runCycle(stages));
  EXPECT_EQ(journalLinesWith("leftover #TMPUPREC: drop table #TMPUPREC"), 1u);
  EXPECT_EQ(journalLinesWith("leftover #TMPUPRECEIPT: drop table #TMPUPRECEIPT"), 1u);
  EXPECT_TRUE(messages_.texts.empty());

  // Only the receipt table is met now: the other one stays as it was.
  std::vector<Stage> receiptOnly = {{"receipts", createsReceiptTable}};
  EXPECT_TRUE(agent().runCycle(receiptOnly));
  EXPECT_EQ(journalLinesWith("leftover #TMPUPRECEIPT:"), 2u);
  EXPECT_EQ(journalLinesWith("leftover #TMPUPREC:"), 1u);
}

TEST_F(CycleTest, FailingDropEndsTheCycleNotTheProgram) {
  agent().connectLocal();
  std::vector<Stage> stages = {{"balances", readsMissingBalance}};
  EXPECT_FALSE(agent().runCycle(stages));
  ASSERT_EQ(messages_.texts.size(), 1u);
  // The drop's own error is reported: the description and the number.
  EXPECT_NE(messages_.texts[0].find("Cannot drop the table '#TMPUPBAL'"), std::string::npos)
      << messages_.texts[0];
  EXPECT_NE(messages_.texts[0].find(" -21472"), std::string::npos) << messages_.texts[0];
  EXPECT_NE(remoteStamps().find("/ NULL"), std::string::npos);
  // The agent goes on: the next cycle runs as usual.
  EXPECT_TRUE(agent().runCycle(std::vector<Stage>{}));
}

TEST_F(CycleTest, AStatementIsRunAgainOnlyOnceAfterADrop) {
  agent().connectLocal();
  local_.execute("create view FEEPG as select * from college");
  // The view exists: the drop succeeds, and the statement run again fails
  // once more naming the view (it now reads a view that is gone). That
  // error is reported, with no second drop.
  std::vector<Stage> stages = {{"views", [](CycleContext& ctx) -> std::size_t {
                                  ctx.local.execute("CREATE VIEW FEEPG AS select * from FEEPG");
                                  return 0;
                                }}};
  EXPECT_FALSE(agent().runCycle(stages));
  EXPECT_EQ(journalLinesWith("DROP VIEW FEEPG"), 1u);
  ASSERT_EQ(messages_.texts.size(), 1u);
  EXPECT_NE(messages_.texts[0].find("FEEPG"), std::string::npos);
}

TEST_F(CycleTest, GenericFailureEndsTheCycleSilentlyButNotInTheLog) {
  agent().connectLocal();
  std::vector<Stage> stages = {{"receipts", failsGenerically}};
  EXPECT_FALSE(agent().runCycle(stages));
  EXPECT_TRUE(messages_.texts.empty());
  EXPECT_EQ(journalLinesWith("cycle ended silently: [ma-3.1.15] Lost connection"), 1u);
  EXPECT_NE(remoteStamps().find("/ NULL"), std::string::npos);
}

TEST_F(CycleTest, FailedRemoteConnectGivesItsMessageThenTheStampsMessage) {
  home_.write("remote-accounts.ini", "");  // P001 has no values: the open fails
  agent().connectLocal();
  EXPECT_FALSE(agent().runCycle(std::vector<Stage>{}));
  ASSERT_EQ(messages_.texts.size(), 2u);
  EXPECT_FALSE(messages_.texts[0].empty());
  EXPECT_EQ(messages_.texts[1], "Operation is not allowed when the object is closed. -2146824584");
  EXPECT_EQ(remoteStamps(), "NULL / NULL");
}

TEST_F(CycleTest, SettingsFileDecidesWhetherTheProgramCanGoOn) {
  std::filesystem::remove(home_.path() / kSettingsFileName);
  EXPECT_EQ(programEndOfConnect(), "DB Path Not Identified");
  home_.settings("", "x", "y", "z");
  EXPECT_EQ(programEndOfConnect(), "Database type not specified!!");
  // A type in the wrong case opens nothing and says nothing. The code stays
  // empty, so the cycle reports the failed remote connect, then the start
  // stamp sent on the unopened connection.
  home_.settings("sqlsrvr", local_.serverFolder().string(), local_.name(),
                 LocalTestDatabase::kSaPassword);
  agent().connectLocal();
  EXPECT_TRUE(messages_.texts.empty());
  EXPECT_EQ(agent().univCode(), "");
  std::vector<Stage> stages = {{"masters", readsLocalControl}};
  EXPECT_FALSE(agent().runCycle(stages));
  ASSERT_EQ(messages_.texts.size(), 2u);
  EXPECT_EQ(messages_.texts[1], "Operation is not allowed when the object is closed. -2146824584");
  // A wrong password ends the program with the driver's number and text.
  home_.settings("SQLSRVR", local_.serverFolder().string(), local_.name(), "wrong");
  EXPECT_THROW(agent().connectLocal(), ProgramEnd);
}

}  // namespace
}  // namespace agent
