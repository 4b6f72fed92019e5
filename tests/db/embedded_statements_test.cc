// Every statement the agent sends to its local database, exactly as the
// agent words it, run in the agent's order on one connection against a
// seeded database, with the rows it must return or leave behind.
#include <gtest/gtest.h>

#include "db/error.h"
#include "tests/support/local_database.h"

namespace agent::testing {
namespace {

// Rows in the administration tables of schema/local.sql, chosen so that
// each statement has something to select, skip, sum or convert. Dates are
// written yyyymmdd, read the same under every DATEFORMAT.
constexpr const char* kSeed[] = {
    "INSERT INTO control VALUES ('P019', '000123')",
    "INSERT INTO collgroup VALUES ('G1', NULL, 'P', 123)",
    "INSERT INTO college VALUES ('C2', 'Second College', 'a', 'b', 'c', 'd', 'M', NULL), ('C1', "
    "'Main College', '1 Road', 'Town', 'District', 'State', 'M', 'G1')",
    "INSERT INTO degree VALUES ('BSC', 'Science', '1', 'First Year', '2024', '1', '20240415'), "
    "('BSC', 'Science', '2', 'Second Year', '2025', '1', NULL), ('BA', 'Arts', '1', 'First', "
    "'2024', '1', NULL)",
    "INSERT INTO subject VALUES ('BSC', '1', 'MAT', 'Maths', '01', 'Algebra', 'Y', 'T', 'I', 'R', "
    "'X'), ('BSC', '1', 'MAT', 'Maths', NULL, NULL, 'Y', 'P', 'I', 'R', 'X')",
    "INSERT INTO mascat VALUES ('SC', 'Scheduled'), ('GEN', 'General'), ('OBC', NULL)",
    "INSERT INTO mashead VALUES ('TUI', 'Tuition', 1), ('LIB', 'Library', 2), ('BUS', 'Bus', 3), "
    "('ADM', 'Admission', 1)",
    "INSERT INTO masroute VALUES ('R2', 'North'), ('R1', 'South')",
    "INSERT INTO masemp VALUES ('E1', 'Mary', '9000000009', 'mary@example.org', 'LECT')",
    "INSERT INTO hosthead VALUES ('H1', 'Boys', 3, 40, 1)",
    "INSERT INTO roomtype VALUES ('DBL', 'Double', 2), ('SGL', 'Single', 1)",
    "INSERT INTO hostrooms VALUES ('H1', '101', 'Corner', 1, 'DBL', 2, 5000.5, 1), ('H1', '002', "
    "'Ground', 0, 'SGL', 1, 1200, 2)",
    "INSERT INTO student (fadmno, fdegree, fexamno, fname, fyear, fcollcode, fdob, fdoa, "
    "fdeleted) VALUES ('S1', 'BSC', '1', 'Asha Rao', '2024', 'C1', '20050101', "
    "'20240601', 'F'), ('S2', 'BSC', '1', 'Ravi', '2024', 'C1', '20050202', '20240601', 'F'), "
    "('S3', 'XX', '1', 'Left', '2024', 'C1', NULL, '20240601', 'T'), ('S4', 'BSC', '1', 'No "
    "Admission Date', '2024', 'C1', NULL, NULL, 'F'), ('S5', NULL, '1', 'No Degree', '2024', "
    "'C1', NULL, '20240601', 'F')",
    "INSERT INTO result VALUES ('C1', 'BSC', '1', 'A', 'S1', 'Y', '2024', '1', 'N'), ('C1', "
    "'BSC', '2', 'A', 'S1', 'Y', '2024', '1', 'N'), ('C1', 'BA', '1', 'B', 'S2', 'Y', '2024', "
    "'1', 'N')",
    "INSERT INTO studsub VALUES ('C1', 'BSC', '1', 'MAT', 'S2', 'P', 'MAR24', 78.5, NULL), ('C1', "
    "'BSC', '1', 'MAT', 'S1', 'P', 'MAR24', 91, 'good')",
    // Fees: last dates far in the past (fine due when unpaid) or far ahead.
    "INSERT INTO FEESTRV VALUES ('BSC', 'S1', 'TUI', '2024', '01', 1000, '1', '20000101', 50), "
    "('BSC', 'S1', 'LIB', '2024', NULL, 200, '1', '20991231', 10), ('BSC', 'S1', 'BUS', '2024', "
    "'02', 300, '1', '20000101', 20), ('BSC', 'S1', 'ADM', '2024', NULL, 100, '1', '20000101', "
    "5), ('BSC', 'S2', 'TUI', '2024', '01', 1000, '1', '20000101', 50), ('BSC', 'S9', 'TUI', "
    "'2024', '01', 1000, '1', '20000101', 50)",
    // R2 is cancelled; R1 pays 150 of a 100 admission fee.
    "INSERT INTO RECHEAD (FRECNO, FRECDATE, FRECCODE, FDEGREE, FEXAMNO, FTOTAL, FNETTOTAL, "
    "FDISCOUNT, FCASHAMOUNT, FCHQAMOUNT, FCHQNO, FCHQDATE, FCHQBANKNAME, FDELETED) VALUES ('R1', "
    "'20240110', 'S1', 'BSC', '1', 750, 750, 0, 500, 250, '123', '20240109', 'SBI', NULL), ('R2', "
    "'20240111', 'S1', 'BSC', '1', 600, 600, 0, 600, NULL, NULL, NULL, NULL, 'T'), ('R3', "
    "'20240112', 'S2', 'BSC', '1', 1000, 1000, 0, 1000, NULL, NULL, NULL, NULL, 'F')",
    "INSERT INTO RECDETL VALUES ('R1', 'TUI', '202401', 400), ('R1', 'LIB', '2024', 200), ('R1', "
    "'ADM', '2024', 150), ('R2', 'TUI', '202401', 600), ('R3', 'TUI', '202401', 1000)",
    // 'SUCCESS' is due too: the status is compared case-insensitively.
    "INSERT INTO smslog VALUES ('20240301 09:00', '09:00', 'admin', 'Fee due', 'success', 'g1', "
    "'FEE', 'S1', 'BSC', '9000000001', NULL), ('20240302 09:00', '09:00', 'admin', 'Hello', "
    "'success', '', 'FEE', 'S2', 'BSC', '9000000002', NULL), ('20240303 09:00', '09:00', 'admin', "
    "'Failed', 'failed', 'g3', 'FEE', 'S1', 'BSC', '9000000001', NULL), ('20240304 09:00', "
    "'09:00', 'admin', 'Done', 'success', 'g4', 'FEE', 'S1', 'BSC', '9000000001', 'T'), (NULL, "
    "'09:00', 'admin', 'No date', 'SUCCESS', NULL, 'FEE', 'S2', NULL, '9000000002', NULL)",
};

struct StatementCase {
  const char* statement;  // as the agent sends it
  const char* probe;      // query whose rows show the effect; none: the statement's own rows
  const char* fields;     // fields shown, comma separated; empty: all
  std::vector<std::string> rows;
};

// In the agent's order where one statement builds on another.
const StatementCase kCases[] = {
    // Opening the local connection.
    {"SET QUOTED_IDENTIFIER OFF", nullptr, "", {}},
    {"SET DATEFORMAT DMY", nullptr, "", {}},
    {"select * from control", nullptr, "funivcode", {"P019"}},

    // Master tables.
    {"select * from college order by fcollcode",
     nullptr,
     "fcollcode, fcollname, fgroupcode",
     {"C1|Main College|G1", "C2|Second College|NULL"}},
    {"select * from degree order by fdegree, fexamno",
     nullptr,
     "fdegree, fexamno, fexamdate",
     {"BA|1|NULL", "BSC|1|2024-04-15 00:00:00", "BSC|2|NULL"}},
    {"select * from subject order by fdegree, fexamno, fsubcode, fssubcode",
     nullptr,
     "fsubcode, fssubcode, fth",
     {"MAT|NULL|P    ", "MAT|01|T    "}},
    {"select * from mascat order by fcatcode",
     nullptr,
     "",
     {"GEN|General", "OBC|NULL", "SC|Scheduled"}},
    {"select * from mashead order by fheadcode",
     nullptr,
     "",
     {"ADM|Admission|1", "BUS|Bus|3", "LIB|Library|2", "TUI|Tuition|1"}},
    {"select * from masroute order by frtcode", nullptr, "", {"R1|South", "R2|North"}},

    // Students, results and marks.
    {"select * from student where fdegree <> 'XX' and fdoa is not null order by fadmno",
     nullptr,
     "fadmno, fdegree, fdoa",
     {"S1|BSC|2024-06-01 00:00:00", "S2|BSC|2024-06-01 00:00:00"}},
    {"select result.* from result, degree where result.fdegree = degree.fdegree and "
     "result.fexamno = degree.fexamno and result.fyear = degree.fyear and result.fexamtype = "
     "degree.fexamtype order by result.fcollcode, result.fdegree, result.fexamno, result.fadmno",
     nullptr,
     "fdegree, fexamno, fadmno, fsection",
     {"BA|1|S2|B", "BSC|1|S1|A"}},
    {"select * from studsub order by fcollcode, fdegree, fexamno, fsubcode, fadmno",
     nullptr,
     "fadmno, fmarks, fremarks",
     {"S1|91.00|good", "S2|78.50|NULL"}},

    // Fee balances.
    {"SELECT F.FDEGREE, F.FADMNO, F.FHEADCODE, F.FFEE, F.FEXAMNO, F.FLASTDATE, F.FFINE, S.FYEAR "
     "INTO #TMPUPFEE FROM FEESTRV F, STUDENT S WHERE F.FDEGREE = S.FDEGREE AND F.FADMNO = S.FADMNO",
     "SELECT * FROM #TMPUPFEE ORDER BY FADMNO, FHEADCODE",
     "FADMNO, FHEADCODE, FFEE, FLASTDATE, FYEAR",
     {"S1|ADM|100.00|2000-01-01 00:00:00|2024", "S1|BUS|300.00|2000-01-01 00:00:00|2024",
      "S1|LIB|200.00|2099-12-31 00:00:00|2024", "S1|TUI|1000.00|2000-01-01 00:00:00|2024",
      "S2|TUI|1000.00|2000-01-01 00:00:00|2024"}},
    {"SELECT FDEGREE, FRECCODE AS FADMNO, FHEADCODE, SUM(FAMOUNT) AS FAMOUNT INTO #TMPUPREC FROM "
     "RECDETL, RECHEAD WHERE RECHEAD.FRECNO = RECDETL.FRECNO  AND ISNULL(RECHEAD.FDELETED,'F') <> "
     "'T' AND FDEGREE + FRECCODE IN(SELECT FDEGREE + FADMNO FROM STUDENT) GROUP BY FDEGREE, "
     "FRECCODE, FHEADCODE",
     "SELECT * FROM #TMPUPREC ORDER BY FADMNO, FHEADCODE",
     "",
     {"BSC|S1|ADM|150.00", "BSC|S1|LIB|200.00", "BSC|S1|TUI|400.00", "BSC|S2|TUI|1000.00"}},
    {"SELECT FEE.FADMNO, FEE.FDEGREE, FEE.FHEADCODE, FEE.FFEE, ISNULL(REC.FAMOUNT,0) AS FPAID, "
     "FEE.FFEE - ISNULL(REC.FAMOUNT,0) AS FBAL, CASE WHEN DATEDIFF(D,GETDATE(),FEE.FLASTDATE) < 0 "
     "AND FEE.FFEE - ISNULL(REC.FAMOUNT,0) > 0 THEN FEE.FFINE ELSE 0 END AS FFINEAMT,FEE.FEXAMNO, "
     "FEE.FLASTDATE, FEE.FYEAR INTO #TMPUPBAL FROM #TMPUPFEE FEE LEFT OUTER JOIN #TMPUPREC REC ON "
     "FEE.FDEGREE = REC.FDEGREE AND FEE.FADMNO = REC.FADMNO AND FEE.FHEADCODE = REC.FHEADCODE",
     "SELECT * FROM #TMPUPBAL ORDER BY FADMNO, FHEADCODE",
     "",
     {"S1|BSC|ADM|100.00|150.00|-50.00|0.00|1|2000-01-01 00:00:00|2024",
      "S1|BSC|BUS|300.00|0.00|300.00|20.00|1|2000-01-01 00:00:00|2024",
      "S1|BSC|LIB|200.00|200.00|0.00|0.00|1|2099-12-31 00:00:00|2024",
      "S1|BSC|TUI|1000.00|400.00|600.00|50.00|1|2000-01-01 00:00:00|2024",
      "S2|BSC|TUI|1000.00|1000.00|0.00|0.00|1|2000-01-01 00:00:00|2024"}},
    {"INSERT INTO #TMPUPBAL SELECT FADMNO, FDEGREE, 'FINE' AS FHEADCODE, SUM(FFINEAMT) AS FFEE, 0 "
     "AS FPAID,  SUM(FFINEAMT) AS FBAL, 0 AS FFINEAMT, 'A' AS FEXAMNO, NULL FLASTDATE, FYEAR FROM "
     "#TMPUPBAL WHERE FFINEAMT > 0 GROUP BY FADMNO, FDEGREE, FYEAR",
     "SELECT * FROM #TMPUPBAL WHERE FHEADCODE = 'FINE'",
     "",
     {"S1|BSC|FINE|70.00|0.00|70.00|0.00|A|NULL|2024"}},
    {"SELECT * FROM #TMPUPBAL ORDER BY FADMNO, FEXAMNO, FHEADCODE",
     nullptr,
     "FADMNO, FEXAMNO, FHEADCODE, FBAL",
     {"S1|1|ADM|-50.00", "S1|1|BUS|300.00", "S1|1|LIB|0.00", "S1|1|TUI|600.00", "S1|A|FINE|70.00",
      "S2|1|TUI|0.00"}},

    // Receipts.
    {" SELECT X1.FRECNO, X1.FRECDATE, X1.FRECCODE AS FADMNO, X1.FTOTAL, X1.FDEGREE, X1.FEXAMNO, "
     "X1.FNETTOTAL, X1.FDISCOUNT, X1.FCASHAMOUNT, X1.FCASHNO, X1.FCASHDATE, X1.FCASHBANKNAME, "
     "X1.FCHQAMOUNT, X1.FCHQNO, X1.FCHQDATE, X1.FCHQBANKNAME, X1.FDDAMOUNT, X1.FDDNO, X1.FDDDATE, "
     "X1.FDDBANKNAME, X1.FRTGSAMOUNT, X1.FRTGSNO, X1.FRTGSDATE, X1.FRTGSBANKNAME, X1.FCARDAMOUNT, "
     "X1.FCARDNO, X1.FCARDDATE, X1.FCARDBANKNAME, X1.FCHALAMOUNT, X1.FCHALNO, X1.FCHALDATE, "
     "X1.FCHALBANKNAME, X1.FREMARKS, X2.FHEADCODE, X2.FAMOUNT, X1.FDELETED INTO #TMPUPRECEIPT "
     "FROM RECHEAD X1, RECDETL X2 WHERE X1.FRECNO = X2.FRECNO AND X1.FDEGREE + X1.FRECCODE "
     "IN(SELECT FDEGREE + FADMNO FROM STUDENT )",
     "SELECT * FROM #TMPUPRECEIPT ORDER BY FRECNO, FHEADCODE",
     "FRECNO, FRECDATE, FADMNO, FHEADCODE, FAMOUNT, FCHQAMOUNT, FCHQNO, FCHQDATE, FDELETED",
     {"R1|2024-01-10 00:00:00|S1|ADM|150.00|250.00|123|2024-01-09 00:00:00|NULL",
      "R1|2024-01-10 00:00:00|S1|LIB|200.00|250.00|123|2024-01-09 00:00:00|NULL",
      "R1|2024-01-10 00:00:00|S1|TUI|400.00|250.00|123|2024-01-09 00:00:00|NULL",
      "R2|2024-01-11 00:00:00|S1|TUI|600.00|NULL|NULL|NULL|T",
      "R3|2024-01-12 00:00:00|S2|TUI|1000.00|NULL|NULL|NULL|F"}},

    // Hostel and staff tables.
    {"select * from masemp order by fempcode",
     nullptr,
     "fempcode, fempname, fdegncode",
     {"E1|Mary|LECT"}},
    {"select * from hosthead order by fhostcode", nullptr, "", {"H1|Boys|3|40|1"}},
    {"select * from roomtype order by froomtype", nullptr, "", {"DBL|Double|2", "SGL|Single|1"}},
    {"select * from hostrooms order by fhostcode, froomno",
     nullptr,
     "froomno, ffee, fcapacity",
     {"002|1200.00|1", "101|5000.50|2"}},

    // Text messages.
    {"select top 9999 * into #tmpsmslog from smslog where fstatus = 'success' and fupload is null "
     "order by fdate desc",
     "select * from #tmpsmslog order by fdate, fmobileno",
     "fguid, fdate, fmessage, fmobileno",
     {"NULL|NULL|No date|9000000002", "g1|2024-03-01 09:00:00|Fee due|9000000001",
      "|2024-03-02 09:00:00|Hello|9000000002"}},
    {"update smslog set fupload = 'T' from #tmpsmslog where smslog.fguid = #tmpsmslog.fguid and "
     "isnull(smslog.fguid,'') <> '' and smslog.fupload is null",
     "select fmessage, fupload from smslog order by fdate",
     "",
     {"No date|NULL", "Fee due|T", "Hello|NULL", "Failed|NULL", "Done|T"}},

    // Receipt numbers.
    {"select * from college where fcollcode = 'C1' and isnull(fgroupcode,'') <> ''",
     nullptr,
     "fcollcode, fgroupcode",
     {"C1|G1"}},
    {"select * from college where fcollcode = 'C2' and isnull(fgroupcode,'') <> ''",
     nullptr,
     "",
     {}},
    {"select fgroupcode, frecprefix, freclastno as flasttcode from collgroup where fgroupcode = "
     "'G1'",
     nullptr,
     "fgroupcode, frecprefix, flasttcode",
     {"G1|P|123"}},
    {"select frecno from rechead where frecno = 'P000124'", nullptr, "", {}},
    {"update collgroup set freclastno = 124 where fgroupcode = 'G1'",
     "select freclastno from collgroup",
     "",
     {"124"}},
    {"select frecno as flasttcode from control", nullptr, "flasttcode", {"000123"}},
    {"update control set frecno='000124'", "select frecno from control", "", {"000124"}},

    // Portal receipts.
    {"select * from rechead where frecno = 'PG0001'", nullptr, "", {}},
    {"insert into rechead(frecno, frecdate, frectype, freccode, fname, faccno, ftotal, fdegree, "
     "fexamno, fremarks, fnettotal, fusername, fcardamount, fcardno, fcarddate, fcardbankname, "
     "fdiscount) values('PG0001', convert(datetime,'05/03/2024 10:30:00'), 'S', 'S1', 'Asha Rao', "
     "'PG', 1500, 'BSC', '1', 'portal', 1500, 'online', 1500, 'PG0001', "
     "convert(datetime,'05/03/2024 10:30:00'), 'ONLINE',0)",
     "select * from rechead where frecno = 'PG0001'",
     "frecno, frecdate, freccode, faccno, ftotal, fcardno, fcarddate, fdiscount",
     {"PG0001|2024-03-05 10:30:00|S1|PG|1500.00|PG0001|2024-03-05 10:30:00|0.00"}},
    {"select * from recdetl where frecno = 'PG0001' and fheadcode = 'TUI'", nullptr, "", {}},
    {"insert into recdetl(frecno, fheadcode, famount) values('PG0001', 'TUI', 1500)",
     "select * from recdetl where frecno = 'PG0001' and fheadcode = 'TUI'",
     "frecno, fheadcode, famount",
     {"PG0001|TUI|1500.00"}},
    {"update rechead set fcardamount = 1500, fcardno = 'TXN77', fcarddate = "
     "convert(datetime,'06/03/2024'), fcardbankname = 'ONLINE' where frecno = 'PG0001' and fcardno "
     "= 'PG0001'",
     "select * from rechead where frecno = 'PG0001'",
     "fcardamount, fcardno, fcarddate, fcardbankname",
     {"1500.00|TXN77|2024-03-06 00:00:00|ONLINE"}},
    // A second payment-mode row finds the placeholder gone and changes nothing.
    {"update rechead set fcardamount = 99, fcardno = 'TXN78', fcarddate = "
     "convert(datetime,'07/03/2024'), fcardbankname = 'ONLINE' where frecno = 'PG0001' and fcardno "
     "= 'PG0001'",
     "select * from rechead where frecno = 'PG0001'",
     "fcardamount, fcardno",
     {"1500.00|TXN77"}},

    // Gateway payments.
    {"select fdegree, fcollcode, fname, fexamno from student where fadmno = 'S1'",
     nullptr,
     "",
     {"BSC|C1|Asha Rao|1"}},
    {"select * from paygate where forderid = 'order_1'", nullptr, "", {}},
    {"CREATE VIEW FEEPG AS  SELECT F.FDEGREE, F.FADMNO, F.FHEADCODE, H.FHEADDESC, H.FORDER, "
     "ISNULL(F.FYEAR,'') + ISNULL(F.FMONTH,'') AS FMONTH, F.FFEE, F.FEXAMNO, F.FLASTDATE, F.FFINE "
     "FROM FEESTRV F, MASHEAD H WHERE F.FHEADCODE = H.FHEADCODE AND F.FDEGREE = 'BSC' AND "
     "F.FADMNO = 'S1'",
     "SELECT * FROM FEEPG ORDER BY FHEADCODE",
     "FHEADCODE, FORDER, FMONTH, FFEE, FLASTDATE",
     {"ADM|1|2024|100.00|2000-01-01 00:00:00", "BUS|3|202402|300.00|2000-01-01 00:00:00",
      "LIB|2|2024|200.00|2099-12-31 00:00:00", "TUI|1|202401|1000.00|2000-01-01 00:00:00"}},
    {"CREATE VIEW RECPG AS SELECT FDEGREE, FRECCODE AS FADMNO, FHEADCODE, ISNULL(FMONTH,'') AS "
     "FMONTH, SUM(FAMOUNT) AS FAMOUNT FROM RECDETL, RECHEAD WHERE RECHEAD.FRECNO = RECDETL.FRECNO  "
     "AND RECHEAD.FDEGREE = 'BSC' AND RECHEAD.FRECCODE = 'S1' AND ISNULL(RECHEAD.FDELETED,'F') <> "
     "'T' GROUP BY FDEGREE, FRECCODE, FHEADCODE, ISNULL(FMONTH,'')",
     "SELECT * FROM RECPG ORDER BY FHEADCODE, FMONTH",
     "FHEADCODE, FMONTH, FAMOUNT",
     {"ADM|2024|150.00", "LIB|2024|200.00", "TUI||1500.00", "TUI|202401|400.00"}},
    {"CREATE VIEW BALPG AS SELECT FEE.FADMNO, FEE.FHEADCODE, FEE.FHEADDESC, FEE.FORDER, "
     "FEE.FMONTH, FEE.FFEE, ISNULL(REC.FAMOUNT,0) AS FAMOUNT, FEE.FFEE - ISNULL(REC.FAMOUNT,0) AS "
     "FBAL,CASE WHEN DATEDIFF(D,GETDATE(),FLASTDATE) < 0 AND FEE.FFEE - ISNULL(REC.FAMOUNT,0) > 0 "
     "THEN FEE.FFINE ELSE 0 END AS FFINEAMT,FEE.FEXAMNO FROM FEEPG FEE LEFT OUTER JOIN RECPG REC "
     "ON "
     "FEE.FDEGREE = REC.FDEGREE AND FEE.FADMNO = REC.FADMNO AND FEE.FHEADCODE = REC.FHEADCODE AND "
     "ISNULL(FEE.FMONTH,'') = ISNULL(REC.FMONTH,'')",
     nullptr,
     "",
     {}},
    {"SELECT * FROM BALPG WHERE FADMNO = 'S1' ORDER BY FEXAMNO, FORDER, CASE WHEN FBAL < 0 THEN 1 "
     "ELSE 2 END, FHEADCODE, FMONTH",
     nullptr,
     "FHEADCODE, FORDER, FMONTH, FFEE, FAMOUNT, FBAL, FFINEAMT",
     {"ADM|1|2024|100.00|150.00|-50.00|0.00", "TUI|1|202401|1000.00|400.00|600.00|50.00",
      "LIB|2|2024|200.00|200.00|0.00|0.00", "BUS|3|202402|300.00|0.00|300.00|20.00"}},
    {"insert into recdetl(frecno, fheadcode, famount) values('P000124', 'TUI', 600)",
     "select * from recdetl where frecno = 'P000124'",
     "fheadcode, famount",
     {"TUI|600.00"}},
    {"insert into recdetl(frecno, fheadcode, famount) values('P000124', 'BUS', 234.5)",
     "select * from recdetl where frecno = 'P000124' order by famount",
     "fheadcode, famount",
     {"BUS|234.50", "TUI|600.00"}},
    {"insert into rechead(frecno, frecdate, frectype, freccode, fname, faccno, ftotal, fdegree, "
     "fexamno, fremarks, fnettotal, fusername, fcardamount, fcardno, fcarddate, fcardbankname, "
     "fdiscount) values('P000124', convert(datetime,'05/03/2024'), 'S', 'S1', 'Asha Rao', 'PAYG', "
     "834.5, 'BSC', '1', 'order_1', 834.5, 'online', 834.5, 'pay_77', "
     "convert(datetime,'05/03/2024'), 'ONLINE',0)",
     "select * from rechead where frecno = 'P000124'",
     "frecdate, faccno, ftotal, fnettotal, fremarks, fcardno, fcarddate",
     {"2024-03-05 00:00:00|PAYG|834.50|834.50|order_1|pay_77|2024-03-05 00:00:00"}},
    {"insert into paygate(fadmno, forderid, forderdate, famount, fmode, ftranid) values('S1', "
     "'order_1', convert(datetime,'05/03/2024'), 834.5, 'upi', 'pay_77')",
     "select * from paygate where forderid = 'order_1'",
     "",
     {"S1|order_1|2024-03-05 00:00:00|834.50|upi|pay_77"}},

    // The cycle's recovery drops what the stages left.
    {"DROP VIEW FEEPG", nullptr, "", {}},
    {"DROP VIEW RECPG", nullptr, "", {}},
    {"DROP VIEW BALPG", nullptr, "", {}},
    {"drop table #TMPUPFEE", nullptr, "", {}},
    {"drop table #TMPUPRECEIPT", nullptr, "", {}},
    {"drop table #TMPUPREC", nullptr, "", {}},
    {"drop table #TMPUPBAL", nullptr, "", {}},
    {"drop table #tmpsmslog", nullptr, "", {}},
};

class AgentStatementsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* statement : kSeed) local_.execute(statement);
  }

  LocalTestDatabase local_{"statements"};
  Connection* connection_ = &local_.connection();
};

TEST_F(AgentStatementsTest, EveryStatementRunsAndGivesItsRowsInOrder) {
  for (const StatementCase& c : kCases) {
    SCOPED_TRACE(c.statement);
    try {
      if (c.probe == nullptr) {
        EXPECT_EQ(rowsOf(*connection_, c.statement, c.fields), c.rows);
      } else {
        connection_->execute(c.statement);
        EXPECT_EQ(rowsOf(*connection_, c.probe, c.fields), c.rows);
      }
    } catch (const AgentError& e) {
      ADD_FAILURE() << e.description();
    }
  }
}

}  // namespace
}  // namespace agent::testing
