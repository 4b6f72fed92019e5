// The table stage test setting.
#include "tests/upload/mirror_fixture.h"

#include <algorithm>
#include <filesystem>

#include "cycle/export_encoding.h"

namespace agent::testing {

namespace {

std::string currentTestName() {
  const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
  return info ? info->name() : "mirror";
}

}  // namespace

MirrorFixture::MirrorFixture(const PortalCharsets& charsets)
    : remoteDb_(currentTestName().substr(0, 30), true, charsets),
      remoteConnection_(remoteDb_.connect()),
      checked_(*remoteConnection_, journal_, serverWarnings_),
      recorded_(checked_),
      localDb_("mirror-local"),
      home_("mirror-home") {
  std::filesystem::create_directories(home_ / "CSV");
  ctx_.serverWarnings = &serverWarnings_;
  ctx_.portal.exportCodePage = learnExportCodePage(ctx_.remote, ctx_.config, ctx_.journal);
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

std::string MirrorFixture::remoteRows(const std::string& sql) const {
  auto connection = remoteDb_.connect();
  auto rows = connection->query(sql, Cursor::Static);
  std::string out;
  for (bool first = true; !rows->eof(); rows->moveNext(), first = false) {
    for (std::size_t i = 0; i < rows->fieldCount(); ++i) {
      const Value& value = rows->field(i);
      const std::string text = displayText(value, "<null>");
      out += (i > 0 ? "|" : first ? "" : "\n") + (value.isDateTime() ? text.substr(0, 10) : text);
    }
  }
  return out;
}

}  // namespace agent::testing
