// The remote drivers on real parts. Both drivers (the native one and the
// ODBC driver registered as "MySQL ODBC 3.51 Driver") against the test
// MariaDB server over verified TLS, the same cases on each: values and
// their types, reading many rows, error numbers (the cycles' tests load
// files and change the default database on both). The link: the test
// server serves TLS with a certificate from a test CA for 127.0.0.1 and
// localhost (it listens on 127.0.0.2 as well, a name the certificate does
// not carry), and has an account that logs in only over TLS; the hostile
// portal server plays a server that asks for the password in clear. And
// the native driver's confinement of LOAD DATA LOCAL to the granted export
// file and its time-outs (its cancel() is the cycle's stop test's).
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <utility>

#include "base/remote_link.h"
#include "base/text.h"
#include "db/connection_string.h"
#include "db/error.h"
#include "db/growing_file.h"
#include "db/mariadb_connection.h"
#include "tests/support/hostile_portal.h"
#include "tests/support/local_database.h"
#include "tests/support/remote_server.h"
#include "tests/support/temp_dir.h"

namespace agent {
namespace {

using testing::dbErrorOf;
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

double secondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
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

TEST(NativeRemoteLink, NeverSendsThePasswordReadableWithoutAVerifiedLinkNorWaitsForever) {
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
  // A server whose greeting never comes after the TCP connect: the connect
  // time-out ends the wait.
  HostilePortal silent(HostilePortal::Mode::Silent);
  auto started = std::chrono::steady_clock::now();
  std::string failure = connectFailure(linkString("127.0.0.1", std::to_string(silent.port()), "u",
                                                  "p", TlsMode::Off, "", /*connectTimeout=*/1),
                                       RemoteDriver::MariaDb);
  EXPECT_LT(secondsSince(started), 10.0) << failure;
  EXPECT_NE(failure, "");
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
      return "";
    } catch (const DbError& e) {
      return e.description();
    }
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
  EXPECT_LT(secondsSince(started), 10.0);
  EXPECT_NE(failure.find("did not grow for 300 ms"), std::string::npos) << failure;
}

// ---- Both drivers: values, rows, errors ----------------------------------

// A database without the schema and a connection to it on the driver.
class RemoteConnection : public ::testing::TestWithParam<RemoteDriver> {
 protected:
  RemoteTestDatabase db{"remote", /*withSchema=*/false};
  std::unique_ptr<Connection> connection = db.connect(GetParam());
};

TEST_P(RemoteConnection, ValuesKeepTheirTypesAndExactTextAndLongTextsArriveWhole) {
  connection->execute(
      "create table v (k int primary key, amount decimal(12,2), big bigint, ratio double, "
      "paid date, stamp datetime, at time, addr varchar(50), note text) default charset latin1");
  connection->execute(
      "insert into v values (1, 1500.50, 9007199254740993, 0.25, '2024-03-05', "
      "'2024-03-05 10:30:15', '13:45:00', '12\xC2\xB8 Main Road', 'caf\xC3\xA9')");
  connection->execute("insert into v (k) values (2)");

  auto rows = connection->query("select * from v order by k");
  ASSERT_FALSE(rows->eof());
  EXPECT_FALSE(rows->bof());
  EXPECT_EQ(rows->fieldName(1), "amount");

  const Value& amount = rows->field("AMOUNT");
  ASSERT_TRUE(amount.isNumber());
  EXPECT_EQ(amount.exactNumber(), "1500.50");
  EXPECT_DOUBLE_EQ(amount.numberValue(), 1500.5);
  EXPECT_EQ(rows->field("big").exactNumber(), "9007199254740993");  // beyond a double's digits
  EXPECT_EQ(rows->field("ratio"), Value::number(0.25));
  EXPECT_EQ(rows->field("paid"), Value::dateTime(DateTime{2024, 3, 5}));
  EXPECT_EQ(rows->field("stamp"), Value::dateTime(DateTime{2024, 3, 5, 10, 30, 15}));
  EXPECT_EQ(rows->field("at"), Value::dateTime(DateTime{1899, 12, 30, 13, 45, 0}));
  EXPECT_EQ(rows->field("addr"), Value::text("12\xC2\xB8 Main Road"));
  EXPECT_EQ(rows->field("note"), Value::text("caf\xC3\xA9"));

  rows->moveNext();
  ASSERT_FALSE(rows->eof());
  for (const char* name : {"amount", "big", "ratio", "paid", "stamp", "at", "addr", "note"}) {
    EXPECT_TRUE(rows->field(name).isNull()) << name;
  }
  rows->moveNext();
  EXPECT_TRUE(rows->eof());

  // The server holds the text in Windows-1252, one byte per character.
  rows.reset();
  EXPECT_EQ(db.scalar("select hex(addr) from v where k = 1"), "3132B8204D61696E20526F6164");
  EXPECT_EQ(db.scalar("select hex(note) from v where k = 1"), "636166E9");

  // A text longer than one 4,096-unit read buffer arrives in pieces: a
  // character of two UTF-16 units may straddle the pieces' border, and a
  // NUL or a line feed inside a value, short or long, must not end it.
  connection->execute(
      "create table t (k int primary key, id varchar(40), body mediumtext) default charset "
      "utf8mb4");
  // Written by the server itself, so that only the reading is under test.
  connection->execute(
      "insert into t (k, body) values (1, concat(repeat('a', 4094), convert(x'F09D849E' using "
      "utf8mb4), 'tail')), (2, repeat('b', 4095)), (3, concat(repeat('a', 10000), char(0 using "
      "utf8mb4), repeat('\xC3\xA9', 5000)))");
  // ORD, NUL, Z, LF, caf\xC3\xA9
  connection->execute("insert into t (k, id) values (4, _utf8mb4 X'4F5244005A0A636166C3A9')");
  std::string withNul = std::string(10000, 'a') + '\0';
  for (int i = 0; i < 5000; ++i) withNul += "\xC3\xA9";
  const std::pair<const char*, std::string> kExpected[] = {
      {"body", std::string(4094, 'a') + "\xF0\x9D\x84\x9E" + "tail"},  // U+1D11E
      {"body", std::string(4095, 'b')},
      {"body", withNul},
      {"id", std::string("ORD\0Z\ncaf\xC3\xA9", 11)},
  };
  for (Cursor cursor : {Cursor::Forward, Cursor::Static}) {
    rows = connection->query("select id, body from t order by k", cursor);
    for (const auto& [column, text] : kExpected) {
      ASSERT_FALSE(rows->eof());
      const Value& value = rows->field(column);
      ASSERT_TRUE(value.isText()) << column;
      EXPECT_EQ(value.textValue().size(), text.size());
      EXPECT_TRUE(value.textValue() == text) << column << " differs";
      rows->moveNext();
    }
  }
}

TEST_P(RemoteConnection, EveryRowOfALargeOrEmptyResultIsReadAndErrorsCarryTheirNumbers) {
  connection->execute("select 1 union select 2");  // execute drops the rows; the next one runs
  connection->execute("create table e (k int)");
  for (Cursor cursor : {Cursor::Forward, Cursor::Static}) {
    auto rows = connection->query("select k from e", cursor);
    EXPECT_TRUE(rows->eof() && rows->bof());
    EXPECT_EQ(rows->fieldCount(), 1u);
  }
  const int kRows = 50000;
  connection->execute("create table big (k int primary key, name varchar(40))");
  connection->execute("insert into big select seq, concat('name-', seq) from seq_1_to_" +
                      std::to_string(kRows));

  auto forward = connection->query("select k, name from big order by k", Cursor::Forward);
  int count = 0;
  for (; !forward->eof(); forward->moveNext()) {
    ++count;
    ASSERT_EQ(forward->field("k").exactNumber(), std::to_string(count));
  }
  forward.reset();
  EXPECT_EQ(count, kRows);

  // A static recordset is read whole at open: the connection is free for
  // other statements while it is walked, and it keeps the rows it read.
  auto whole = connection->query("select k, name from big order by k", Cursor::Static);
  connection->execute("delete from big");
  count = 0;
  for (; !whole->eof(); whole->moveNext()) ++count;
  EXPECT_EQ(count, kRows);
  EXPECT_EQ(db.scalar("select count(*) from big"), "0");

  // Errors carry the SQL state, the server's number and the agent's.
  DbError missing = dbErrorOf([&] { connection->execute("select * from nosuchtable"); });
  EXPECT_EQ(missing.sqlstate(), "42S02");
  EXPECT_EQ(missing.nativeCode(), 1146);
  EXPECT_EQ(missing.number(), error_number::kObjectNotFound);
  EXPECT_NE(missing.description().find("Table '" + db.name() + ".nosuchtable' doesn't exist"),
            std::string::npos)
      << missing.description();

  DbError syntax = dbErrorOf([&] { connection->query("selec 1"); });
  EXPECT_EQ(syntax.sqlstate(), "42000");
  EXPECT_EQ(syntax.nativeCode(), 1064);
  EXPECT_EQ(syntax.number(), error_number::kSyntaxOrAccess);

  connection->execute("create table u (k int primary key)");
  connection->execute("insert into u values (1)");
  DbError duplicate = dbErrorOf([&] { connection->execute("insert into u values (1)"); });
  EXPECT_EQ(duplicate.sqlstate().substr(0, 2), "23");
  EXPECT_EQ(duplicate.number(), error_number::kIntegrityViolation);

  std::string wrongPassword = db.server().verifiedConnectionString(db.name());
  wrongPassword.replace(wrongPassword.find(";PWD=") + 5, db.server().password.size(), "wrong");
  DbError login = dbErrorOf([&] { testing::openRemote(wrongPassword, GetParam()); });
  EXPECT_EQ(login.sqlstate(), "28000");
  EXPECT_EQ(login.nativeCode(), 1045);
  EXPECT_EQ(login.number(), error_number::kGenericFailure);
  EXPECT_NE(login.description().find("Access denied"), std::string::npos) << login.description();
  EXPECT_EQ(dbErrorOf([&] { connection->setDefaultDatabase("no_such_database_x"); }).nativeCode(),
            1049);
}

INSTANTIATE_TEST_SUITE_P(BothDrivers, RemoteConnection,
                         ::testing::Values(RemoteDriver::MariaDb, RemoteDriver::Odbc),
                         [](const auto& info) { return testing::driverName(info.param); });

}  // namespace
}  // namespace agent
