// The master and result tables against the real remote server: statement
// sequences of the three staging variants, merge semantics, file format,
// conversions and empty tables.
#include <gtest/gtest.h>

#include "tests/upload/mirror_fixture.h"
#include "upload/table_stages.h"

namespace agent {
namespace {

class MastersStageTest : public testing::MirrorFixture {};

// A portal connection that does not stream local files and on which the
// first statement naming trigger runs and is then refused as a cluster
// node refuses a write set (1213).
class RefusesOnceAfterRunning : public ConnectionWrapper {
 public:
  RefusesOnceAfterRunning(Connection& inner, std::string trigger)
      : ConnectionWrapper(inner), trigger_(std::move(trigger)) {}
  void execute(const std::string& sql) override {
    ConnectionWrapper::execute(sql);
    if (refused_ || sql.find(trigger_) == std::string::npos) return;
    refused_ = true;
    throw DbError("40001", 1213, "Deadlock found when trying to get lock");
  }
  bool streamsLocalFiles() const override { return false; }

 private:
  std::string trigger_;
  bool refused_ = false;
};

// The three staging variants differ only in when the staging table is
// dropped (the statements' own text is checked by the descriptions' test).
// An existing row takes the named columns and keeps its remote fdeleted; a
// new one is inserted whole. Subjects combine their codes, trim four fields
// and keep the portal's maximum marks; exam dates are in the short form.
// A staging load a cluster node refused is sent again behind its drop and
// create, so that no row is loaded twice.
TEST_F(MastersStageTest, StagingVariantsMergesAndFileConversions) {
  remoteDb_.execute(
      "insert into college values ('C1', 'Old name', 'o1', 'o2', 'o3', 'o4', 'AM', "
      "'T')");
  remoteDb_.execute("insert into mascat values ('GEN', 'Old', 'T')");
  remoteDb_.execute(
      "insert into subject (fdegree, fexamno, fsubcode, fcsubcode, fsubname, fmaxmarks, "
      "fsmaxmarks, fdeleted) values ('BSC', '1', 'MAT', 'MAT01', 'Old', 100, 50, 'T')");
  insertLocal("college (fcollcode, fcollname, fadd1, fadd2, fadd3, fadd4, fattsession)",
              {"'C1', 'New name', 'n1', NULL, 'n3', 'n4', 'PM'",
               "'C2', 'Second', 'a1', 'a2', 'a3', 'a4', 'AM'"});
  insertLocal("mascat (fcatcode, fcatdesc)", {"'GEN', 'General'", "'OBC', NULL"});
  insertLocal(
      "subject (fdegree, fexamno, fsubcode, fsubname, fssubcode, fssubname, fattsub, fth, fia, "
      "fretain, fcombclid)",
      {"'BSC', '1', 'MAT', ' Maths ', '01', 'Algebra', 'Y', ' 70 ', '30  ', '  Y', ' C1 '",
       "'BSC', '1', 'PHY', 'Physics', NULL, NULL, NULL, NULL, NULL, NULL, NULL"});
  insertLocal("degree (fdegree, fdescpn, fexamno, fexamname, fyear, fexamtype, fexamdate)",
              {"'BSC', 'Science', '1', 'First', '2024', 'R', '20240307'",
               "'BSC', 'Science', '2', 'Second', '2024', 'R', NULL"});

  EXPECT_EQ(uploadColleges(ctx_), 2u);
  RefusesOnceAfterRunning refusing(ctx_.remote, "INTO TABLE tmpdegree ");
  CycleContext refusedCtx{ctx_.local,    refusing,      ctx_.programFolder, ctx_.config,
                          ctx_.univCode, ctx_.messages, ctx_.journal,       ctx_.clock};
  refusedCtx.portal = ctx_.portal;
  EXPECT_EQ(uploadDegrees(refusedCtx), 2u);
  EXPECT_EQ(uploadSubjects(ctx_), 2u);
  const std::vector<std::string> expected = {
      // DropBefore: the staging table stays until the next run.
      "drop table if exists tmpcollege", "create table tmpcollege like college", "load tmpcollege",
      "update college, tmpcollege", "load college",
      // DropAfter, with a drop before as well: nothing of an interrupted run
      // is merged.
      "drop table if exists tmpdegree", "create table if not exists tmpdegree like degree",
      "load tmpdegree", "drop table if exists tmpdegree",
      "create table if not exists tmpdegree like degree", "load tmpdegree",
      "update degree, tmpdegree", "load degree", "drop table if exists tmpdegree",
      // DropBoth
      "drop table if exists tmpsubject", "create table if not exists tmpsubject like subject",
      "load tmpsubject", "update subject x1, tmpsubject x2", "load subject",
      "drop table if exists tmpsubject"};
  EXPECT_EQ(statementHeads(), expected);
  EXPECT_EQ(remoteTables("tmp%"), "tmpcollege");
  uploadCategories(ctx_);

  EXPECT_EQ(remoteRows("select * from college order by fcollcode"),
            "C1|New name|n1||n3|n4|PM|T\nC2|Second|a1|a2|a3|a4|AM|F");
  EXPECT_EQ(remoteRows("select * from mascat order by fcatcode"), "GEN|General|T\nOBC||F");
  EXPECT_EQ(exportFile("UPMASCAT.csv"), "GEN|General|F\r\nOBC||F\r\n");
  EXPECT_EQ(exportFile("UPCOLLEGE.csv"),
            "C1|New name|n1||n3|n4|PM|F\r\nC2|Second|a1|a2|a3|a4|AM|F\r\n");
  EXPECT_EQ(exportFile("UPSUBJECT.csv"),
            "BSC|1|MAT| Maths |01|Algebra|MAT01|Y|70|30|Y|C1|F\r\n"
            "BSC|1|PHY|Physics|||PHY||||||F\r\n");
  EXPECT_EQ(remoteRows("select fsubname, fth, fia, fretain, fmaxmarks, fsmaxmarks, fdeleted from "
                       "subject where fcsubcode = 'MAT01'"),
            " Maths |70|30|Y|100.00|50.00|T");
  EXPECT_EQ(remote("select fdeleted from subject where fcsubcode = 'PHY'"), "F");
  EXPECT_EQ(exportFile("UPDEGREE.csv"),
            "BSC|Science|1|First|2024|R|07/03/2024|F\r\nBSC|Science|2|Second|2024|R||F\r\n");
  EXPECT_EQ(remote("select fexamdate from degree where fexamno = '1'"), "07/03/2024");
}

// A stage whose source holds no row to send sends nothing, deletes nothing
// on the portal and leaves the last run's file as it was; the cycle goes on.
TEST_F(MastersStageTest, AnEmptySourceSendsNothingAndKeepsTheOldFile) {
  remoteDb_.execute(
      "insert into studfee values ('S9', 'BSC', '1', 'OLD', 10, 0, 10, NULL, '2020', '1', NULL)");
  local(
      "insert into FEESTRV (FDEGREE, FADMNO, FHEADCODE, FFEE, FEXAMNO) values ('BSC', 'S9', "
      "'TUI', 1000, '1')");  // S9 is no student
  local(
      "insert into smslog (fdate, fmessage, fstatus, fguid, fmobileno, fupload) values "
      "('2024-03-05', 'x', 'failed', 'G1', '9845', NULL), ('2024-03-05', 'y', 'success', 'G2', "
      "'9845', 'T')");
  local("insert into student (fadmno, fdegree, fdoa) values ('A2', 'XX', '20230601')");
  local(
      "insert into result (fcollcode, fdegree, fexamno, fsection, fadmno, factive, fyear, "
      "fexamtype, fclosed) values ('C1', 'BSC', '1', 'A', 'A1', 'Y', '2024', 'R', 'N')");
  const std::pair<std::size_t (*)(CycleContext&), const char*> stages[] = {
      {uploadFeeHeads, "UPMASHEAD.csv"},
      {uploadReceipts, "UPRECHEAD.csv"},
      {uploadFeeBalances, "UPSTUDFEE.csv"},
      {uploadSmsLog, "UPSMS.csv"},
      {uploadResults, "RESULT.csv"},                // of no examination in degree
      {uploadStudentsAndLogins, "UPSTUDENT.csv"}};  // no SQL mode switch either
  for (const auto& [run, file] : stages) {
    testing::writeFile(exportPath(file), "old\r\n");
    EXPECT_EQ(run(ctx_), 0u) << file;
    EXPECT_TRUE(remoteStatements().empty()) << file;
    EXPECT_EQ(exportFile(file), "old\r\n");
  }
  EXPECT_EQ(remote("select count(*) from studfee"), "1");
  EXPECT_FALSE(std::filesystem::exists(exportPath("UPRECMODE.csv")));
}

using ResultsStageTest = MastersStageTest;

// Only results of examinations in degree are published (with none, the
// empty-source test's case); marks arrive with their conversions.
TEST_F(ResultsStageTest, OnlyResultsOfExaminationsInDegreeArePublished) {
  insertLocal(
      "result (fcollcode, fdegree, fexamno, fsection, fadmno, factive, fyear, fexamtype, "
      "fclosed)",
      {"'C1', 'BSC', '1', 'A', 'A001', 'Y', '2024', 'R', 'N'",
       "'C1', 'BSC', '2', 'B', 'A002', 'Y', '2024', 'R', 'N'"});
  // Examination 2 is of 2023 in degree.
  insertLocal("degree (fdegree, fexamno, fyear, fexamtype)",
              {"'BSC', '1', '2024', 'R'", "'BSC', '2', '2023', 'R'"});
  insertLocal(
      "studsub (fcollcode, fdegree, fexamno, fsubcode, fadmno, fpass, fpassmth, fmarks, fremarks)",
      {"'C1', 'BSC', '1', 'MAT01', 'A001', 'P', 'MAR2024', 45.50, NULL",
       "'C1', 'BSC', '9', 'PHY01', 'A001', NULL, NULL, NULL, 'absent'"});

  EXPECT_EQ(uploadResults(ctx_), 1u);
  EXPECT_EQ(exportFile("RESULT.csv"), "C1|BSC|1|A|A001|Y|2024|R|N|F\r\n");
  EXPECT_EQ(uploadSubjectMarks(ctx_), 2u);
  EXPECT_EQ(exportFile("STUDSUB.csv"),
            "C1|BSC|1|MAT01|A001|P|MAR2024|45.5||F\r\nC1|BSC|9|PHY01|A001||||absent|F\r\n");
  EXPECT_EQ(remoteRows("select fpass, fpassmth, fmarks, fremarks, fdeleted from studsub order by "
                       "fsubcode"),
            "P|MAR2024|45.5||F\n|||absent|F");
}

}  // namespace
}  // namespace agent
