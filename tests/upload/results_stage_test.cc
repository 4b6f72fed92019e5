// Results and subject marks against the real remote server.
#include <gtest/gtest.h>

#include "tests/upload/mirror_fixture.h"
#include "upload/table_stages.h"

namespace agent {
namespace {

using testing::writeFile;

class ResultsStageTest : public testing::MirrorFixture {
 protected:
  void addResult(const std::string& admno, const std::string& examno, const std::string& section,
                 const std::string& closed) {
    local(
        "insert into result (fcollcode, fdegree, fexamno, fsection, fadmno, factive, fyear, "
        "fexamtype, fclosed) values ('C1', 'BSC', '" +
        examno + "', '" + section + "', '" + admno + "', 'Y', '2024', 'R', '" + closed + "')");
  }
};

TEST_F(ResultsStageTest, OnlyResultsOfExaminationsInDegreeArePublished) {
  insertLocal("degree (fdegree, fexamno, fyear, fexamtype)",
              {"'BSC', '1', '2024', 'R'", "'BSC', '2', '2023', 'R'"});
  addResult("A001", "1", "A", "N");
  addResult("A002", "2", "B", "N");  // examination 2 is of 2023 in degree
  remoteDb_.execute(
      "insert into result values ('C1', 'BSC', '1', 'Z', 'A001', 'N', '2024', 'R', "
      "'Y', 'T')");

  EXPECT_EQ(uploadResults(ctx_), 1u);
  EXPECT_EQ(exportFile("RESULT.csv"), "C1|BSC|1|A|A001|Y|2024|R|N|F\r\n");
  EXPECT_EQ(remoteRows("select fsection, factive, fclosed, fdeleted from result"), "A|Y|N|T");
}

// Subject marks also show the merge: an existing row takes the new values
// and keeps its remote fdeleted.
TEST_F(ResultsStageTest, NoMatchingResultLeavesItsFileAndTheStudsubStageGoesOn) {
  writeFile(exportPath("RESULT.csv"), "old\r\n");
  addResult("A001", "9", "A", "N");  // no such examination in degree
  remoteDb_.execute(
      "insert into studsub values ('C1', 'BSC', '1', 'MAT01', 'A001', 'F', '', '12', 'old', 'T')");
  insertLocal(
      "studsub (fcollcode, fdegree, fexamno, fsubcode, fadmno, fpass, fpassmth, fmarks, fremarks)",
      {"'C1', 'BSC', '1', 'MAT01', 'A001', 'P', 'MAR2024', 45.50, NULL",
       "'C1', 'BSC', '9', 'PHY01', 'A001', NULL, NULL, NULL, 'absent'"});

  EXPECT_EQ(uploadResults(ctx_), 0u);
  EXPECT_TRUE(remoteStatements().empty());
  EXPECT_EQ(exportFile("RESULT.csv"), "old\r\n");

  EXPECT_EQ(uploadSubjectMarks(ctx_), 2u);
  EXPECT_EQ(exportFile("STUDSUB.csv"),
            "C1|BSC|1|MAT01|A001|P|MAR2024|45.5||F\r\n"
            "C1|BSC|9|PHY01|A001||||absent|F\r\n");
  EXPECT_EQ(remoteRows("select fpass, fpassmth, fmarks, fremarks, fdeleted from studsub order by "
                       "fsubcode"),
            "P|MAR2024|45.5||T\n|||absent|F");
}

}  // namespace
}  // namespace agent
