// The link to the portal on real parts: the test server serves TLS with a
// certificate from a test CA for 127.0.0.1 and localhost (it listens on
// 127.0.0.2 as well, a name the certificate does not carry), and has an
// account that logs in only over TLS. The hostile portal server plays a
// server that asks for the password in clear. Also: the native driver's
// confinement of LOAD DATA LOCAL to the granted export file, its time-outs
// and its cancel().
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "base/remote_link.h"
#include "base/text.h"
#include "db/connection_string.h"
#include "db/error.h"
#include "db/growing_file.h"
#include "db/mariadb_connection.h"
#include "tests/support/hostile_portal.h"
#include "tests/support/remote_server.h"
#include "tests/support/temp_dir.h"

namespace agent {
namespace {

using testing::HostilePortal;
using testing::RemoteDriver;
using testing::RemoteServer;
using testing::RemoteTestDatabase;

std::string linkString(const std::string& host, const std::string& port, const std::string& user,
                       const std::string& password, TlsMode tls, const std::string& ca,
                       int connectTimeout = 30) {
  RemoteLink link;
  link.tls = tls;
  link.tlsCa = ca;
  link.connectTimeout = connectTimeout;
  return "DRIVER={MySQL ODBC 3.51 Driver};SERVER=" + host + ";UID=" + user +
         ";PWD=" + braceQuoted(password) + "; OPTION=3;PORT=" + port + linkKeywords(link);
}

// The connection's failure text, or "" when it connected.
std::string connectFailure(const std::string& connectionString, RemoteDriver driver) {
  try {
    testing::openRemote(connectionString, driver);
  } catch (const DbError& e) {
    return e.description().empty() ? "(no text)" : e.description();
  }
  return "";
}

std::string cipherOf(Connection& connection) {
  auto rows = connection.query("show session status like 'Ssl_cipher'", Cursor::Static);
  return rows->eof() ? "" : displayText(rows->field(1));
}

class RemoteLinkTest : public ::testing::TestWithParam<RemoteDriver> {};

// The verified link is encrypted and refuses another CA's certificate
// whether the name is checked or not; 127.0.0.2 reaches the same server
// but the certificate does not name it: the CA check alone passes, the
// identity check refuses. The account that requires TLS is refused on a
// plain link.
TEST_P(RemoteLinkTest, VerifiedLinkIsEncryptedAndRefusesAnotherCaOrHostNameOrAPlainLink) {
  const RemoteServer s = RemoteServer::fromEnvironment();
  struct Case {
    std::string host;
    TlsMode tls;
    std::string ca;
    bool tlsAccount;
    const char* failure;  // nullptr: connects over TLS
  };
  const Case cases[] = {{s.host, TlsMode::VerifyIdentity, s.tlsCa, false, nullptr},
                        {s.host, TlsMode::VerifyCa, s.otherCa, false, ""},
                        {s.host, TlsMode::VerifyIdentity, s.otherCa, false, ""},
                        {"127.0.0.2", TlsMode::VerifyCa, s.tlsCa, false, nullptr},
                        {"127.0.0.2", TlsMode::VerifyIdentity, s.tlsCa, false, ""},
                        {s.host, TlsMode::Off, "", true, "Access denied"},
                        {s.host, TlsMode::Required, "", true, nullptr}};
  for (const Case& c : cases) {
    const std::string link = linkString(c.host, s.port, c.tlsAccount ? s.tlsUser : s.user,
                                        c.tlsAccount ? s.tlsPassword : s.password, c.tls, c.ca);
    SCOPED_TRACE(c.host + " " + tlsModeName(c.tls) + " " + c.ca);
    if (c.failure == nullptr) {
      EXPECT_FALSE(cipherOf(*testing::openRemote(link, GetParam())).empty());
    } else {
      const std::string failure = connectFailure(link, GetParam());
      EXPECT_NE(failure, "");
      EXPECT_NE(failure.find(c.failure), std::string::npos) << failure;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(BothDrivers, RemoteLinkTest,
                         ::testing::Values(RemoteDriver::MariaDb, RemoteDriver::Odbc),
                         [](const auto& info) { return testing::driverName(info.param); });

TEST(NativeRemoteLink, NeverSendsThePasswordReadableWithoutAVerifiedLink) {
  const std::string secret = "Clear-Secret-4711";
  const std::string ca = RemoteServer::fromEnvironment().tlsCa;
  // A server that offers no TLS and then asks to switch to the clear-text
  // method: on every link the native driver sends no password, and a link
  // that requires TLS is not made.
  HostilePortal portal(HostilePortal::Mode::ClearPasswordSwitch);
  const std::string port = std::to_string(portal.port());
  for (TlsMode mode :
       {TlsMode::Off, TlsMode::Required, TlsMode::VerifyCa, TlsMode::VerifyIdentity}) {
    std::string failure =
        connectFailure(linkString("127.0.0.1", port, "u", secret, mode, ca), RemoteDriver::MariaDb);
    EXPECT_NE(failure, "") << tlsModeName(mode);
  }
  EXPECT_EQ(portal.received().find(secret), std::string::npos);
  // A server without TLS that accepts the challenge response: a link that
  // requires TLS is closed before any statement.
  HostilePortal plainServer(HostilePortal::Mode::AskForNamedFile);
  for (TlsMode mode : {TlsMode::Required, TlsMode::VerifyCa, TlsMode::VerifyIdentity}) {
    std::string failure = connectFailure(
        linkString("127.0.0.1", std::to_string(plainServer.port()), "u", secret, mode, ca),
        RemoteDriver::MariaDb);
    EXPECT_NE(failure.find("TLS"), std::string::npos) << tlsModeName(mode) << ": " << failure;
  }
  EXPECT_TRUE(plainServer.statements().empty());
  // Refused before the login: a relay that strips TLS gets no answer to the
  // real server's challenge to pass on.
  EXPECT_EQ(plainServer.received(), "");
  // The ODBC driver, which has no such restriction, shows what the server
  // would otherwise get.
  connectFailure(linkString("127.0.0.1", port, "u", secret, TlsMode::Off, ""), RemoteDriver::Odbc);
  EXPECT_NE(portal.received().find(secret), std::string::npos)
      << "the ODBC driver refused too: the control case no longer shows the risk";
}

TEST(NativeRemoteLink, ConnectTimeOutEndsASilentServer) {
  // A listening socket that never speaks: the TCP connect succeeds, the
  // server's greeting never comes.
  int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), length), 0);
  ASSERT_EQ(::listen(listener, 4), 0);
  ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
  auto started = std::chrono::steady_clock::now();
  std::string failure = connectFailure(
      linkString("127.0.0.1", std::to_string(ntohs(address.sin_port)), "u", "p", TlsMode::Off, "",
                 /*connectTimeout=*/1),
      RemoteDriver::MariaDb);
  auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  ::close(listener);
  EXPECT_NE(failure, "");
  EXPECT_LT(seconds, 10.0) << failure;
}

TEST(NativeRemoteLink, CancelBreaksOffARunningStatement) {
  RemoteTestDatabase db("link_cancel", /*withSchema=*/false);
  auto connection = MariaDbConnection::open(db.server().verifiedConnectionString(db.name()));
  std::thread canceller([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    connection->cancel();
  });
  auto started = std::chrono::steady_clock::now();
  std::string failure;
  try {
    connection->execute("select sleep(60)");
  } catch (const DbError& e) {
    failure = e.description();
  }
  auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  canceller.join();
  EXPECT_EQ(failure.rfind("cancelled", 0), 0u) << failure;
  EXPECT_LT(seconds, 10.0);
}

// ---- LOAD DATA LOCAL on the native driver ----------------------------------

class LocalFileTest : public ::testing::Test {
 protected:
  LocalFileTest() : db_("link_local_file"), dir_("link_local_file") {
    testing::writeFile(secret_, "SEC|secret-from-another-file|F\r\n");
    testing::writeFile(export_, "GEN|General|F\r\n");
    connection_ = MariaDbConnection::open(db_.server().verifiedConnectionString(db_.name()));
  }

  std::string load() const {
    return connection_->loadStatement({.file = export_,
                                       .table = "mascat",
                                       .columns = "fcatcode, fcatdesc, fdeleted",
                                       .format = {},
                                       .backslashEscapes = true});
  }
  // The failure of the load, or "" when it succeeded.
  std::string loadFailure() {
    try {
      connection_->execute(load());
    } catch (const DbError& e) {
      return e.description();
    }
    return "";
  }
  std::string rows() { return db_.scalar("select group_concat(fcatcode) from mascat"); }

  RemoteTestDatabase db_;
  testing::TempDir dir_;
  std::filesystem::path export_ = dir_ / "UPMASCAT.csv";
  std::filesystem::path secret_ = dir_ / "secret.ini";
  std::unique_ptr<MariaDbConnection> connection_;
};

TEST_F(LocalFileTest, OnlyTheGrantedFileAsWrittenIsSent) {
  // Nothing granted yet: refused, naming the file.
  std::string failure = loadFailure();
  EXPECT_NE(failure.find("\"" + export_.string() + "\""), std::string::npos) << failure;
  EXPECT_EQ(rows(), "");

  // Granted, then replaced by a link to another file: refused.
  LocalFileGrant written = testing::grantFor(export_);
  connection_->allowLocalFile(written);
  // Kept under another name, so that no file made below can be given its
  // inode number.
  std::filesystem::rename(export_, dir_ / "written.csv");
  std::filesystem::create_symlink(secret_, export_);
  failure = loadFailure();
  EXPECT_NE(failure.find("symbolic link"), std::string::npos) << failure;
  EXPECT_EQ(rows(), "");

  // Replaced by another regular file moved in under the same name: refused.
  std::filesystem::copy_file(secret_, dir_ / "other.csv");
  std::filesystem::rename(dir_ / "other.csv", export_);
  failure = loadFailure();
  EXPECT_NE(failure.find("not the file this cycle wrote"), std::string::npos) << failure;
  EXPECT_EQ(rows(), "");

  // The file as granted: sent.
  connection_->allowLocalFile(testing::grantFor(export_));
  EXPECT_EQ(loadFailure(), "");
  EXPECT_EQ(rows(), "SEC");
}

// A file granted while it is written is sent as it grows: a read at its
// current end waits for the writer. A writer that fails, or stalls past
// the limit, fails the load instead of ending the file early.
TEST_F(LocalFileTest, AGrowingFileIsSentWhileWrittenAndAStoppedOneFailsTheLoad) {
  auto append = [this](const std::string& line) {
    std::ofstream(export_, std::ios::binary | std::ios::app) << line;
    return std::filesystem::file_size(export_);
  };
  auto grantGrowing = [this](std::shared_ptr<GrowingFile> growing) {
    LocalFileGrant grant = testing::grantFor(export_);
    growing->grown(std::filesystem::file_size(export_));
    grant.growing = std::move(growing);
    connection_->allowLocalFile(grant);
  };
  auto pause = [] { std::this_thread::sleep_for(std::chrono::milliseconds(100)); };

  auto growing = std::make_shared<GrowingFile>();
  grantGrowing(growing);
  std::string failure = "not run";
  std::thread load([&] { failure = loadFailure(); });
  pause();  // the load has sent the first line and waits
  growing->grown(append("OBC|Other|F\r\n"));
  pause();
  growing->grown(append("SC|Scheduled|F\r\n"));
  growing->finish();
  load.join();
  EXPECT_EQ(failure, "");
  EXPECT_EQ(rows(), "GEN,OBC,SC");

  db_.execute("delete from mascat");
  growing = std::make_shared<GrowingFile>();
  grantGrowing(growing);
  load = std::thread([&] { failure = loadFailure(); });
  pause();
  growing->fail("Cannot write the export file: No space left on device");
  load.join();
  EXPECT_NE(failure.find("No space left on device"), std::string::npos) << failure;

  // A writer that neither writes nor ends: the load gives up at the limit.
  growing = std::make_shared<GrowingFile>(std::chrono::milliseconds(300));
  grantGrowing(growing);
  auto started = std::chrono::steady_clock::now();
  failure = loadFailure();
  auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  EXPECT_NE(failure.find("did not grow for 300 ms"), std::string::npos) << failure;
  EXPECT_LT(seconds, 10.0);
}

}  // namespace
}  // namespace agent
