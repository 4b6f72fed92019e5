// Portal receipt download against the embedded local database and the test
// MariaDB server as the portal: what is copied, what is left, and that a
// second cycle changes nothing.
#include "payments/receipt_download.h"

#include <gtest/gtest.h>

#include "app/core/stage_order.h"
#include "tests/payments/payment_world.h"
#include "upload/cycle.h"

namespace agent {
namespace {

using testing::PaymentWorld;
using testing::StageRun;

class ReceiptDownload : public ::testing::Test {
 protected:
  ReceiptDownload() : world("download", "P019") {}

  std::size_t download() {
    StageRun run(world);
    return downloadPortalReceipts(run.context());
  }
  std::string head(const std::string& recNo, const std::string& column) {
    return world.office.scalar("select " + column + " from rechead where frecno = '" + recNo + "'");
  }
  // A portal receipt of student S1 dated 5 March 2024 10:30.
  PortalReceipt receipt(const std::string& recNo) {
    PortalReceipt r;
    r.recNo = recNo;
    r.date = DateTime{2024, 3, 5, 10, 30, 0};
    r.admNo = "S1";
    r.degree = "BSC";
    r.examNo = "1";
    r.total = 1500;
    r.netTotal = 1500;
    r.remarks = "paid online";
    return r;
  }

  PaymentWorld world;
};

TEST_F(ReceiptDownload, CopiesHeaderLinesAndCardFieldsOnceAndASecondCycleChangesNothing) {
  world.portal().addStudent("S1", "Ravi O'Neil", "BSC");
  PortalReceipt r1 = receipt("R1");
  r1.lines = {{"TUITION", 1000}, {"BUS", 500}};
  r1.modes = {{"PAY-77", 1500, DateTime{2024, 3, 6}}};
  world.portal().addReceipt(r1);

  EXPECT_EQ(download(), 3u);

  EXPECT_EQ(head("R1", "fname"), "Ravi O'Neil");
  EXPECT_EQ(head("R1", "freccode"), "S1");
  EXPECT_EQ(head("R1", "faccno"), "PG");
  EXPECT_EQ(head("R1", "frectype"), "S");
  EXPECT_EQ(head("R1", "ftotal"), "1500");
  EXPECT_EQ(head("R1", "fnettotal"), "1500");
  EXPECT_EQ(head("R1", "fusername"), "online");
  EXPECT_EQ(head("R1", "frecdate"), "05/03/2024");
  EXPECT_EQ(head("R1", "fcardno"), "PAY-77");
  EXPECT_EQ(head("R1", "fcarddate"), "06/03/2024");
  EXPECT_EQ(head("R1", "fcardamount"), "1500");
  EXPECT_EQ(head("R1", "fcardbankname"), "ONLINE");
  EXPECT_EQ(
      world.office.scalar("select famount from recdetl where frecno = 'R1' and fheadcode = 'BUS'"),
      "500");
  EXPECT_EQ(world.office.count("recdetl", "frecno = 'R1'"), 2);

  // The portal changes its copy; the local one stays as first copied.
  world.remote().execute("update rechead set ftotal = 9 where frecno = 'R1'");
  world.remote().execute("update recdetl set famount = 9 where frecno = 'R1'");
  EXPECT_EQ(download(), 0u);
  EXPECT_EQ(world.office.count("rechead"), 1);
  EXPECT_EQ(world.office.count("recdetl"), 2);
  EXPECT_EQ(head("R1", "ftotal"), "1500");
  EXPECT_EQ(head("R1", "fcardno"), "PAY-77");
}

TEST_F(ReceiptDownload, CancelledReceiptsAreLeftAndOtherFlagsAreCopied) {
  world.portal().addStudent("S1", "Ravi", "BSC");
  PortalReceipt cancelled = receipt("R-T");
  cancelled.deleted = "T";
  cancelled.lines = {{"TUITION", 1000}};
  world.portal().addReceipt(cancelled);
  PortalReceipt live = receipt("R-F");
  live.deleted = "F";
  world.portal().addReceipt(live);
  world.portal().addReceipt(receipt("R-NULL"));

  download();

  EXPECT_EQ(world.office.count("rechead", "frecno = 'R-T'"), 0);
  EXPECT_EQ(world.office.count("recdetl", "frecno = 'R-T'"), 0);
  EXPECT_EQ(world.office.count("rechead", "frecno in ('R-F', 'R-NULL')"), 2);
}

TEST_F(ReceiptDownload, FirstModeRowSetsTheCardFieldsLaterOnesChangeNothing) {
  // A portal that keeps more than one 'PG' mode row per receipt.
  world.remote().execute("alter table recmode drop primary key");
  world.portal().addStudent("S1", "Ravi", "BSC");
  PortalReceipt r = receipt("R2");
  r.modes = {{"FIRST", 1000, DateTime{2024, 3, 7}}, {"SECOND", 500, DateTime{2024, 3, 8}}};
  world.portal().addReceipt(r);

  download();
  download();

  EXPECT_EQ(head("R2", "fcardno"), "FIRST");
  EXPECT_EQ(head("R2", "fcardamount"), "1000");
  EXPECT_EQ(head("R2", "fcarddate"), "07/03/2024");
}

TEST_F(ReceiptDownload, NamelessStudentIsNamedNameAndAHeaderWithoutStudentKeepsItsLines) {
  world.portal().addStudent("S1", "", "BSC");
  world.portal().addReceipt(receipt("R3"));
  PortalReceipt orphan = receipt("R4");
  orphan.admNo = "NOBODY";
  orphan.lines = {{"TUITION", 1000}};
  world.portal().addReceipt(orphan);

  download();

  EXPECT_EQ(head("R3", "fname"), "NAME");
  EXPECT_EQ(world.office.count("rechead", "frecno = 'R4'"), 0);
  EXPECT_EQ(world.office.count("recdetl", "frecno = 'R4'"), 1);
}

TEST_F(ReceiptDownload, RowsWithoutAmountOrDateAreLeftWithAWarningAndTheRestAreCopied) {
  world.portal().addStudent("S1", "Ravi", "BSC");
  PortalReceipt noTotal = receipt("R5");
  noTotal.total.reset();
  noTotal.lines = {{"TUITION", std::nullopt}, {"BUS", 200}};
  world.portal().addReceipt(noTotal);
  PortalReceipt noDate = receipt("R6");
  noDate.date.reset();
  noDate.modes = {{"NODATE", 100, std::nullopt}};
  world.portal().addReceipt(noDate);
  world.portal().addReceipt(receipt("R7"));

  download();

  EXPECT_EQ(world.office.count("rechead"), 1);  // R7 only
  EXPECT_EQ(world.office.count("recdetl"), 1);  // BUS of R5
  long warnings = 0;
  for (const std::string& line : world.journal.recentLines()) {
    warnings += line.rfind("WARN", 0) == 0;
  }
  EXPECT_EQ(warnings, 4);  // header R5, line R5, header R6, mode R6
}

TEST(ReceiptDownloadGate, RunsForTheCodeFollowedByAStarOnly) {
  for (const auto& [code, runs] :
       std::vector<std::pair<std::string, bool>>{{"P019", true}, {"P01", false}, {"P001", false}}) {
    PaymentWorld world("dlgate", code);
    world.portal().addStudent("S1", "Ravi", "BSC");
    PortalReceipt r;
    r.recNo = "R1";
    r.admNo = "S1";
    r.date = DateTime{2024, 3, 5};
    r.total = r.netTotal = 10;
    world.portal().addReceipt(r);
    StageRun run(world);
    std::vector<Stage> stages;
    for (const Stage& stage : cycleStages()) {
      if (stage.run == downloadPortalReceipts) stages.push_back(stage);
    }
    ASSERT_EQ(stages.size(), 1u);
    EXPECT_TRUE(runUploadCycle(run.context(), stages)) << code;
    EXPECT_EQ(world.office.count("rechead"), runs ? 1 : 0) << code;
  }
}

}  // namespace
}  // namespace agent
