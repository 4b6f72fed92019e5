// Gateway payment posting against the embedded local database and the test
// MariaDB server as the portal: allocation through the real views, the
// written receipt, the portal mark, the payments passed over, what a
// failure in the middle of a payment leaves behind, the pending payments
// read a batch at a time, and the payment stages within whole cycles.
#include "payments/payment_posting.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "app/core/stage_order.h"
#include "cycle/cycle.h"
#include "db/error.h"
#include "db/remote_literal.h"
#include "payments/receipt_download.h"
#include "payments/receipt_numbers.h"
#include "payments/set_aside.h"
#include "payments/sql_literal.h"
#include "tests/payments/payment_world.h"
#include "tests/support/program_folder.h"
#include "tests/support/recording_connection.h"

namespace agent {
namespace {

using testing::LocalOffice;
using testing::PaymentWorld;
using testing::StageRun;

class PaymentPosting : public ::testing::Test {
 protected:
  PaymentPosting() : world("posting") {}

  std::size_t post() {
    StageRun run(world);
    return postGatewayPayments(run.context());
  }
  // "head amount" per receipt line, in head order.
  std::vector<std::string> lines(const std::string& recNo) {
    std::vector<std::string> out;
    auto rs = world.local().query(
        "select fheadcode, famount from recdetl where frecno = '" + recNo + "' order by fheadcode",
        Cursor::Static);
    for (; !rs->eof(); rs->moveNext())
      out.push_back(rs->field("fheadcode").textValue() + " " + valueText(rs->field("famount")));
    return out;
  }
  std::string portalRecNo(const std::string& orderId) {
    return world.remoteScalar("select frecno from rzp_paymentgateway where forderid = " +
                              remoteLiteral(orderId));
  }
  long pendingOnPortal() {
    return std::stol(
        world.remoteScalar("select count(*) from rzp_paymentgateway where fdownloaddate is null"));
  }
  // Students owing 1000 under head A and 500 under B.
  void studentsWithTwoHeads(std::initializer_list<const char*> admNos) {
    for (const char* admNo : admNos) world.office.addStudent(admNo, "Student", {1000, 500});
  }
  void pay(const std::string& admNo, std::optional<double> amount, const std::string& orderId,
           int minute, const std::string& txn = "TXN") {
    world.portal().addPayment(
        {admNo, amount, DateTime{2024, 3, 5, 10, minute}, orderId, txn, "UPI", "captured"});
  }

  PaymentWorld world;
};

// Each payment spreads over the positive balances, the whole amount is
// booked in fdate order with one number each, and the same order id twice
// is booked once with both portal rows marked. Another writer of the local
// database books the first payment between the stage's first look at
// paygate and its transaction: the transaction looks again and writes
// nothing.
TEST_F(PaymentPosting, SpreadsEachPaymentOverThePositiveBalancesAndBooksEachOrderOnce) {
  world.office.addStudent("S1", "Asha D'Souza", {1000, 500});  // a quote in a local value
  studentsWithTwoHeads({"S2", "S3"});
  world.capture("S1", 100, "ORD-R", -1);
  world.capture("S1", 1200, "ORD-1", 0);
  world.capture("S2", 2000, "ORD'2\\", 1);  // quote and backslash in a portal value
  world.capture("S3", 100, "ORD-X", 2);
  world.capture("S3", 100, "ORD-X", 3);
  bool booked = false;
  testing::BeforeStatement other(world.local(), "BEGIN TRAN", [&] {
    if (std::exchange(booked, true)) return;
    world.local().execute(
        "insert into paygate(fadmno, forderid, famount) values('S1', 'ORD-R', 100)");
  });
  {
    StageRun run(world, other, world.remote());
    EXPECT_EQ(postGatewayPayments(run.context()), 3u);
  }
  EXPECT_EQ(testing::journalLinesWith(world.journal, "booked by another program meanwhile"), 1u);

  EXPECT_EQ(lines("000001"), (std::vector<std::string>{"A 1000", "B 200"}));
  EXPECT_EQ(lines("000002"), (std::vector<std::string>{"A 1000", "B 500"}));
  EXPECT_EQ(lines("000003"), (std::vector<std::string>{"A 100"}));
  // 5 March 2024 10:30 is booked on 05/03/2024.
  EXPECT_EQ(world.office.head(
                "000001", "fname, freccode, ftotal, faccno, fcardbankname, frecdate, fcarddate"),
            "Asha D'Souza|S1|1200|PAYG|ONLINE|05/03/2024|05/03/2024");
  EXPECT_EQ(world.office.head("000002", "ftotal, fnettotal, fcardamount, fremarks, fcardno"),
            "2000|2000|2000|ORD'2\\|TXN-ORD'2\\");
  EXPECT_EQ(world.office.row("select forderdate, famount from paygate where forderid = 'ORD''2\\'"),
            "05/03/2024|2000");
  EXPECT_EQ(world.office.count("paygate"), 4);
  EXPECT_EQ(world.remoteScalar("select group_concat(concat(forderid, '=', frecno) order by fdate) "
                               "from rzp_paymentgateway"),
            "ORD-1=000001,ORD'2\\=000002,ORD-X=000003,ORD-X=000003");
  EXPECT_EQ(pendingOnPortal(), 1);  // ORD-R, which the other writer booked
  EXPECT_EQ(world.office.scalar("select frecno from control"), "000003");
  // The second ORD-X row was marked with the first: no repair of a lost mark.
  EXPECT_EQ(testing::journalLinesWith(world.journal, "marked now"), 0u);

  EXPECT_EQ(post(), 0u);  // a second cycle finds nothing pending
  EXPECT_EQ(world.office.count("rechead"), 3);
}

// Poison rows among good ones: each is left pending on the portal with one
// warning a run naming its order id (control characters shown escaped, so
// no forged journal line) and why; no receipt number is spent on it (the
// booking refused by the local database advanced the counter inside its
// transaction), and the good payments around it are booked. Paygate rows
// without the receipt that booked them (removed by hand) leave their
// payments pending too: no number to mark them with, one warning a run.
TEST_F(PaymentPosting, PoisonRowsAreSetAsideWithOneWarningEachAndSpendNoReceiptNumber) {
  // A portal whose columns are wider than the office's.
  world.remote().execute(
      "alter table rzp_paymentgateway modify famtpaidtoinst decimal(15,3), modify forderid "
      "varchar(5000)");
  studentsWithTwoHeads({"S1"});
  world.office.addStudent("NOFEES", "No Fees");
  pay("S1", 100, "ORD-A", 0);
  pay("S1", 100, "ORD-LONGTXN", 1, std::string(60, 'T'));  // rechead.fcardno is varchar(50)
  pay(std::string("S1\0X", 4), 100, "ORD-NUL", 2);
  pay("NOBODY", 100, "ORD-UNKNOWN", 3);
  pay("NOFEES", 100, "ORD-NOFEES", 4);
  pay("S1", -5000, "ORD-NEG", 5);
  pay("S1", 0, "ORD-ZERO", 6);
  pay("S1", 99999999999, "ORD-HUGE", 7);
  pay("S1", 12.345, "ORD-CENTS", 8);
  pay("S1", 100, std::string(4000, 'X') + "\n", 9);
  pay("S1", 200, "ORD-Z", 10);
  pay("S1", std::nullopt, "ORD-NULL", 11);
  // A NUL would cut the id (and book it under "ORD-NUL"); a line feed would
  // write a forged journal line.
  pay("S1", 100, std::string("ORD-NUL\0-TAIL", 13), 12);
  pay("S1", 100, "ORD-LF\nINFO cycle end: stamped", 13);
  pay("S1", 100, "ORD-TXN", 14, "pay\x1b[2J");
  world.portal().addPayment({"S1", 100, std::nullopt, "ORD-NODATE", "T", "UPI", "captured"});
  world.portal().addPayment({"S1", 100, DateTime{2024, 3, 6}, "ORD-FAIL", "T", "UPI", "failed"});
  world.local().execute(
      "insert into paygate(fadmno, forderid, famount) values('S1', 'ORD-G1', 100), ('S1', "
      "'ORD-G2', 100)");
  pay("S1", 100, "ORD-G1", 15);
  pay("S1", 100, "ORD-G2", 16);

  const std::vector<std::pair<std::string, std::string>> expected = {
      {"'ORD-NODATE'", ""},
      {"'ORD-LONGTXN'", "String or binary data would be truncated"},
      {"'ORD-NUL'", "admission number 'S1\\x00X' holds a control character"},
      {"'ORD-UNKNOWN'", "student 'NOBODY' is unknown locally"},
      {"'ORD-NOFEES'", "student 'NOFEES' has no fee rows"},
      {"'ORD-NEG'", "amount -5000 is not positive"},
      {"'ORD-ZERO'", "amount 0 is not positive"},
      {"'ORD-HUGE'", "amount 99999999999 is beyond the local numeric(12,2) columns"},
      {"'ORD-CENTS'", "amount 12.345 has more than two decimals"},
      {"'XXXX", "... (4001 bytes)' left on the portal: order id"},
      {"'ORD-NULL'", ""},
      {"'ORD-NUL\\x00-TAIL'", ""},
      {"'ORD-LF\\nINFO cycle end: stamped'", ""},
      {"'pay\\x1B[2J'", ""},
      {"2 pending gateway payment(s) are in paygate but no local receipt holds",
       "'ORD-G1', 'ORD-G2'"}};
  for (int run = 1; run <= 2; ++run) {
    EXPECT_EQ(post(), run == 1 ? 2u : 0u);  // the next cycle meets them again
    std::vector<std::string> warnings;
    for (const std::string& line : world.journal.recentLines()) {
      EXPECT_EQ(line.find_first_of(std::string("\n\r\0\x1b", 4)), std::string::npos) << line;
      if (line.starts_with("WARN ")) warnings.push_back(line);
    }
    ASSERT_EQ(warnings.size(), expected.size() * run)
        << testing::journalLines(world.journal, "WARN");
    for (std::size_t i = 0; i < expected.size(); ++i) {
      const std::string& line = warnings[expected.size() * (run - 1) + i];
      EXPECT_NE(line.find(expected[i].first), std::string::npos) << line;
      EXPECT_NE(line.find(expected[i].second), std::string::npos) << line;
      EXPECT_LT(line.size(), 400u) << line;
    }
    EXPECT_EQ(portalRecNo("ORD-A"), "000001");
    EXPECT_EQ(portalRecNo("ORD-Z"), "000002");
    EXPECT_EQ(world.office.scalar("select frecno from control"), "000002");
    EXPECT_EQ(world.office.count("rechead"), 2);
    EXPECT_EQ(world.office.count("recdetl"), 2);
    EXPECT_EQ(world.office.count("paygate"), 4);
    EXPECT_EQ(pendingOnPortal(), 17);
  }
  // The ids arrive whole through the driver.
  EXPECT_EQ(world.remoteScalar("select length(forderid) from rzp_paymentgateway where forderid "
                               "like 'ORD-NUL_%'"),
            "13");
}

// A failure after the receipt lines leaves nothing, not even the number,
// and the payment books later; a number already taken ends the cycle with
// the duplicate message.
TEST_F(PaymentPosting, AFailedBookingLeavesNothingAndATakenNumberEndsTheCycle) {
  studentsWithTwoHeads({"S1"});
  world.capture("S1", 1200, "ORD-1", 0);
  testing::FailingConnection failing(
      world.local(), "insert into rechead",
      DbError("08S01", 0, "Communication link failure while writing the receipt header"));
  {
    StageRun run(world, failing, world.remote());
    EXPECT_THROW(postGatewayPayments(run.context()), AgentError);
  }
  ASSERT_TRUE(failing.fired());
  for (const char* table : {"recdetl", "rechead", "paygate"}) {
    EXPECT_EQ(world.office.count(table), 0) << table;
  }
  EXPECT_EQ(pendingOnPortal(), 1);
  // The receipt number went back with the rest.
  EXPECT_EQ(world.office.scalar("select frecno from control"), "");

  EXPECT_EQ(post(), 1u);
  EXPECT_EQ(lines("000001"), (std::vector<std::string>{"A 1000", "B 200"}));
  EXPECT_EQ(portalRecNo("ORD-1"), "000001");

  world.office.db().execute("insert into rechead(frecno, freccode) values('000002', 'OLD')");
  world.capture("S1", 100, "ORD-D", 1);
  EXPECT_THROW(post(), CycleAbort);
  EXPECT_EQ(world.messages.texts, (std::vector<std::string>{"This Rec. no. is already exist!!",
                                                            "Duplicate Rec. No. found"}));
  EXPECT_EQ(pendingOnPortal(), 1);
  EXPECT_EQ(world.office.count("paygate"), 1);
}

// The mark lost as it happens: the portal row is locked by another session
// (the portal itself, mid-update) longer than the agent's lock wait. The
// receipt stays, and the next run marks the row with it.
TEST_F(PaymentPosting, MarkLostToARowLockIsMadeByTheNextRunWithTheBookingReceipt) {
  studentsWithTwoHeads({"S1", "S2"});
  world.capture("S1", 700, "ORD-L", 0);
  world.capture("S2", 300, "ORD-AFTER", 1);
  world.remote().execute("SET SESSION innodb_lock_wait_timeout = 1");
  {
    std::unique_ptr<Connection> portal = world.remoteDatabase().connect();
    portal->execute("START TRANSACTION");
    portal->query("select * from rzp_paymentgateway where forderid = 'ORD-L' for update",
                  Cursor::Static);
    EXPECT_THROW(post(), AgentError);
    portal->execute("ROLLBACK");
  }
  EXPECT_EQ(lines("000001"), std::vector<std::string>{"A 700"});
  EXPECT_EQ(world.office.count("paygate"), 1);
  EXPECT_EQ(pendingOnPortal(), 2);

  EXPECT_EQ(post(), 1u);  // ORD-AFTER, which the failed run never reached

  EXPECT_EQ(portalRecNo("ORD-L"), "000001");
  EXPECT_EQ(portalRecNo("ORD-AFTER"), "000002");
  EXPECT_EQ(world.office.count("rechead"), 2);
  EXPECT_EQ(pendingOnPortal(), 0);
  EXPECT_EQ(testing::journalLinesWith(world.journal, "'ORD-L' was booked as receipt 000001"), 1u);
}

// Both payment stages as the cycle order has them, for each institution
// code: posting runs for a code found anywhere in its list (P00 and P01 as
// parts of longer codes), the download only for the code followed by "*".
TEST(PaymentGates, EachStageRunsForItsInstitutionsOnly) {
  using Gate = std::tuple<const char*, bool, bool>;  // code, posts, downloads
  for (auto [code, posts, downloads] :
       {Gate{"P001", true, false}, Gate{"P00", true, false}, Gate{"P019", false, true},
        Gate{"P028", false, false}, Gate{"P01", true, false}}) {
    PaymentWorld world("gate", code);
    world.office.addStudent("S1", "Student", {1000});
    world.capture("S1", 100, "ORD-G", 0);
    world.portal().addStudent("S1", "Ravi", "BSC");
    world.portal().addReceipt(testing::portalReceipt("R1"));
    std::vector<Stage> stages;
    for (const Stage& stage : cycleStages()) {
      if (stage.run == postGatewayPayments || stage.run == downloadPortalReceipts)
        stages.push_back(stage);
    }
    ASSERT_EQ(stages.size(), 2u);
    StageRun run(world);
    EXPECT_TRUE(runUploadCycle(run.context(), stages)) << code;
    EXPECT_EQ(world.office.count("rechead", "frecno <> 'R1'"), posts ? 1 : 0) << code;
    EXPECT_EQ(world.office.count("rechead", "frecno = 'R1'"), downloads ? 1 : 0) << code;
  }
}

// Pending payments are read a batch at a time: more than one read holds, with what makes a batch's
// start hard to place: rows without a date (first in the order), a run of
// 1,500 rows of one date across the batch boundary, payments to book in the
// middle of it. Each set-aside row counts once a run, each bookable one is
// booked once: across the batches of a run every row is met exactly once.
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

// Receipt numbering against the embedded local database: which counter a
// college uses, what is stored back, the refusals.
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

TEST_F(ReceiptNumbers, GroupCollegesCountInTheirGroupAndOthersInControl) {
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

}  // namespace
}  // namespace agent
