// The pending payments are read a batch at a time; across the batches of
// one run every pending row is met exactly once.
#include <gtest/gtest.h>

#include <string>

#include "payments/payment_posting.h"
#include "payments/set_aside.h"
#include "tests/payments/payment_world.h"
#include "tests/support/program_folder.h"

namespace agent {
namespace {

using testing::PaymentWorld;
using testing::StageRun;

// More pending payments than one read holds, with what makes a batch's
// start hard to place: rows without a date (first in the order), a run of
// 1,500 rows of one date across the batch boundary, payments to book in the
// middle of it. Each set-aside row counts once a run, each bookable one is
// booked once.
TEST(PendingBatches, EveryPendingPaymentIsMetOnceAcrossBoundariesAndEqualDates) {
  PaymentWorld world("batches");
  auto unknown = [&](const std::string& tag, int count, const std::string& date) {
    world.remote().execute(
        "insert into rzp_paymentgateway(fadmno, famtpaidtoinst, fdate, forderid, "
        "ftransactionid, fmodeofpayment, fstatus) select concat('U', seq), 100, " +
        date + ", concat('ORD-" + tag + "', seq), 'T', 'UPI', 'captured' from seq_1_to_" +
        std::to_string(count));
  };
  const std::string sameDate = "timestamp('2024-03-05 10:30:00')";
  for (const char* admNo : {"S1", "S2", "S3"}) world.office.addStudent(admNo, "Student", {1000});
  unknown("T1-", 900, sameDate);
  world.capture("S1", 100, "ORD-B1", 0);  // 10:30, inside the run of equal dates
  unknown("N-", 300, "NULL");
  unknown("T2-", 599, sameDate);
  world.capture("S2", 100, "ORD-B2", 0);
  unknown("L-", 700, sameDate + " + interval seq second");
  world.portal().addPayment(  // among the later dates
      {"S3", 100, DateTime{2024, 3, 5, 10, 33, 20}, "ORD-B3", "T", "UPI", "captured"});
  const std::size_t setAside = 900 + 300 + 599 + 700;

  for (int run = 1; run <= 2; ++run) {
    const std::size_t warningsBefore = world.journal.warningCount();
    {
      StageRun stage(world);
      EXPECT_EQ(postGatewayPayments(stage.context()), run == 1 ? 3u : 0u);
    }
    // 100 named, then one line counting the rest.
    EXPECT_EQ(world.journal.warningCount() - warningsBefore, SetAsideRows::kNamedRows + 1);
    EXPECT_EQ(testing::journalLinesWith(world.journal,
                                        std::to_string(setAside - SetAsideRows::kNamedRows) +
                                            " more gateway payment rows left on the portal"),
              static_cast<std::size_t>(run));
  }
  EXPECT_EQ(world.office.count("rechead"), 3);
  EXPECT_EQ(world.office.count("paygate"), 3);
  EXPECT_EQ(world.remoteScalar("select count(*) from rzp_paymentgateway where fdownloaddate is "
                               "null"),
            std::to_string(setAside));
  EXPECT_EQ(world.remoteScalar("select group_concat(frecno order by forderid) from "
                               "rzp_paymentgateway where forderid like 'ORD-B%'"),
            "000001,000002,000003");
}

}  // namespace
}  // namespace agent
