// Hostile values through whole stages: a master table loaded before the
// students stage switches the SQL mode and subject marks loaded after it.
// Each value arrives exactly as it was, or with "?" for a character the
// export code page cannot hold, which the journal counts.
#include <gtest/gtest.h>

#include "tests/upload/mirror_fixture.h"
#include "upload/table_stages.h"

namespace agent {
namespace {

struct Hostile {
  const char* key;
  const char* local;    // T-SQL literal
  const char* arrives;  // remote value, UTF-8
};

// Line breaks stand raw inside the T-SQL literals.
const Hostile kHostile[] = {
    {"PIPE", "'a|b|'", "a|b|"},
    {"BSLASH", "'C:\\new\\x'", "C:\\new\\x"},
    {"TRAIL", "'ends\\'", "ends\\"},
    {"CRLF", "'one\r\ntwo'", "one\r\ntwo"},
    {"LF", "'one\ntwo'", "one\ntwo"},
    {"CR", "'one\r'", "one\r"},
    {"QUOTE", "'it''s \"so\"'", "it's \"so\""},
    {"CEDIL", "N'12\u00B8 Main Road'", "12\u00B8 Main Road"},
    {"RUPEE", "N'\u20B9 500'", "? 500"},
};

class HostileValuesTest : public testing::MirrorFixture {};

TEST_F(HostileValuesTest, ValuesArriveAsTheyWereBeforeAndAfterTheSqlModeSwitch) {
  for (const Hostile& h : kHostile) {
    local(std::string("insert into college (fcollcode, fcollname, fattsession) values ('") + h.key +
          "', " + h.local + ", 'AM')");
    local(std::string("insert into studsub (fcollcode, fdegree, fexamno, fsubcode, fadmno, "
                      "fremarks) values ('C1', 'BSC', '1', '") +
          h.key + "', 'A001', " + h.local + ")");
  }
  local(
      "insert into student (fadmno, fdegree, fexamno, fname, fdoa, fdeleted) values ('A001', "
      "'BSC', '1', 'C:\\temp|x', '20230601', 'F')");

  uploadColleges(ctx_);
  uploadStudentsAndLogins(ctx_);
  uploadSubjectMarks(ctx_);

  for (const Hostile& h : kHostile) {
    EXPECT_EQ(
        remote(std::string("select fcollname from college where fcollcode = '") + h.key + "'"),
        h.arrives)
        << "college " << h.key;
    EXPECT_EQ(remote(std::string("select fremarks from studsub where fsubcode = '") + h.key + "'"),
              h.arrives)
        << "studsub " << h.key;
  }
  // The last column of each line takes no CR from the line end.
  EXPECT_EQ(remote("select count(*) from college where fdeleted <> 'F'"), "0");
  EXPECT_EQ(remote("select fname from student"), "C:\\temp|x");
  EXPECT_GE(journalLinesWith("college: 1 character"), 1u);
}

}  // namespace
}  // namespace agent
