// The table stage test setting.
#include "tests/upload/mirror_fixture.h"

#include <algorithm>
#include <filesystem>

#include "cycle/export_encoding.h"
#include "tests/support/program_folder.h"

namespace agent::testing {

namespace {

std::string currentTestName() {
  const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
  return info ? info->name() : "mirror";
}

// A remote cell as the tests write it: the value's display text, "<null>"
// for NULL, dates without their (midnight) time as the DATE columns hold
// them.
std::string cellText(const Value& value) {
  std::string text = displayText(value, "<null>");
  return value.isDateTime() ? text.substr(0, 10) : text;
}

}  // namespace

MirrorFixture::MirrorFixture(const PortalCharsets& charsets)
    : remoteDb_(currentTestName().substr(0, 30), true, charsets),
      remoteConnection_(remoteDb_.connect()),
      checked_(*remoteConnection_, journal_, serverWarnings_),
      recorded_(checked_),
      localDb_("mirror-local"),
      home_("mirror-home"),
      ctx_{localDb_.connection(),
           recorded_,
           home_.path(),
           config_,
           "P028",
           messages_,
           journal_,
           clock_} {
  std::filesystem::create_directories(home_ / "CSV");
  ctx_.serverWarnings = &serverWarnings_;
  learnExportCodePage(ctx_);
}

std::filesystem::path MirrorFixture::exportPath(const std::string& name) const {
  return home_ / "CSV" / name;
}

std::string MirrorFixture::exportFile(const std::string& name) const {
  return readFile(exportPath(name));
}

void MirrorFixture::insertLocal(const std::string& into, std::initializer_list<std::string> rows) {
  for (const std::string& row : rows) local("insert into " + into + " values (" + row + ")");
}

std::vector<std::string> MirrorFixture::statementHeads() const {
  std::vector<std::string> heads;
  for (const std::string& sql : remoteStatements()) {
    const std::size_t table = sql.find("INTO TABLE ") + 11;
    heads.push_back(sql.starts_with("LOAD DATA")
                        ? "load " + sql.substr(table, sql.find(' ', table) - table)
                        : sql.substr(0, std::min(sql.find(" set "), sql.find(" = concat_ws("))));
  }
  return heads;
}

std::string MirrorFixture::remoteTables(const std::string& pattern) const {
  return remote(
      "select group_concat(table_name order by table_name) from information_schema.tables where "
      "table_schema = database() and table_name like '" +
      pattern + "'");
}

std::size_t MirrorFixture::journalLinesWith(const std::string& text) const {
  return testing::journalLinesWith(journal_, text);
}

std::string MirrorFixture::remoteRows(const std::string& sql,
                                      const RemoteTestDatabase* other) const {
  auto connection = (other ? *other : remoteDb_).connect();
  auto rows = connection->query(sql, Cursor::Static);
  std::string out;
  for (; !rows->eof(); rows->moveNext()) {
    if (!out.empty()) out += "\n";
    for (std::size_t i = 0; i < rows->fieldCount(); ++i) {
      if (i > 0) out += "|";
      out += cellText(rows->field(i));
    }
  }
  return out;
}

}  // namespace agent::testing
