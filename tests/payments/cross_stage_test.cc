// A payment stage together with the fee balances and receipts stages of the
// same cycle: a booked gateway payment reaches the portal's receipt tables
// and fee balances, and a downloaded portal receipt goes back up unchanged.
#include <gtest/gtest.h>

#include <string>

#include "app/core/stage_order.h"
#include "cycle/cycle.h"
#include "tests/payments/payment_world.h"
#include "tests/support/program_folder.h"

namespace agent {
namespace {

using testing::PaymentWorld;
using testing::StageRun;

// A booked payment reaches the portal's receipt tables and fee balances in
// the same cycle. A payment the local database refuses (its transaction id
// is longer than the receipt's column) between two good ones costs one
// warning: the cycle books the good ones, runs every later stage and
// stamps its end; the bad one stays pending and no receipt number is lost.
TEST(PaymentCycle, PostedPaymentsReachThePortalAndAPoisonOneCostsOneWarning) {
  PaymentWorld world("cycle_post", "P001");
  world.office.addStudent("S1", "Asha D'Souza", {1000, 500});
  world.office.addStudent("S2", "Student", {1000});
  world.capture("S1", 1200, "ORD-1", 0);
  world.portal().addPayment({"S2", 250, DateTime{2024, 3, 5, 10, 30, 30}, "ORD-BAD",
                             std::string(60, 'T'), "UPI", "captured"});
  world.capture("S2", 300, "ORD-2", 1);
  StageRun run(world);

  ASSERT_TRUE(runUploadCycle(run.context(), cycleStages()))
      << testing::journalLines(world.journal, "ERROR");

  EXPECT_EQ(world.remoteScalar("select group_concat(concat(forderid, '=', ifnull(frecno, '-')) "
                               "order by fdate) from rzp_paymentgateway"),
            "ORD-1=000001,ORD-BAD=-,ORD-2=000002");
  EXPECT_EQ(world.remoteScalar("select group_concat(concat(frecno, '=', ftotal) order by frecno) "
                               "from rechead"),
            "000001=1200.00,000002=300.00");
  EXPECT_EQ(world.remoteScalar("select group_concat(concat(fheadcode, '=', famount) order by "
                               "fheadcode) from recdetl where frecno = '000001'"),
            "A=1000.00,B=200.00");
  EXPECT_EQ(world.remoteScalar("select group_concat(concat_ws('|', fpaytype, famount, finstrno)) "
                               "from recmode where frecno = '000001'"),
            "PG|1200.00|TXN-ORD-1");
  EXPECT_EQ(world.remoteScalar("select group_concat(concat(fadmno, fheadcode, '=', fbal) order by "
                               "fadmno, fheadcode) from studfee"),
            "S1A=0.00,S1B=300.00,S2A=700.00");
  EXPECT_EQ(testing::journalLinesWith(world.journal, "'ORD-BAD' left on the portal"), 1u);
  EXPECT_NE(testing::journalLines(world.journal, "INFO").find("stamped"), std::string::npos);
}

TEST(PaymentCycle, DownloadedPortalReceiptGoesBackUpUnchanged) {
  PaymentWorld world("cycle_download", "P019");
  world.office.addStudent("S1", "Ravi");
  world.portal().addStudent("S1", "Ravi", "BSC");
  PortalReceipt r1 = testing::portalReceipt("R1");
  r1.date = DateTime{2024, 3, 5};
  r1.lines = {{"TUITION", 1000}, {"BUS", 500}};
  r1.modes = {{"PAY-77", 1500, DateTime{2024, 3, 6}}};
  world.portal().addReceipt(r1);
  // The portal's receipt rows, header, lines and modes.
  auto portalRows = [&world] {
    return world.remoteScalar(
               "select concat_ws('|', frecno, frecdate, fadmno, ftotal, fdegree, fexamno, "
               "fdiscount, fnettotal) from rechead") +
           world.remoteScalar(
               "select group_concat(concat_ws('|', frecno, fheadcode, famount) "
               "order by fheadcode) from recdetl") +
           world.remoteScalar(
               "select group_concat(concat_ws('|', frecno, fpaytype, famount, "
               "finstrno, finstrdate)) from recmode");
  };
  const std::string before = portalRows();
  StageRun run(world);

  ASSERT_TRUE(runUploadCycle(run.context(), cycleStages()))
      << testing::journalLines(world.journal, "ERROR");

  EXPECT_EQ(world.office.count("rechead", "frecno = 'R1'"), 1);
  // It went back up through the receipts stage...
  EXPECT_EQ(testing::readFile(world.office.folder / "CSV" / "UPRECHEAD.csv").rfind("R1|", 0), 0u);
  // ...and the portal's rows are as the portal made them.
  EXPECT_EQ(portalRows(), before);
}

}  // namespace
}  // namespace agent
