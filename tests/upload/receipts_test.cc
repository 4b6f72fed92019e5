// Receipts against the embedded local database and the remote server: one
// pass writing headers, lines and payment modes, the rules that turn a
// receipt's mode columns into mode rows, and a recmode that only gains rows.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "cycle/leftover_recovery.h"
#include "tests/upload/mirror_fixture.h"
#include "upload/table_stages.h"

namespace agent {
namespace {

using Columns = std::vector<std::pair<std::string, std::string>>;

class ReceiptsTest : public testing::MirrorFixture {
 protected:
  ReceiptsTest() {
    local("insert into student (fadmno, fdegree, fyear) values ('S1', 'BSC', '2024')");
    local("insert into student (fadmno, fdegree, fyear) values ('S2', 'BSC', '2024')");
  }
  // A receipt of student admno in BSC, examination 1, on 5 March 2024;
  // columns: further header columns with their SQL literals.
  void receipt(const std::string& recno, const std::string& admno, const Columns& columns) {
    std::string names = "FRECNO, FRECCODE, FDEGREE, FEXAMNO, FRECDATE";
    std::string values = "'" + recno + "', '" + admno + "', 'BSC', '1', '2024-03-05'";
    for (const auto& [name, value] : columns) {
      names += ", " + name;
      values += ", " + value;
    }
    local("insert into RECHEAD (" + names + ") values (" + values + ")");
  }
  void line(const std::string& recno, const std::string& head, const std::string& amount) {
    local("insert into RECDETL (FRECNO, FHEADCODE, FAMOUNT) values ('" + recno + "', '" + head +
          "', " + amount + ")");
  }
  std::string year() const { return std::to_string(clock_.now().year); }
};

TEST_F(ReceiptsTest, OneReceiptWithThreeLinesGivesOneHeaderThreeLinesAndItsModesOnce) {
  receipt("R1", "S1",
          {{"FTOTAL", "1500"},
           {"FNETTOTAL", "1500"},
           {"FDISCOUNT", "0"},
           {"FCASHAMOUNT", "500"},
           {"FCHQAMOUNT", "1000.00"},
           {"FCHQNO", "'123'"},
           {"FCHQDATE", "'2024-03-04'"},
           {"FCHQBANKNAME", "'State Bank'"},
           {"FREMARKS", "'not exported'"}});
  line("R1", "TUI", "700");
  line("R1", "BUS", "500");
  line("R1", "LIB", "300");
  receipt("R9", "S7", {{"FTOTAL", "10"}, {"FCASHAMOUNT", "10"}});  // S7 is no student
  line("R9", "TUI", "10");

  EXPECT_EQ(uploadReceipts(ctx_), 3u);
  EXPECT_EQ(exportFile("UPRECHEAD.csv"),
            "R1|2024-03-05|S1|1500|BSC|1|0|1500|" + year() + "|1|\r\n");
  EXPECT_EQ(exportFile("UPRECDETL.csv"),
            "R1|BUS|500|F\r\n"
            "R1|LIB|300|F\r\n"
            "R1|TUI|700|F\r\n");
  EXPECT_EQ(exportFile("UPRECMODE.csv"),
            "R1|Cash|500||||F\r\n"
            "R1|Cheque|1000|123|2024-03-04|State Bank|F\r\n");
  EXPECT_EQ(remoteRows("select frecno, fadmno, ftotal, fyear, fexamtype from rechead"),
            "R1|S1|1500.00|" + year() + "|1");
  EXPECT_EQ(remote("select count(*) from recdetl where frecno = 'R1' and fdeleted = 'F'"), "3");
  EXPECT_EQ(remoteRows("select fpaytype, famount, finstrno, finstrdate, finstrbank from recmode "
                       "order by fpaytype"),
            "Cash|500.00||<null>|\n"
            "Cheque|1000.00|123|2024-03-04|State Bank");
}

TEST_F(ReceiptsTest, ModeColumnsBecomeModeRowsByTheirRules) {
  // Cheque of 0 with a number; a DD number of blanks alone does not count.
  receipt("R1", "S1",
          {{"FTOTAL", "100"},
           {"FDISCOUNT", "0"},
           {"FCHQAMOUNT", "0"},
           {"FCHQNO", "'77'"},
           {"FDDAMOUNT", "0"},
           {"FDDNO", "'   '"}});
  // Card payments: only the bank name exactly ONLINE is the portal's.
  receipt("R2", "S1",
          {{"FCARDAMOUNT", "250"}, {"FCARDNO", "'TX1'"}, {"FCARDBANKNAME", "'ONLINE'"}});
  receipt("R3", "S1", {{"FCARDAMOUNT", "250"}, {"FCARDBANKNAME", "'Online'"}});
  receipt("R4", "S1", {{"FCARDAMOUNT", "250"}, {"FCARDBANKNAME", "'ONLINE '"}});
  // Fully discounted without a mode: one Cash entry, 0 without a cash amount.
  receipt("R5", "S1", {{"FTOTAL", "1000"}, {"FDISCOUNT", "1000"}, {"FCASHAMOUNT", "0"}});
  receipt("R6", "S1", {{"FTOTAL", "1000"}, {"FDISCOUNT", "1000.00"}});
  // No mode and a discount short of the total: no mode row.
  receipt("R7", "S1", {{"FTOTAL", "1000"}, {"FDISCOUNT", "999"}});
  // Cancelled: T in its header only.
  receipt("R8", "S2", {{"FTOTAL", "300"}, {"FCASHAMOUNT", "300"}, {"FDELETED", "'T'"}});
  // Every mode, in the order cash, cheque, DD, transfer, card, challan.
  receipt("R9", "S2",
          {{"FCHALAMOUNT", "6"},
           {"FCARDAMOUNT", "5"},
           {"FRTGSAMOUNT", "4"},
           {"FRTGSNO", "'UTR9'"},
           {"FDDAMOUNT", "3"},
           {"FCHQAMOUNT", "2"},
           {"FCASHAMOUNT", "1"}});
  for (const char* recno : {"R1", "R2", "R3", "R4", "R5", "R6", "R7", "R8", "R9"}) {
    line(recno, "TUI", "1");
  }

  EXPECT_EQ(uploadReceipts(ctx_), 9u);
  EXPECT_EQ(exportFile("UPRECMODE.csv"),
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
  EXPECT_EQ(remoteRows("select fdeleted from rechead where frecno = 'R8'"), "T");
  EXPECT_EQ(remoteRows("select fdeleted from recdetl where frecno = 'R8'"), "F");
  EXPECT_EQ(remoteRows("select fdeleted from recmode where frecno = 'R8'"), "F");
  EXPECT_EQ(remote("select count(*) from recmode"), "13");
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
  receipt("R1", "S1",
          {{"FTOTAL", "160"},
           {"FCASHAMOUNT", "100"},
           {"FCHQNO", "'555'"},
           {"FCHQBANKNAME", "'City Bank'"}});
  line("R1", "TUI", "100");
  receipt("R2", "S1", {{"FCASHAMOUNT", "40"}});
  line("R2", "TUI", "40");
  // Fully discounted, its DD amount not filled in yet: no closing Cash entry
  // either, which would stay on the portal next to the DD for good.
  receipt("R3", "S1", {{"FTOTAL", "500"}, {"FDISCOUNT", "500"}, {"FDDNO", "'D9'"}});
  line("R3", "TUI", "500");

  // The receipts after it still go up; the journal names the receipt.
  EXPECT_EQ(uploadReceipts(ctx_), 3u);
  EXPECT_EQ(exportFile("UPRECMODE.csv"), "R1|Cash|100||||F\r\nR2|Cash|40||||F\r\n");
  EXPECT_EQ(journalLinesWith("receipt R1: Cheque number \"555\" has no amount"), 1u);
  EXPECT_EQ(journalLinesWith("receipt R3: DD number \"D9\" has no amount"), 1u);

  local("update RECHEAD set FCHQAMOUNT = 60 where FRECNO = 'R1'");
  local("update RECHEAD set FDDAMOUNT = 0 where FRECNO = 'R3'");
  RecoveringConnection recovering(localDb_.connection(), localDb_.connection(), journal_);
  CycleContext ctx{recovering, recorded_, home_.path(), config_,
                   "P028",     messages_, journal_,     clock_};
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
