// upload-agent --check on real program folders: the local database on the
// embedded engine, the portal's database on the test MariaDB server. What
// a new office gets wrong (a missing column, a wrong password, an account
// for another institution, separators, code page, certificate files) must
// fail with the line that names it, and the check must write nothing.
#include <algorithm>
#include <map>

#include <gtest/gtest.h>

#include "app/core/config_check.h"
#include "cycle/cycle.h"
#include "payments/payment_posting.h"
#include "tests/support/agent_folder_test.h"
#include "tests/support/agent_process.h"
#include "tests/support/temp_dir.h"

namespace agent {
namespace {

using testing::TempDir;
using testing::writeFile;

// Every file and folder under root with its size and modification time.
// The embedded engine's -shm file is left out: it is the write-ahead log's
// shared-memory index, which every reader of the database maps and stamps;
// the database and its log are compared.
std::map<std::string, std::string> snapshot(const std::filesystem::path& root) {
  std::map<std::string, std::string> files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    if (entry.path().string().ends_with("-shm")) continue;
    std::string what = entry.is_directory() ? "dir" : std::to_string(entry.file_size());
    what += "@" + std::to_string(entry.last_write_time().time_since_epoch().count());
    files[entry.path().string()] = what;
  }
  return files;
}

class CheckTest : public testing::AgentFolderTest {
 protected:
  CheckTest() : AgentFolderTest("check", "P001") {}

  std::vector<CheckLine> check() { return checkConfiguration(home_.path()); }

  // The lines that failed, as "subject: detail".
  std::vector<std::string> failures() {
    std::vector<std::string> out;
    for (const CheckLine& line : check()) {
      if (line.result == CheckLine::Result::Failed)
        out.push_back(line.subject + ": " + line.detail);
    }
    return out;
  }
  void expectFailure(const std::string& text) {
    const std::vector<std::string> failed = failures();
    EXPECT_TRUE(anyHas(failed, text)) << text << " in " << ::testing::PrintToString(failed);
  }
  static bool anyHas(const std::vector<std::string>& lines, const std::string& text) {
    return std::any_of(lines.begin(), lines.end(),
                       [&](const std::string& l) { return l.find(text) != std::string::npos; });
  }
};

TEST_F(CheckTest, ASoundFolderPassesAndNothingIsWrittenAnywhere) {
  const auto localBefore = snapshot(local_.serverFolder());
  const auto homeBefore = snapshot(home_.path());
  const std::string tablesBefore = remote_.scalar(
      "select group_concat(table_name order by table_name) from information_schema.tables "
      "where table_schema = database()");

  // The program itself, as an administrator runs it.
  testing::AgentProcess program(home_.path(), {"--check"});
  EXPECT_EQ(program.wait(std::chrono::seconds(60)), 0) << program.output();
  const std::string out = program.output();
  EXPECT_EQ(out.find("FAILED"), std::string::npos) << out;
  EXPECT_NE(out.find("OK      local control row: institution \"P001\""), std::string::npos) << out;
  EXPECT_NE(out.find("OK      portal table rzp_paymentgateway"), std::string::npos) << out;
  EXPECT_NE(out.find("A cycle could run."), std::string::npos) << out;

  // No CSV folder, no journal, no other file; the local database untouched;
  // on the portal no stamp and no staging table.
  EXPECT_EQ(snapshot(home_.path()), homeBefore);
  EXPECT_EQ(snapshot(local_.serverFolder()), localBefore);
  EXPECT_FALSE(std::filesystem::exists(home_.path() / "CSV"));
  EXPECT_FALSE(std::filesystem::exists(home_.path() / "log"));
  EXPECT_EQ(remote_.scalar("select concat(ifnull(flastupdstarttime, 'NULL'), ' / ', "
                           "ifnull(flastupdendtime, 'NULL')) from control"),
            "NULL / NULL");
  EXPECT_EQ(remote_.scalar("select group_concat(table_name order by table_name) from "
                           "information_schema.tables where table_schema = database()"),
            tablesBefore);
}

// Missing portal tables and columns are named; the payment tables only for
// institutions that write them.
TEST_F(CheckTest, MissingPortalTablesAndColumnsAreNamed) {
  remote_.execute("alter table rechead drop column fnettotal");
  remote_.execute("alter table studfee drop column fdeleted");
  remote_.execute("drop table masuser");
  remote_.execute("drop table rzp_paymentgateway");
  std::vector<std::string> failed = failures();
  EXPECT_EQ(failed.size(), 4u) << ::testing::PrintToString(failed);
  EXPECT_TRUE(anyHas(failed, "portal table rechead: lacks column(s) fnettotal"));
  EXPECT_TRUE(anyHas(failed, "portal table studfee: lacks column(s) fdeleted"));
  EXPECT_TRUE(anyHas(failed, "portal table masuser: missing"));
  EXPECT_TRUE(anyHas(failed, "portal table rzp_paymentgateway: missing"));
  EXPECT_EQ(printCheck(check(), std::cout), 1);
  // P019 takes the portal's receipts instead: it never marks gateway rows.
  local_.execute("update control set funivcode = 'P019'");
  home_.write("remote-accounts.ini", remote_.accountSection("P019"));
  failed = failures();
  EXPECT_EQ(failed.size(), 3u) << ::testing::PrintToString(failed);
  EXPECT_FALSE(anyHas(failed, "rzp_paymentgateway"));
}

// What an office gets wrong in its settings files fails with the line that
// names what to change.
TEST_F(CheckTest, SettingsMistakesFailWithWhatToChange) {
  // An account section for another institution (and a section the agent
  // does not know, which is only a warning).
  home_.write("remote-accounts.ini", remote_.accountSection("P002") + "\n[X9]\nuser = u\n");
  std::vector<CheckLine> lines = check();
  EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const CheckLine& l) {
    return l.result == CheckLine::Result::Warning && l.detail.find("X9") != std::string::npos;
  }));
  expectFailure("portal account: institution \"P001\" has no section [P001]");

  // The right section with a wrong password: the driver's refusal.
  std::string section = remote_.accountSection("P001");
  section.insert(section.find('\n', section.find("password")), "-wrong");
  home_.write("remote-accounts.ini", section);
  expectFailure("portal connection: Error");

  // The CA file the link names must be there; keys the agent does not read
  // are not its business.
  const std::string drivers =
      "[drivers]\nSQL Server = embedded\nMySQL ODBC 3.51 Driver = odbc:MySQL ODBC 3.51 Driver\n";
  home_.write("platform.ini", drivers + "[remote]\nssl_key = missing-key.pem\n");
  home_.write("remote-accounts.ini", remote_.accountSection("P001") + "tls = verify-identity\n");
  EXPECT_EQ(failures(), std::vector<std::string>{});
  section = remote_.accountSection("P001");
  section.replace(section.find("tls_ca = "), std::string::npos, "tls_ca = missing-ca.pem\n");
  home_.write("remote-accounts.ini", section);
  expectFailure("TLS CA file: " + (home_.path() / "missing-ca.pem").string());
  home_.write("remote-accounts.ini", remote_.accountSection("P001"));

  home_.write("platform.ini", drivers + "[regional]\ndecimal_separator = ,\ndate_separator = |\n");
  std::vector<std::string> failed = failures();
  ASSERT_EQ(failed.size(), 1u) << ::testing::PrintToString(failed);
  EXPECT_NE(failed[0].find("decimal_separator = \",\""), std::string::npos) << failed[0];
  EXPECT_NE(failed[0].find("date_separator = \"|\""), std::string::npos) << failed[0];
  // UTF-8 files read by a latin1 server would garble every accent.
  home_.write("platform.ini", drivers + "[export]\ncode_page = utf-8\n");
  expectFailure(
      "code page: the export writes utf-8 (platform.ini [export] code_page) but the portal's "
      "server reads load files in \"latin1\"");
  // The portal's driver name mapped to a driver nobody registered.
  home_.write("platform.ini",
              "[drivers]\nSQL Server = embedded\nMySQL ODBC 3.51 Driver = odbc:No Such Driver\n");
  expectFailure("no ODBC driver \"No Such Driver\" is registered");

  // A wrong local password stops the check before the portal.
  home_.settings("SQLSRVR", local_.serverFolder().string(), local_.name(), "not-it");
  expectFailure("local connection: Error");
  expectFailure("portal: not checked");
  // No settings file at all.
  std::filesystem::remove(home_.path() / "Ostrel.INI");
  expectFailure("Ostrel.INI: ");
}

}  // namespace
}  // namespace agent
