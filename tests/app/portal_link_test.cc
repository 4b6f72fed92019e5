// A whole cycle against a hostile portal server: it answers the agent's
// first LOAD DATA LOCAL INFILE with a request for remote-accounts.ini, the
// file holding the portal password. The agent must send nothing of it and
// end the cycle with a journal line naming the file asked for. Also the
// journal's warnings about the link: a plain link at every cycle, and the
// ODBC driver's unconfined LOAD DATA LOCAL.
#include <gtest/gtest.h>

#include "app/core/agent.h"
#include "app/core/config_check.h"
#include "app/core/portal_link.h"
#include "config/remote_accounts.h"
#include "tests/support/agent_folder_test.h"
#include "tests/support/hostile_portal.h"
#include "tests/support/local_database.h"
#include "tests/support/program_folder.h"
#include "tests/support/remote_server.h"
#include "upload/table_stages.h"

namespace agent {
namespace {

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
  EXPECT_EQ(journalLinesWith("cycle end: stamped"), 0u);
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
// is not confined, is warned of at every cycle.
TEST_F(PortalLinkTest, CheckAndCycleAgreeOnEveryLinkSetUp) {
  const testing::RemoteServer& s = remote_.server();
  RemoteAccount listed;
  listed.server = " 127.0.0.1:1 , " + s.host + ":" + s.port + ",db3";
  listed.port = "3307";
  std::vector<PortalHost> hosts = portalHosts(listed);
  ASSERT_EQ(hosts.size(), 3u);
  EXPECT_EQ(hosts[1].server, s.host);
  EXPECT_EQ(hosts[2].name(), "db3:3307");
  const std::string odbc =
      "[drivers]\nSQL Server = embedded\nMySQL ODBC 3.51 Driver = odbc:MySQL ODBC 3.51 Driver\n";
  const std::string native = "[drivers]\nSQL Server = embedded\nMySQL ODBC 3.51 Driver = mariadb\n";
  auto account = [&](const std::string& host, const std::string& user, const std::string& password,
                     const std::string& link) {
    return "[P001]\nuser = " + user + "\npassword = " + password + "\nserver = " + host +
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
      {"tls unset, no CA: the system's CAs do not know the test CA", native,
       account(s.host, s.user, s.password, ""), false, "tls_ca"},
      {"tls unset, another CA", native,
       account(s.host, s.user, s.password, "tls_ca = " + s.otherCa + "\n"), false, "tls_ca"},
      {"tls unset, a host name the certificate does not carry", native,
       account("127.0.0.2", s.user, s.password, "tls_ca = " + s.tlsCa + "\n"), false,
       "names the server"},
      {"verify-ca, the same host", native,
       account("127.0.0.2", s.user, s.password, "tls = verify-ca\ntls_ca = " + s.tlsCa + "\n"),
       true, ""},
      {"an account that logs in only over TLS, tls unset", native,
       account(s.host, s.tlsUser, s.tlsPassword, "tls_ca = " + s.tlsCa + "\n"), true, ""},
      {"required, written out", native, account(s.host, s.user, s.password, "tls = required\n"),
       true, ""},
      {"ODBC with required", odbc, account(s.host, s.user, s.password, "tls = required\n"), false,
       "only with tls = verify-identity"},
      {"ODBC with a verified link", odbc,
       account(s.host, s.user, s.password, "tls_ca = " + s.tlsCa + "\n"), true, ""},
      {"ODBC again", odbc, account(s.host, s.user, s.password, "tls_ca = " + s.tlsCa + "\n"), true,
       ""},
      {"several hosts, the first does not answer", native,
       account("127.0.0.1:1, " + s.host + ":" + s.port, s.user, s.password,
               "tls = verify-ca\ntls_ca = " + s.tlsCa + "\n"),
       true, ""},
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
    } else if (setUp.accounts.find("tls = required") != std::string::npos) {
      EXPECT_NE(checked->detail.find("server not verified"), std::string::npos) << checked->detail;
    } else {
      EXPECT_NE(checked->detail.find("verified"), std::string::npos) << checked->detail;
    }
  }
  EXPECT_GE(journalLinesWith("server is not verified (tls = required)"), 1u);
  EXPECT_EQ(journalLinesWith("LOAD DATA LOCAL is not confined on the ODBC driver"), 2u);
  EXPECT_EQ(journalLinesWith("passed over: 127.0.0.1:1"), 1u);
  EXPECT_EQ(remote_.scalar("select fcatdesc from mascat where fcatcode = 'GEN'"), "General");
}

}  // namespace
}  // namespace agent
