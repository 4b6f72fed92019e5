// upload-agent --check on real program folders: a mistake fails with the
// line that names it, the check writes nothing and opens the portal as the
// cycle does. A hostile portal asking for remote-accounts.ini gets nothing.
#include <algorithm>
#include <map>

#include <gtest/gtest.h>

#include "app/core/agent.h"
#include "app/core/config_check.h"
#include "config/remote_accounts.h"
#include "cycle/cycle.h"
#include "tests/support/agent_folder_test.h"
#include "tests/support/agent_process.h"
#include "tests/support/hostile_portal.h"
#include "tests/support/temp_dir.h"
#include "upload/table_stages.h"

namespace agent {
namespace {

// Every file and folder under root with its size and modification time,
// but the write-ahead log's -shm index, which every reader maps and stamps.
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

TEST_F(CheckTest, ASoundFolderPassesWritingNothingMissingTablesAndColumnsAreNamed) {
  const auto localBefore = snapshot(local_.serverFolder());
  const auto homeBefore = snapshot(home_.path());
  const std::string tablesQuery =
      "select group_concat(table_name order by table_name) from information_schema.tables "
      "where table_schema = database()";
  const std::string tablesBefore = remote_.scalar(tablesQuery);

  // The program itself, as an administrator runs it.
  testing::AgentProcess program(home_.path(), {"--check"});
  EXPECT_EQ(program.wait(std::chrono::seconds(60)), 0) << program.output();
  const std::string out = program.output();
  EXPECT_EQ(out.find("FAILED"), std::string::npos) << out;
  EXPECT_NE(out.find("OK      local control row: institution \"P001\""), std::string::npos) << out;
  EXPECT_NE(out.find("OK      portal table rzp_paymentgateway"), std::string::npos) << out;
  EXPECT_NE(out.find("A cycle could run."), std::string::npos) << out;

  // No CSV folder, no journal, no other file (the folder's snapshot); the
  // local database untouched; on the portal no stamp and no staging table.
  EXPECT_EQ(snapshot(home_.path()), homeBefore);
  EXPECT_EQ(snapshot(local_.serverFolder()), localBefore);
  EXPECT_EQ(remote_.scalar("select concat(ifnull(flastupdstarttime, 'NULL'), ' / ', "
                           "ifnull(flastupdendtime, 'NULL')) from control"),
            "NULL / NULL");
  EXPECT_EQ(remote_.scalar(tablesQuery), tablesBefore);

  // Missing portal tables and columns are named; the payment tables only for
  // institutions that write them.
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

using testing::HostilePortal;

constexpr const char* kPortalPassword = "Portal-Secret-9";

class PortalLinkTest : public testing::AgentFolderTest {
 protected:
  PortalLinkTest() : AgentFolderTest("portal_link", "P001") {
    local_.execute("create table mascat (fcatcode varchar(10), fcatdesc varchar(60))");
    local_.execute("insert into mascat values ('GEN', 'General')");
    clock_.set({2024, 3, 5, 14, 7, 9});
  }

  bool runCategories() {
    if (!agent_) {
      agent_ = std::make_unique<Agent>(home_.path(), messages_, journal_, clock_);
      agent_->ensureCsvFolder();
      agent_->connectLocal();
    }
    static const Stage stages[] = {{"categories", uploadCategories}};
    return agent_->runCycle(stages);
  }
  testing::SetClock clock_;
  std::unique_ptr<Agent> agent_;
};

TEST_F(PortalLinkTest, RequestForAnotherFileGetsNothingAndIsJournaled) {
  const std::string accounts = (home_.path() / kRemoteAccountsFileName).string();
  HostilePortal portal(HostilePortal::Mode::AskForAnotherFile, accounts);
  // A plain link: a server without TLS gets nothing else.
  home_.write(kRemoteAccountsFileName,
              "[P001]\nuser = portal_user\npassword = " + std::string(kPortalPassword) +
                  "\nserver = 127.0.0.1\ndatabase = portal\nport = " +
                  std::to_string(portal.port()) + "\ntls = off\n");

  EXPECT_FALSE(runCategories());
  ASSERT_EQ(portal.filesAskedFor().size(), 1u);
  EXPECT_EQ(portal.fileBytes(), "");
  EXPECT_EQ(portal.received().find(kPortalPassword), std::string::npos);
  EXPECT_EQ(journalLinesWith("the server asked for the local file \"" + accounts + "\""), 1u);
  EXPECT_EQ(journalLinesWith("not encrypted (tls = off)"), 1u);

  // The control: a server asking for the file the statement names gets the
  // export file, and the cycle completes.
  EXPECT_TRUE(runCategories());
  ASSERT_EQ(portal.filesAskedFor().size(), 3u);  // the staging load and the insert load
  EXPECT_NE(portal.fileBytes().find("GEN|General|F\r\n"), std::string::npos);
  EXPECT_EQ(portal.received().find(kPortalPassword), std::string::npos);
  EXPECT_EQ(journalLinesWith("not encrypted (tls = off)"), 2u);  // at every cycle
}

// --check opens the portal the way every cycle does: for each link set-up
// an office may have, the check's "portal connection" line and the cycle's
// connection agree, and a refusal names the setting to change. Of several
// hosts, one that does not answer is passed over (and said); a host without
// its own port takes the account's. The ODBC driver, whose LOAD DATA LOCAL
// is not confined, is warned of at every cycle. (Another CA, tls = required
// and ODBC with required are the Windows link matrix's set-ups.)
TEST_F(PortalLinkTest, CheckAndCycleAgreeOnEveryLinkSetUp) {
  const testing::RemoteServer& s = remote_.server();
  const std::string odbc =
      "[drivers]\nSQL Server = embedded\nMySQL ODBC 3.51 Driver = odbc:MySQL ODBC 3.51 Driver\n";
  const std::string native = "[drivers]\nSQL Server = embedded\nMySQL ODBC 3.51 Driver = mariadb\n";
  const std::string ca = "tls_ca = " + s.tlsCa + "\n";
  auto account = [&](const std::string& host, const std::string& link, bool tlsUser = false) {
    return "[P001]\nuser = " + (tlsUser ? s.tlsUser : s.user) +
           "\npassword = " + (tlsUser ? s.tlsPassword : s.password) + "\nserver = " + host +
           "\ndatabase = " + remote_.name() + "\nport = " + s.port + "\n" + link;
  };
  struct SetUp {
    const char* what;
    std::string platform;
    std::string accounts;
    bool connects;
    const char* refusalNames;  // a text the refusal must hold
  };
  const std::vector<SetUp> setUps = {
      {"tls unset, no CA: the system's CAs do not know the test CA", native, account(s.host, ""),
       false, "tls_ca"},
      {"tls unset, a host name the certificate does not carry", native, account("127.0.0.2", ca),
       false, "names the server"},
      {"verify-ca, the same host", native, account("127.0.0.2", "tls = verify-ca\n" + ca), true,
       ""},
      {"an account that logs in only over TLS, tls unset", native, account(s.host, ca, true), true,
       ""},
      {"ODBC with a verified link", odbc, account(s.host, ca), true, ""},
      {"ODBC again", odbc, account(s.host, ca), true, ""},
      {"several hosts, the first does not answer, the second on the account's port", native,
       account(" 127.0.0.1:1 , " + s.host, "tls = verify-ca\n" + ca), true, ""},
  };
  for (const SetUp& setUp : setUps) {
    SCOPED_TRACE(setUp.what);
    home_.write("platform.ini", setUp.platform);
    home_.write(kRemoteAccountsFileName, setUp.accounts);
    std::optional<CheckLine> checked;
    for (const CheckLine& line : checkConfiguration(home_.path())) {
      if (line.subject == "portal connection" ||
          (line.subject == "portal link" && line.result == CheckLine::Result::Failed)) {
        checked = line;
      }
    }
    ASSERT_TRUE(checked.has_value());
    agent_.reset();
    const std::size_t connectedBefore = journalLinesWith("remote connection: ");
    const std::size_t shownBefore = messages_.texts.size();
    runCategories();
    const bool cycleConnected = journalLinesWith("remote connection: ") > connectedBefore;
    const bool checkConnected = checked->result == CheckLine::Result::Ok;
    EXPECT_EQ(checkConnected, setUp.connects) << checked->detail;
    EXPECT_EQ(cycleConnected, setUp.connects);
    if (!setUp.connects) {
      EXPECT_NE(checked->detail.find(setUp.refusalNames), std::string::npos) << checked->detail;
      // The connection's own box comes first; the cycle's failure follows.
      ASSERT_GT(messages_.texts.size(), shownBefore);
      EXPECT_NE(messages_.texts[shownBefore].find(setUp.refusalNames), std::string::npos)
          << messages_.texts[shownBefore];
    } else {
      EXPECT_NE(checked->detail.find("verified"), std::string::npos) << checked->detail;
    }
  }
  EXPECT_EQ(journalLinesWith("LOAD DATA LOCAL is not confined on the ODBC driver"), 2u);
  EXPECT_EQ(journalLinesWith("passed over: 127.0.0.1:1"), 1u);
  EXPECT_EQ(remote_.scalar("select fcatdesc from mascat where fcatcode = 'GEN'"), "General");
}

}  // namespace
}  // namespace agent
