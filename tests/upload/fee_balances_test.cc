// Fee balances against the embedded local database and the remote server:
// what counts as paid, when a head carries its fine, the FINE rows of
// institutions outside the posting list, and the mark-and-sweep that leaves
// studfee holding exactly the keys of the file.
#include <gtest/gtest.h>

#include "tests/upload/mirror_fixture.h"
#include "upload/table_stages.h"

namespace agent {
namespace {

class FeeBalancesTest : public testing::MirrorFixture {
 protected:
  void student(const std::string& admno) {
    local("insert into student (fadmno, fdegree, fyear) values ('" + admno + "', 'BSC', '2024')");
  }
  // lastDate: a SQL expression or NULL.
  void fee(const std::string& admno, const std::string& head, const std::string& amount,
           const std::string& lastDate = "NULL", const std::string& fine = "0") {
    local(
        "insert into FEESTRV (FDEGREE, FADMNO, FHEADCODE, FFEE, FEXAMNO, FLASTDATE, FFINE) "
        "values ('BSC', '" +
        admno + "', '" + head + "', " + amount + ", '1', " + lastDate + ", " + fine + ")");
  }
  // deleted: a SQL literal ('T', 'F' or NULL).
  void receipt(const std::string& recno, const std::string& admno, const std::string& head,
               const std::string& amount, const std::string& deleted) {
    local("insert into RECHEAD (FRECNO, FRECCODE, FDEGREE, FDELETED) values ('" + recno + "', '" +
          admno + "', 'BSC', " + deleted + ")");
    local("insert into RECDETL (FRECNO, FHEADCODE, FAMOUNT) values ('" + recno + "', '" + head +
          "', " + amount + ")");
  }
};

// Paid counts the receipts not cancelled of existing students only. The
// remote rows end with exactly the keys of the file: an existing row takes
// fee, paid, balance and date, keeps its exam number, year and exam type,
// and ends unmarked; a new row is 'F'; the staging rows an interrupted cycle
// left are not merged.
TEST_F(FeeBalancesTest, BalancesCountWhatWasPaidAndTheRemoteRowsEndAsTheFile) {
  remoteDb_.execute(
      "insert into studfee values ('S1', 'BSC', 'X', 'TUI', 900, 100, 800, '2023-01-01', '2020', "
      "'2', 'F'), ('S9', 'BSC', '1', 'OLD', 10, 0, 10, NULL, '2020', '1', NULL)");
  remoteDb_.execute("create table tmpstudfee like studfee");
  remoteDb_.execute(
      "insert into tmpstudfee (fadmno, fdegree, fexamno, fheadcode, ffee, fpaid, fbal) values "
      "('S1', 'BSC', '1', 'LIB', 400, 250, 150)");
  student("S1");
  fee("S1", "BUS", "500.00", "'2024-03-31'");
  fee("S1", "LIB", "300.00");
  fee("S1", "TUI", "1000.00", "'2024-06-30'");
  fee("S9", "TUI", "1000.00");  // no such student
  receipt("R1", "S1", "BUS", "150.00", "NULL");
  receipt("R2", "S1", "BUS", "50.50", "'F'");
  receipt("R3", "S1", "LIB", "300.00", "'T'");  // cancelled

  EXPECT_EQ(uploadFeeBalances(ctx_), 3u);
  EXPECT_EQ(exportFile("UPSTUDFEE.csv"),
            "S1|BSC|1|BUS|500|200.5|299.5|2024-03-31|2024|1|F\r\n"
            "S1|BSC|1|LIB|300|0|300||2024|1|F\r\n"
            "S1|BSC|1|TUI|1000|0|1000|2024-06-30|2024|1|F\r\n");
  EXPECT_EQ(remoteRows("select fadmno, fdegree, fexamno, fheadcode, ffee, fpaid, fbal, "
                       "flastdate, fyear, fexamtype, fdeleted from studfee order by fheadcode"),
            "S1|BSC|1|BUS|500.00|200.50|299.50|2024-03-31|2024|1|F\n"
            "S1|BSC|1|LIB|300.00|0.00|300.00|<null>|2024|1|F\n"
            "S1|BSC|X|TUI|1000.00|0.00|1000.00|2024-06-30|2020|2|<null>");
  EXPECT_EQ(remoteTables("tmpstudfee"), "");
}

TEST_F(FeeBalancesTest, FineRowsOnlyForInstitutionsOutsideThePostingList) {
  student("S1");
  student("S2");
  const std::string yesterday = "DATEADD(d, -1, GETDATE())";
  fee("S1", "A", "1000", yesterday, "50");                    // unpaid after its last date
  fee("S1", "B", "500", yesterday, "25");                     // part paid
  fee("S1", "C", "400", "GETDATE()", "10");                   // last date today
  fee("S1", "D", "200", yesterday, "70");                     // fully paid
  fee("S2", "A", "1000", "DATEADD(d, -30, GETDATE())", "0");  // no fine amount
  receipt("R1", "S1", "B", "100", "NULL");
  receipt("R2", "S1", "D", "200", "NULL");

  using Case = std::pair<const char*, bool>;  // institution code, whether a FINE row
  for (auto [code, fineRow] :
       {Case{"P028", true}, Case{"P001", false}, Case{"P00", false}, Case{"", false}}) {
    SCOPED_TRACE(code);
    CycleContext ctx = cycleContext(code);
    EXPECT_EQ(uploadFeeBalances(ctx), fineRow ? 6u : 5u);
    // A and B carry their fines, C (due today) and D (paid) none.
    const std::string file = exportFile("UPSTUDFEE.csv");
    const std::string fineLine = "S1|BSC|A|FINE|75|0|75||2024|1|F\r\n";
    EXPECT_EQ(file.find(fineLine) != std::string::npos, fineRow) << file;
    EXPECT_EQ(file.find("S2|BSC|A|FINE"), std::string::npos) << file;
    EXPECT_EQ(remote("select count(*) from studfee where fheadcode = 'FINE'"), fineRow ? "1" : "0");
  }
}

}  // namespace
}  // namespace agent
