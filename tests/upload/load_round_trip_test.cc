// Export files read back by the real server: every hostile character
// arrives exactly as written, under the server's default SQL mode and
// after the cycle switches it to NO_BACKSLASH_ESCAPES.
#include <gtest/gtest.h>

#include <vector>

#include "db/connection.h"
#include "tests/support/remote_server.h"
#include "tests/support/temp_dir.h"
#include "upload/export_writer.h"
#include "upload/load_statement.h"

namespace agent {
namespace {

using testing::RemoteTestDatabase;
using testing::TempDir;

// Hostile descriptions, keyed by category code; the expected remote value
// is the value itself, or "?" in place of a character Windows-1252 lacks.
struct Hostile {
  std::string code;
  std::string value;
  std::string arrives;
};

const std::vector<Hostile>& hostileValues() {
  static const std::vector<Hostile> kValues = {
      {"PIPE", "a|b||c", "a|b||c"},
      {"BACKSL", "C:\\new\\table", "C:\\new\\table"},
      {"LONEBS", "ends with\\", "ends with\\"},
      {"CRLF", "line1\r\nline2", "line1\r\nline2"},
      {"LF", "line1\nline2", "line1\nline2"},
      {"CR", "cr\r", "cr\r"},
      {"QUOTES", "it's \"this\"", "it's \"this\""},
      {"CEDIL", "12\xC2\xB8 Main Road", "12\xC2\xB8 Main Road"},
      {"RUPEE", "\xE2\x82\xB9 500", "? 500"},
      {"NULLWD", "\\N", "\\N"},
      {"EMPTY", "", ""},
  };
  return kValues;
}

void writeAndLoad(Connection& remote, const std::filesystem::path& file, const std::string& table) {
  ExportFile out(file, CodePage::Windows1252);
  for (const Hostile& h : hostileValues()) {
    std::vector<std::string> line = {h.code, h.value, h.value};
    out.writeLine(line);
  }
  out.close();
  remote.execute(loadStatement(file.string(), table, "fcatcode, fcatdesc, fdeleted"));
}

void expectArrived(const RemoteTestDatabase& db, const std::string& table) {
  EXPECT_EQ(db.scalar("select count(*) from " + table), std::to_string(hostileValues().size()));
  for (const Hostile& h : hostileValues()) {
    EXPECT_EQ(db.scalar("select fcatdesc from " + table + " where fcatcode = '" + h.code + "'"),
              h.arrives)
        << h.code;
  }
}

TEST(LoadRoundTripTest, HostileValuesArriveUnchangedInBothSqlModes) {
  RemoteTestDatabase db("load_round_trip");
  TempDir dir("load");
  auto remote = db.connect();
  // The last column is made wide so that the line end is checked too: the
  // CR of CR LF must not land in it.
  remote->execute(
      "create table widecat (fcatcode varchar(10) primary key, fcatdesc "
      "varchar(100), fdeleted varchar(100)) default charset latin1");
  remote->execute("create table widecat2 like widecat");

  writeAndLoad(*remote, dir / "default_mode.csv", "widecat");
  expectArrived(db, "widecat");
  EXPECT_EQ(db.scalar("select count(*) from widecat where fdeleted <> fcatdesc"), "0");

  remote->execute("SET sql_mode='NO_BACKSLASH_ESCAPES'");
  writeAndLoad(*remote, dir / "no_backslash.csv", "widecat2");
  expectArrived(db, "widecat2");
  EXPECT_EQ(db.scalar("select count(*) from widecat2 where fdeleted <> fcatdesc"), "0");
}

}  // namespace
}  // namespace agent
