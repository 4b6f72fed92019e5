// Both remote drivers (the native one and the ODBC driver registered as
// "MySQL ODBC 3.51 Driver") against the test MariaDB server over verified
// TLS, the same cases on each: values and their types, reading many rows,
// error numbers, LOAD DATA LOCAL INFILE and the default database.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "db/error.h"
#include "tests/support/local_database.h"
#include "tests/support/remote_server.h"
#include "tests/support/temp_dir.h"

namespace agent {
namespace {

using testing::dbErrorOf;
using testing::grantFor;
using testing::RemoteDriver;
using testing::RemoteTestDatabase;

// A database without the schema and a connection to it on the driver.
class RemoteConnection : public ::testing::TestWithParam<RemoteDriver> {
 protected:
  RemoteTestDatabase db{"remote", /*withSchema=*/false};
  std::unique_ptr<Connection> connection = db.connect(GetParam());
};

TEST_P(RemoteConnection, ValuesKeepTheirTypesAndExactText) {
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
}

// A text longer than one 4,096-unit read buffer arrives in pieces: a
// character of two UTF-16 units may straddle the pieces' border, and a NUL
// or a line feed inside a value, short or long, must not end it.
TEST_P(RemoteConnection, LongTextsAndTextsHoldingNulArriveWhole) {
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
    auto rows = connection->query("select id, body from t order by k", cursor);
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

TEST_P(RemoteConnection, ForwardAndStaticReadEveryRowOfALargeOrEmptyResult) {
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
}

TEST_P(RemoteConnection, ErrorsCarrySqlStateNativeCodeAndTheAgentNumber) {
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
}

TEST_P(RemoteConnection, LoadDataLocalInfileMergesAPipeSeparatedFile) {
  RemoteTestDatabase db("remote_load");
  testing::TempDir dir("remote_load");
  // Windows-1252 bytes and CR LF line ends, as the export files are written.
  testing::writeFile(dir / "UPMASCAT.csv", "GEN|General|F\r\nOBC|Caf\xE9 12\xB8 Road|F\r\n");
  connection = db.connect(GetParam());
  const std::string load = connection->loadStatement({.file = dir / "UPMASCAT.csv",
                                                      .table = "mascat",
                                                      .columns = "fcatcode, fcatdesc, fdeleted",
                                                      .format = {},
                                                      .backslashEscapes = true});
  connection->allowLocalFile(grantFor(dir / "UPMASCAT.csv"));
  connection->execute(load);
  // A second load skips the rows whose key exists, without an error.
  connection->execute(load);

  EXPECT_EQ(db.scalar("select count(*) from mascat"), "2");
  EXPECT_EQ(db.scalar("select fcatdesc from mascat where fcatcode = 'OBC'"),
            "Caf\xC3\xA9 12\xC2\xB8 Road");
  EXPECT_EQ(db.scalar("select fdeleted from mascat where fcatcode = 'GEN'"), "F");
}

TEST_P(RemoteConnection, DefaultDatabaseCanBeChanged) {
  RemoteTestDatabase second("remote_catalog", /*withSchema=*/false);
  connection->setDefaultDatabase(second.name());
  EXPECT_EQ(connection->query("select database()")->field(std::size_t{0}).textValue(),
            second.name());
  EXPECT_EQ(dbErrorOf([&] { connection->setDefaultDatabase("no_such_database_x"); }).nativeCode(),
            1049);
}

INSTANTIATE_TEST_SUITE_P(BothDrivers, RemoteConnection,
                         ::testing::Values(RemoteDriver::MariaDb, RemoteDriver::Odbc),
                         [](const auto& info) { return testing::driverName(info.param); });

}  // namespace
}  // namespace agent
