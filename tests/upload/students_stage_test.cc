// Students and logins against the real remote server: the one-pass stage's
// statement order and SQL mode switch, the published set, what an existing
// student and login take, and the file contents.
#include <gtest/gtest.h>

#include "tests/upload/mirror_fixture.h"
#include "upload/table_stages.h"

namespace agent {
namespace {

class StudentsStageTest : public testing::MirrorFixture {
 protected:
  // A published student with the given admission number, fdeleted and
  // first address line (SQL text, NULL allowed).
  void addStudent(const std::string& admno, const std::string& degree = "'BSC'",
                  const std::string& doa = "'20230601'", const std::string& deleted = "'F'",
                  const std::string& addr1 = "'1 Street'") {
    local(
        "insert into student (fadmno, fdegree, fexamno, fname, fdob, fsex, fbgroup, fdoa, "
        "fhostjoindate, faddr1, fdeleted) values ('" +
        admno + "', " + degree + ", '1', 'Name " + admno + "', '20050215', 'M', 'O+', " + doa +
        ", NULL, " + addr1 + ", " + deleted + ")");
  }

  // The export line of a student added by addStudent: fields 1 to 46,
  // Nulls empty, dates yyyy-mm-dd.
  static std::string studentLine(const std::string& admno, const std::string& addr1,
                                 const char* deleted = "F") {
    std::vector<std::string> fields(46);
    const std::pair<int, std::string> set[] = {
        {0, admno}, {1, "BSC"}, {2, "1"},    {3, "Name " + admno}, {6, "2005-02-15"},
        {9, "M"},   {10, "O+"}, {17, addr1}, {28, "2023-06-01"},   {45, deleted}};
    for (const auto& [i, text] : set) fields[i] = text;
    std::string line;
    for (std::size_t i = 0; i < fields.size(); ++i) line += (i ? "|" : "") + fields[i];
    return line + "\r\n";
  }

  std::string sqlMode() {
    auto rows = remoteConnection_->query("select @@session.sql_mode", Cursor::Static);
    return rows->field(std::size_t{0}).textValue();
  }
};

// One pass writes both files, then sends both merges and drops last, with
// backslash escapes off for the loads; a program folder with a backslash in
// its path loads before and after that switch. Only students with a degree
// and an admission date are published; an existing student takes
// everything, its login only fdeleted; the files carry ISO dates, restored
// commas and empty Nulls.
TEST_F(StudentsStageTest, OnePassPublishesMergesAndLoadsFromAnyFolderAcrossTheModeSwitch) {
  ctx_.programFolder = home_.path() / "Office\\Upload's";
  std::filesystem::create_directories(ctx_.csvFolder());
  insertLocal("college (fcollcode, fcollname)", {"'C01', 'First'"});
  remoteDb_.execute(
      "insert into student (fadmno, fname, fdegree, fdeleted) values ('A001', 'Old', 'OLD', 'F'), "
      "('A002', 'Kept', 'OLD', 'F')");
  remoteDb_.execute("insert into masuser values ('A001', 'changed-on-portal', 'S', 'S', 'F')");
  addStudent("A001", "'BSC'", "'20230601'", "'T'", "N'12\u00B8 Main Road'");
  addStudent("A002", "'XX'");
  addStudent("A003", "NULL");
  addStudent("A004", "'BSC'", "NULL");
  addStudent("A005", "'BSC'", "'20230601'", "'F'", "NULL");
  EXPECT_EQ(uploadColleges(ctx_), 1u);  // backslash escapes on
  recorded_.clear();
  EXPECT_EQ(uploadStudentsAndLogins(ctx_), 2u);

  // The merge and load texts are checked by the descriptions' test.
  const std::vector<std::string> expected = {
      "drop table if exists tmpstudent", "drop table if exists tmpmasuser",
      "create table if not exists tmpstudent like student",
      // The session's mode for the loads, backslash escapes off.
      "SET sql_mode='NO_BACKSLASH_ESCAPES'", "SET sql_mode", "load tmpstudent",
      "update student x1, tmpstudent x2", "load student",
      "create table if not exists tmpmasuser like masuser", "load tmpmasuser",
      "update masuser x1, tmpmasuser x2", "load masuser", "drop table if exists tmpstudent",
      "drop table if exists tmpmasuser"};
  EXPECT_EQ(statementHeads(), expected);
  // Backslash escapes off, the test server's strictness kept.
  EXPECT_EQ(sqlMode(), "NO_BACKSLASH_ESCAPES,STRICT_TRANS_TABLES");
  local("update college set fcollname = 'Renamed'");
  EXPECT_EQ(uploadColleges(ctx_), 1u);  // and off
  EXPECT_EQ(remoteRows("select fcollcode, fcollname from college"), "C01|Renamed");

  EXPECT_EQ(testing::readFile(ctx_.csvFolder() / "UPSTUDENT.csv"),
            studentLine("A001", "12, Main Road", "T") + studentLine("A005", ""));
  EXPECT_EQ(testing::readFile(ctx_.csvFolder() / "UPMASUSER.csv"),
            "A001|newuser|S|S|T\r\nA005|newuser|S|S|F\r\n");
  EXPECT_EQ(remoteRows("select fadmno, fname, fdegree, fdob, fgender, fbloodgrp, fdoa, faddr1, "
                       "fdeleted from student order by fadmno"),
            "A001|Name A001|BSC|2005-02-15|M|O+|2023-06-01|12, Main Road|T\n"
            "A002|Kept|OLD|<null>|<null>|<null>|<null>|<null>|F\n"
            "A005|Name A005|BSC|2005-02-15|M|O+|2023-06-01||F");
  EXPECT_EQ(remoteRows("select * from masuser order by fusername"),
            "A001|changed-on-portal|S|S|T\nA005|newuser|S|S|F");
}

}  // namespace
}  // namespace agent
