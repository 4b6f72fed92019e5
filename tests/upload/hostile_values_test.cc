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
  // What a latin1 table holds instead ("?" for a character it cannot
  // hold); null: the same.
  const char* inLatin1 = nullptr;
};

// Line breaks and tabs stand raw inside the T-SQL literals.
const Hostile kHostile[] = {
    {"PIPE", "'a|b|'", "a|b|"},
    {"BSLASH", "'C:\\new\\x'", "C:\\new\\x"},
    {"TRAIL", "'ends\\'", "ends\\"},
    {"CRLF", "'one\r\ntwo'", "one\r\ntwo"},
    {"LF", "'one\ntwo'", "one\ntwo"},
    {"CR", "'one\r'", "one\r"},
    {"TAB", "'a\tb'", "a\tb"},
    {"QUOTE", "'it''s \"so\"'", "it's \"so\""},
    {"CEDIL", "N'12\u00B8 Main Road'", "12\u00B8 Main Road"},
    {"ACCENT", "N'Jos\u00E9 Pe\u00F1a M\u00FCller \u20AC5|\\'",
     "Jos\u00E9 Pe\u00F1a M\u00FCller \u20AC5|\\"},
    {"RUPEE", "N'\u20B9 500|x\\'", "\u20B9 500|x\\", "? 500|x\\"},
};

// The portal as latin1 throughout, utf8mb4 throughout, and latin1 tables in
// a utf8mb4 database: the files follow the database, the server converts
// to the table.
class HostileValuesTest : public testing::MirrorFixture,
                          public ::testing::WithParamInterface<testing::PortalCharsets> {
 protected:
  HostileValuesTest() : MirrorFixture(GetParam()) {}
};

TEST_P(HostileValuesTest, ValuesArriveAsTheyWereBeforeAndAfterTheSqlModeSwitch) {
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

  const bool utf8Files = GetParam().database != "latin1";
  EXPECT_EQ(ctx_.portal.exportCodePage, utf8Files ? CodePage::Utf8 : CodePage::Windows1252);
  const bool latin1Tables = GetParam().tables == "latin1";
  auto arrived = [this](const std::string& query, const char* key) {
    return remote(query + " = '" + key + "'");
  };
  for (const Hostile& h : kHostile) {
    const char* expected = latin1Tables && h.inLatin1 ? h.inLatin1 : h.arrives;
    EXPECT_EQ(arrived("select fcollname from college where fcollcode", h.key), expected) << h.key;
    EXPECT_EQ(arrived("select fremarks from studsub where fsubcode", h.key), expected) << h.key;
  }
  // The last column of each line takes no CR from the line end.
  EXPECT_EQ(remote("select count(*) from college where fdeleted <> 'F'"), "0");
  EXPECT_EQ(remote("select fname from student"), "C:\\temp|x");
  // A character the files cannot hold is counted by the agent; one the
  // table cannot hold, by the server (a warning the agent reports).
  EXPECT_EQ(journalLinesWith("college: 1 character"), utf8Files ? 0u : 1u);
}

INSTANTIATE_TEST_SUITE_P(Portals, HostileValuesTest,
                         ::testing::ValuesIn(testing::everyPortalCharset()),
                         [](const auto& info) { return testing::charsetsName(info.param); });

}  // namespace
}  // namespace agent
