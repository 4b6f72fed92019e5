// The academic master tables against the real remote server: statement
// sequences of the three staging variants, merge semantics, file format,
// conversions, empty tables and a staging table left by an interrupted run.
#include <gtest/gtest.h>

#include "cycle/cluster_session.h"
#include "db/error.h"
#include "tests/upload/mirror_fixture.h"
#include "upload/table_stages.h"

namespace agent {
namespace {

using testing::FailingConnection;
using testing::writeFile;

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
// dropped; the statements' own text is checked by the descriptions' test.
// A staging load a cluster node refused is sent again behind its drop and
// create, so that no row is loaded twice.
TEST_F(MastersStageTest, EachStagingVariantSendsItsStatementsInOrder) {
  local("insert into college (fcollcode, fcollname) values ('C1', 'First')");
  local("insert into degree (fdegree, fdescpn, fexamno) values ('BSC', 'Science', '1')");
  local(
      "insert into subject (fdegree, fexamno, fsubcode, fssubcode) values ('BSC', '1', 'MAT', "
      "'01')");
  EXPECT_EQ(uploadColleges(ctx_), 1u);
  RefusesOnceAfterRunning refusing(ctx_.remote, "INTO TABLE tmpdegree ");
  CycleContext refusedCtx{ctx_.local,    refusing,      ctx_.programFolder, ctx_.config,
                          ctx_.univCode, ctx_.messages, ctx_.journal,       ctx_.clock};
  refusedCtx.portal = ctx_.portal;
  EXPECT_EQ(uploadDegrees(refusedCtx), 1u);
  EXPECT_EQ(remote("select count(*) from degree"), "1");
  EXPECT_EQ(uploadSubjects(ctx_), 1u);

  // Each statement by its first words and the table it names last there.
  std::vector<std::string> heads;
  for (const std::string& sql : remoteStatements()) {
    if (sql.starts_with("LOAD DATA")) {
      const std::size_t table = sql.find("INTO TABLE ") + 11;
      heads.push_back("load " + sql.substr(table, sql.find(' ', table) - table));
    } else {
      heads.push_back(sql.substr(0, sql.find(" set ")));
    }
  }
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
  EXPECT_EQ(heads, expected);
  EXPECT_EQ(remote("select count(*) from information_schema.tables where table_schema = "
                   "database() and table_name like 'tmp%'"),
            "1");  // tmpcollege only
}

TEST_F(MastersStageTest, MergeUpdatesNamedColumnsKeepsRemoteFdeletedAndInsertsNewRowsWhole) {
  remoteDb_.execute(
      "insert into college values ('C1', 'Old name', 'o1', 'o2', 'o3', 'o4', "
      "'AM', 'T')");
  remoteDb_.execute("insert into mascat values ('GEN', 'Old', 'T')");
  insertLocal("college (fcollcode, fcollname, fadd1, fadd2, fadd3, fadd4, fattsession)",
              {"'C1', 'New name', 'n1', NULL, 'n3', 'n4', 'PM'",
               "'C2', 'Second', 'a1', 'a2', 'a3', 'a4', 'AM'"});
  insertLocal("mascat (fcatcode, fcatdesc)", {"'GEN', 'General'", "'OBC', NULL"});

  uploadColleges(ctx_);
  uploadCategories(ctx_);

  EXPECT_EQ(remoteRows("select * from college order by fcollcode"),
            "C1|New name|n1||n3|n4|PM|T\n"
            "C2|Second|a1|a2|a3|a4|AM|F");
  EXPECT_EQ(remoteRows("select * from mascat order by fcatcode"), "GEN|General|T\nOBC||F");
  EXPECT_EQ(exportFile("UPMASCAT.csv"), "GEN|General|F\r\nOBC||F\r\n");
  EXPECT_EQ(exportFile("UPCOLLEGE.csv"),
            "C1|New name|n1||n3|n4|PM|F\r\nC2|Second|a1|a2|a3|a4|AM|F\r\n");
}

TEST_F(MastersStageTest, SubjectsCombineCodesTrimFourFieldsAndKeepRemoteMaxMarks) {
  remoteDb_.execute(
      "insert into subject (fdegree, fexamno, fsubcode, fcsubcode, fsubname, "
      "fmaxmarks, fsmaxmarks, fdeleted) values ('BSC', '1', 'MAT', 'MAT01', "
      "'Old', 100, 50, 'T')");
  insertLocal(
      "subject (fdegree, fexamno, fsubcode, fsubname, fssubcode, fssubname, fattsub, fth, fia, "
      "fretain, fcombclid)",
      {"'BSC', '1', 'MAT', ' Maths ', '01', 'Algebra', 'Y', ' 70 ', '30  ', '  Y', ' C1 '",
       "'BSC', '1', 'PHY', 'Physics', NULL, NULL, NULL, NULL, NULL, NULL, NULL"});

  EXPECT_EQ(uploadSubjects(ctx_), 2u);

  EXPECT_EQ(exportFile("UPSUBJECT.csv"),
            "BSC|1|MAT| Maths |01|Algebra|MAT01|Y|70|30|Y|C1|F\r\n"
            "BSC|1|PHY|Physics|||PHY||||||F\r\n");
  EXPECT_EQ(remoteRows("select fsubname, fth, fia, fretain, fmaxmarks, fsmaxmarks, fdeleted from "
                       "subject where fcsubcode = 'MAT01'"),
            " Maths |70|30|Y|100.00|50.00|T");
  EXPECT_EQ(remote("select fdeleted from subject where fcsubcode = 'PHY'"), "F");
}

TEST_F(MastersStageTest, ExamDatesAreWrittenInThePlainShortForm) {
  insertLocal("degree (fdegree, fdescpn, fexamno, fexamname, fyear, fexamtype, fexamdate)",
              {"'BSC', 'Science', '1', 'First', '2024', 'R', '20240307'",
               "'BSC', 'Science', '2', 'Second', '2024', 'R', NULL"});
  uploadDegrees(ctx_);
  EXPECT_EQ(exportFile("UPDEGREE.csv"),
            "BSC|Science|1|First|2024|R|07/03/2024|F\r\n"
            "BSC|Science|2|Second|2024|R||F\r\n");
  EXPECT_EQ(remote("select fexamdate from degree where fexamno = '1'"), "07/03/2024");
}

// A stage whose source holds no row to send sends nothing, deletes nothing
// on the portal and leaves the last run's file as it was.
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
  const struct {
    std::size_t (*run)(CycleContext&);
    const char* file;
  } stages[] = {{uploadFeeHeads, "UPMASHEAD.csv"},
                {uploadReceipts, "UPRECHEAD.csv"},
                {uploadFeeBalances, "UPSTUDFEE.csv"},
                {uploadSmsLog, "UPSMS.csv"}};
  for (const auto& stage : stages) {
    SCOPED_TRACE(stage.file);
    writeFile(exportPath(stage.file), "old\r\n");
    EXPECT_EQ(stage.run(ctx_), 0u);
    EXPECT_TRUE(remoteStatements().empty());
    EXPECT_EQ(exportFile(stage.file), "old\r\n");
  }
  EXPECT_EQ(remote("select count(*) from studfee"), "1");
  EXPECT_FALSE(std::filesystem::exists(exportPath("UPRECMODE.csv")));
}

// On a cluster node a staging table may have to be made from its table's
// definition: with a primary key of its own for a portal table keyed by a
// unique key only (a cluster refuses or crawls through a keyless one), as it
// is for a keyed one (a node that requires keys refuses LIKE). The merge's
// result is the one of a staging table made LIKE its table.
TEST_F(MastersStageTest, OnAClusterStagingTablesMadeFromDefinitionsMergeAsLikeOnes) {
  remoteDb_.execute(
      "alter table college drop primary key, add unique key college_code (fcollcode), "
      "add constraint college_route foreign key (fattsession) references masroute (frtcode)");
  remoteDb_.execute("alter table mascat drop primary key, add unique key (fcatcode)");
  remoteDb_.execute("insert into masroute values ('AM', 'Morning', 'F'), ('PM', 'Noon', 'F')");
  remoteDb_.execute("insert into college values ('C1', 'Old', 'o1', 'o2', 'o3', 'o4', 'AM', 'T')");
  remoteDb_.execute("insert into degree (fdegree, fexamno, fdescpn) values ('BSC', '1', 'Old')");
  insertLocal("college (fcollcode, fcollname, fattsession)",
              {"'C1', 'New name', 'PM'", "'C2', 'Second', 'AM'"});
  insertLocal("mascat (fcatcode, fcatdesc)", {"'GEN', 'General'"});
  insertLocal("degree (fdegree, fdescpn, fexamno)", {"'BSC', 'Science', '1'", "'BA', 'Arts', '1'"});
  ctx_.portal.cluster.node = true;
  std::map<std::string, std::string> keyless = tableDefinitions(*remoteConnection_, true);
  EXPECT_EQ(keyless.count("college") + keyless.count("control") + keyless.count("degree"), 2u);
  ctx_.portal.cluster.stagingDefinitions = tableDefinitions(*remoteConnection_, false);

  uploadColleges(ctx_);
  uploadDegrees(ctx_);
  uploadCategories(ctx_);
  local("update mascat set fcatdesc = 'Changed'");
  uploadCategories(ctx_);  // the staging table made again: "if not exists"

  EXPECT_EQ(remoteRows("select fcollcode, fcollname, fattsession, fdeleted from college order by "
                       "fcollcode"),
            "C1|New name|PM|T\nC2|Second|AM|F");
  EXPECT_EQ(remoteRows("select * from mascat"), "GEN|Changed|F");
  EXPECT_EQ(remoteRows("select fdegree, fdescpn from degree order by fdegree"),
            "BA|Arts\nBSC|Science");
  EXPECT_EQ(remoteRows("select index_name, column_name from information_schema.statistics "
                       "where table_schema = database() and table_name = 'tmpcollege' "
                       "order by index_name, seq_in_index"),
            "college_code|fcollcode\ncollege_route|fattsession\nPRIMARY|fagentrow");
  EXPECT_EQ(remote("select count(*) from tmpcollege"), "2");
  // A keyless table with an auto-increment column of its own is left to LIKE.
  EXPECT_EQ(stagingCreateFromDefinition("CREATE TABLE `t` (\n  `a` int NOT NULL AUTO_INCREMENT,\n "
                                        " UNIQUE KEY `a` (`a`)\n) ENGINE=InnoDB",
                                        "tmpt", true),
            "");
}

TEST_F(MastersStageTest, AStagingTableLeftByAnInterruptedRunIsNotMerged) {
  remoteDb_.execute("insert into masroute values ('R1', 'Remote name', 'F')");
  local("insert into masroute (frtcode, frtname) values ('R1', 'First run')");

  // The first run stops after its staging load: tmpmasroute stays.
  FailingConnection failing(recorded_, "update masroute",
                            AgentError(error_number::kSyntaxOrAccess, "lost connection"));
  CycleContext failingCtx{ctx_.local,    failing,       ctx_.programFolder, ctx_.config,
                          ctx_.univCode, ctx_.messages, ctx_.journal,       ctx_.clock};
  EXPECT_THROW(uploadRoutes(failingCtx), AgentError);
  EXPECT_EQ(remote("select frtname from tmpmasroute where frtcode = 'R1'"), "First run");

  // The next run starts from an empty staging table: the current value
  // of R1 is merged, not the stale one left behind.
  local("update masroute set frtname = 'Second run' where frtcode = 'R1'");
  local("insert into masroute (frtcode, frtname) values ('R2', 'New route')");
  recorded_.clear();
  uploadRoutes(ctx_);
  EXPECT_EQ(remoteStatements().front(), "drop table if exists tmpmasroute");
  EXPECT_EQ(remoteRows("select * from masroute order by frtcode"),
            "R1|Second run|F\nR2|New route|F");
  EXPECT_EQ(remote("select count(*) from information_schema.tables where table_schema = "
                   "database() and table_name = 'tmpmasroute'"),
            "0");
}

}  // namespace
}  // namespace agent
