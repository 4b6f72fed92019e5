// Portal receipt download against the embedded local database and the test
// MariaDB server as the portal: what is copied, what is left, and that a
// second cycle changes nothing.
#include "payments/receipt_download.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "tests/payments/payment_world.h"

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
  std::string head(const std::string& recNo, const std::string& columns) {
    return world.office.head(recNo, columns);
  }
  PortalReceipt receipt(const std::string& recNo) { return testing::portalReceipt(recNo); }

  PaymentWorld world;
};

// What is copied, once: header, lines and card fields (from the first
// 'PG' mode row of a portal that keeps several), a nameless student named
// NAME, the lines of a header without its student; cancelled receipts are
// left, and so are rows without an amount or a date, whose values the
// local tables cannot hold (on a portal with wider columns than the
// office's), or whose receipt or instrument number holds a control
// character (a NUL would cut it into another receipt's number): each with a
// warning every cycle. The portal changing its copy later changes nothing.
TEST_F(ReceiptDownload, CopiesWhatFitsOnceAndSetsTheRestAsideEveryCycle) {
  world.remote().execute("alter table recmode drop primary key");
  world.remote().execute(
      "alter table rechead modify fremarks varchar(500), modify fnettotal decimal(15,2)");
  world.portal().addStudent("S1", "Ravi O'Neil", "BSC");
  world.portal().addStudent("S2", "", "BSC");
  // A portal receipt recNo as edit leaves it.
  auto add = [this](const std::string& recNo, auto edit) {
    PortalReceipt r = receipt(recNo);
    edit(r);
    world.portal().addReceipt(r);
  };
  add("R1", [](PortalReceipt& r) {
    r.lines = {{"TUITION", 1000}, {"BUS", 500}};
    r.modes = {{"PAY-77", 1500, DateTime{2024, 3, 6}}, {"SECOND", 500, DateTime{2024, 3, 8}}};
  });
  add("R3", [](PortalReceipt& r) { r.admNo = "S2", r.deleted = "F"; });
  add("R4", [](PortalReceipt& r) { r.admNo = "NOBODY", r.lines = {{"TUITION", 1000}}; });
  add("R-T", [](PortalReceipt& r) { r.deleted = "T", r.lines = {{"TUITION", 1000}}; });
  // rechead.fremarks is varchar(200)
  add("R12", [](PortalReceipt& r) { r.remarks = std::string(300, 'r'); });
  add("R13", [](PortalReceipt& r) { r.total = -5; });
  add("R14", [](PortalReceipt& r) { r.lines = {{"BUS", 0}, {"TUITION", 700}}; });
  add("R15", [](PortalReceipt& r) { r.netTotal = 99999999999; });
  add("R16", [](PortalReceipt& r) {
    r.total.reset();
    r.lines = {{"TUITION", std::nullopt}, {"BUS", 200}};
  });
  add("R17", [](PortalReceipt& r) { r.date.reset(), r.modes = {{"NODATE", 100, std::nullopt}}; });
  add(std::string("R19\0X", 5), [](PortalReceipt& r) { r.lines = {{"TUITION", 1000}}; });
  add("R19", [](PortalReceipt&) {});  // what a cut number would collide with
  add("R18", [](PortalReceipt& r) {
    r.modes = {{"PAY-1\nINFO cycle end: stamped", 1500, DateTime{2024, 3, 6}}};
  });

  for (int cycle = 1; cycle <= 2; ++cycle) {
    // R1, its two lines, R3, the line of R4, R14, its TUITION line, the BUS
    // line of R16, R18 without its mode row, R19.
    EXPECT_EQ(download(), cycle == 1 ? 10u : 0u);
    EXPECT_EQ(head("R1",
                   "fname, freccode, faccno, frectype, ftotal, fnettotal, fusername, frecdate, "
                   "fcardno, fcarddate, fcardamount, fcardbankname"),
              "Ravi O'Neil|S1|PG|S|1500|1500|online|05/03/2024|PAY-77|06/03/2024|1500|ONLINE");
    EXPECT_EQ(world.office.scalar(
                  "select famount from recdetl where frecno = 'R1' and fheadcode = 'BUS'"),
              "500");
    EXPECT_EQ(world.office.count("recdetl", "frecno = 'R1'"), 2);
    EXPECT_EQ(head("R3", "fname"), "NAME");
    EXPECT_EQ(world.office.count("rechead", "frecno in ('R4', 'R-T')"), 0);
    EXPECT_EQ(world.office.count("recdetl", "frecno = 'R4'"), 1);
    EXPECT_EQ(world.office.count("recdetl", "frecno = 'R-T'"), 0);
    EXPECT_EQ(world.office.count("rechead"), 5);
    EXPECT_EQ(world.office.count("recdetl"), 5);
    EXPECT_EQ(head("R19", "ftotal, fcardno"), "1500|R19");
    EXPECT_EQ(head("R18", "fcardno"), "R18");
    // Those below, the header and TUITION line of R16, the header and mode
    // of R17.
    const std::string warnings = testing::journalLines(world.journal, "WARN");
    EXPECT_EQ(std::count(warnings.begin(), warnings.end(), '\n'), 11 * cycle) << warnings;
    for (const char* expected :
         {"header with receipt number 'R12' left on the portal: the local database refused its "
          "values (String or binary data would be truncated.)",
          "header with receipt number 'R13' left on the portal: ftotal: amount -5 is not positive",
          "line with receipt number 'R14' left on the portal: famount: amount 0 is not positive",
          "header with receipt number 'R15' left on the portal: fnettotal: amount 99999999999 is "
          "beyond",
          "header with receipt number 'R19\\x00X'", "line with receipt number 'R19\\x00X'",
          "finstrno 'PAY-1\\nINFO cycle end: stamped'"}) {
      EXPECT_NE(warnings.find(expected), std::string::npos) << expected << "\n" << warnings;
    }
    // The portal changes its copy; the local one stays as first copied.
    world.remote().execute("update rechead set ftotal = 9 where frecno = 'R1'");
    world.remote().execute("update recdetl set famount = 9 where frecno = 'R1'");
  }
}

}  // namespace
}  // namespace agent
