// Receipts against the embedded local database and the remote server: one
// pass writing headers, lines and payment modes, the rules that turn a
// receipt's mode columns into mode rows, and a recmode that only gains rows.
#include <gtest/gtest.h>

#include "tests/upload/mirror_fixture.h"
#include "upload/table_stages.h"

namespace agent {
namespace {

class ReceiptsTest : public testing::MirrorFixture {
 protected:
  ReceiptsTest() {
    insertLocal("student (fadmno, fdegree, fyear)", {"'S1', 'BSC', '2024'", "'S2', 'BSC', '2024'"});
  }
  // A receipt of student admno in BSC, examination 1, on 5 March 2024, with
  // further header columns names holding values (SQL literals), and a TUI
  // line of amount tui when given.
  void receipt(const std::string& recno, const std::string& admno, const std::string& names,
               const std::string& values, const std::string& tui = "") {
    local("insert into RECHEAD (FRECNO, FRECCODE, FDEGREE, FEXAMNO, FRECDATE, " + names +
          ") values ('" + recno + "', '" + admno + "', 'BSC', '1', '2024-03-05', " + values + ")");
    if (!tui.empty()) line(recno, "TUI", tui);
  }
  void line(const std::string& recno, const std::string& head, const std::string& amount) {
    local("insert into RECDETL (FRECNO, FHEADCODE, FAMOUNT) values ('" + recno + "', '" + head +
          "', " + amount + ")");
  }
  std::string year() const { return std::to_string(clock_.now().year); }
};

// One pass writes headers, lines and mode rows (a receipt of no student
// left out); the mode columns become mode rows by their rules.
TEST_F(ReceiptsTest, ReceiptsLinesAndModeRowsByTheirRules) {
  receipt("R0", "S1",
          "FTOTAL, FNETTOTAL, FDISCOUNT, FCASHAMOUNT, FCHQAMOUNT, FCHQNO, FCHQDATE, FCHQBANKNAME, "
          "FREMARKS",
          "1500, 1500, 0, 500, 1000.00, '123', '2024-03-04', 'State Bank', 'not exported'", "700");
  line("R0", "BUS", "500");
  line("R0", "LIB", "300");
  receipt("RX", "S7", "FTOTAL, FCASHAMOUNT", "10, 10", "10");  // S7 is no student
  // Cheque of 0 with a number; a DD number of blanks alone does not count.
  receipt("R1", "S1", "FTOTAL, FDISCOUNT, FCHQAMOUNT, FCHQNO, FDDAMOUNT, FDDNO",
          "100, 0, 0, '77', 0, '   '", "1");
  // Card payments: only the bank name exactly ONLINE is the portal's.
  receipt("R2", "S1", "FCARDAMOUNT, FCARDNO, FCARDBANKNAME", "250, 'TX1', 'ONLINE'", "1");
  receipt("R3", "S1", "FCARDAMOUNT, FCARDBANKNAME", "250, 'Online'", "1");
  receipt("R4", "S1", "FCARDAMOUNT, FCARDBANKNAME", "250, 'ONLINE '", "1");
  // Fully discounted without a mode: one Cash entry, 0 without a cash amount.
  receipt("R5", "S1", "FTOTAL, FDISCOUNT, FCASHAMOUNT", "1000, 1000, 0", "1");
  receipt("R6", "S1", "FTOTAL, FDISCOUNT", "1000, 1000.00", "1");
  // No mode and a discount short of the total: no mode row.
  receipt("R7", "S1", "FTOTAL, FDISCOUNT", "1000, 999", "1");
  // Cancelled: T in its header only.
  receipt("R8", "S2", "FTOTAL, FCASHAMOUNT, FDELETED", "300, 300, 'T'", "1");
  // Every mode, in the order cash, cheque, DD, transfer, card, challan.
  receipt("R9", "S2",
          "FCHALAMOUNT, FCARDAMOUNT, FRTGSAMOUNT, FRTGSNO, FDDAMOUNT, FCHQAMOUNT, FCASHAMOUNT",
          "6, 5, 4, 'UTR9', 3, 2, 1", "1");

  EXPECT_EQ(uploadReceipts(ctx_), 12u);
  EXPECT_TRUE(exportFile("UPRECHEAD.csv")
                  .starts_with("R0|2024-03-05|S1|1500|BSC|1|0|1500|" + year() + "|1|\r\nR1|"));
  EXPECT_TRUE(exportFile("UPRECDETL.csv")
                  .starts_with("R0|BUS|500|F\r\nR0|LIB|300|F\r\nR0|TUI|700|F\r\nR1|"));
  EXPECT_EQ(exportFile("UPRECMODE.csv"),
            "R0|Cash|500||||F\r\nR0|Cheque|1000|123|2024-03-04|State Bank|F\r\n"
            "R1|Cheque|0|77|||F\r\n"
            "R2|PG|250|TX1||ONLINE|F\r\n"
            "R3|CARD|250|||Online|F\r\n"
            "R4|CARD|250|||ONLINE |F\r\n"
            "R5|Cash|0||||F\r\n"
            "R6|Cash|0||||F\r\n"
            "R8|Cash|300||||F\r\n"
            "R9|Cash|1||||F\r\n"
            "R9|Cheque|2||||F\r\n"
            "R9|DD|3||||F\r\n"
            "R9|NEFT / RTGS|4|UTR9|||F\r\n"
            "R9|CARD|5||||F\r\n"
            "R9|CHALLAN|6||||F\r\n");
  EXPECT_EQ(remoteRows("select (select fdeleted from rechead where frecno = 'R8'), (select "
                       "fdeleted from recdetl where frecno = 'R8'), (select fdeleted from recmode "
                       "where frecno = 'R8'), (select count(*) from recmode)"),
            "T|F|F|15");
  EXPECT_EQ(remoteRows(
                "select frecno, fadmno, ftotal, fyear, fexamtype from rechead where frecno = 'R0'"),
            "R0|S1|1500.00|" + year() + "|1");
  EXPECT_EQ(remoteRows("select finstrno, finstrdate, finstrbank from recmode where frecno = 'R0' "
                       "order by fpaytype"),
            "|<null>|\n123|2024-03-04|State Bank");
}

// An instrument number without its amount is left out until the amount is
// filled in; it then arrives as a new pay type of the old receipt, beside
// the portal's own mode rows, which are never changed.
TEST_F(ReceiptsTest, InstrumentNumberWithoutAmountIsLeftOutUntilTheAmountIsFilled) {
  remoteDb_.execute(
      "insert into rechead (frecno, fadmno, ftotal, fyear, fdeleted) values ('R1', 'PORTAL', "
      "400, '2019', 'F')");
  remoteDb_.execute(
      "insert into recmode values ('R1', 'Cash', 400, 'old', '2019-01-01', 'old bank', 'F')");
  receipt("R1", "S1", "FTOTAL, FCASHAMOUNT, FCHQNO, FCHQBANKNAME", "160, 100, '555', 'City Bank'",
          "100");
  receipt("R2", "S1", "FCASHAMOUNT", "40", "40");
  // Fully discounted, its DD amount not filled in yet: no closing Cash entry
  // either, which would stay on the portal next to the DD for good.
  receipt("R3", "S1", "FTOTAL, FDISCOUNT, FDDNO", "500, 500, 'D9'", "500");

  // The receipts after it still go up; the journal names the receipt.
  EXPECT_EQ(uploadReceipts(ctx_), 3u);
  EXPECT_EQ(exportFile("UPRECMODE.csv"), "R1|Cash|100||||F\r\nR2|Cash|40||||F\r\n");
  EXPECT_EQ(journalLinesWith("receipt R1: Cheque number \"555\" has no amount"), 1u);
  EXPECT_EQ(journalLinesWith("receipt R3: DD number \"D9\" has no amount"), 1u);

  local("update RECHEAD set FCHQAMOUNT = 60 where FRECNO = 'R1'");
  local("update RECHEAD set FDDAMOUNT = 0 where FRECNO = 'R3'");
  CycleContext ctx = cycleContext();  // the last run's temporary tables met
  uploadReceipts(ctx);
  EXPECT_EQ(remoteRows("select fadmno, ftotal, fyear from rechead where frecno = 'R1'"),
            "PORTAL|160.00|" + year());
  EXPECT_EQ(remoteRows("select fpaytype, famount, finstrno, finstrbank from recmode where frecno "
                       "= 'R1' order by fpaytype"),
            "Cash|400.00|old|old bank\nCheque|60.00|555|City Bank");
  EXPECT_EQ(remoteRows("select fpaytype, famount, finstrno from recmode where frecno = 'R3'"),
            "DD|0.00|D9");
  // The mode staging table stays until the next run drops it; the others
  // are gone.
  EXPECT_EQ(remoteTables("tmprec%"), "tmprecmode");
}

}  // namespace
}  // namespace agent
