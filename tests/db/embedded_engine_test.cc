// Behaviour of the embedded engine that the agent relies on beyond its
// fixed statements: login, databases, SQL Server's comparison and "+"
// rules, date conversion by DATEFORMAT, temporary tables per connection,
// error texts and numbers, transactions, and a writer in another process.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/resource.h>
#endif

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "db/embedded/embedded_engine.h"
#include "db/error.h"
#include "tests/support/local_database.h"

namespace agent::testing {
namespace {

// The SQL Server error a statement raises, or 0 with no error.
long nativeErrorOf(Connection& c, const std::string& sql, std::string* text = nullptr) {
  try {
    c.execute(sql);
  } catch (const DbError& e) {
    if (text) *text = e.description();
    return e.nativeCode();
  }
  return 0;
}

// The error's SQL Server number and text, its state and the agent's number.
void expectError(const DbError& e, long native, const std::string& text, const std::string& state,
                 long number) {
  EXPECT_EQ(e.nativeCode(), native);
  EXPECT_EQ(e.description(), text);
  EXPECT_EQ(e.sqlstate(), state);
  EXPECT_EQ(e.number(), number);
}

std::string scalar(Connection& c, const std::string& query) {
  auto rows = rowsOf(c, query);
  return rows.empty() ? "<no row>" : rows.front();
}

class EmbeddedEngineTest : public ::testing::Test {
 protected:
  Connection& db() { return *db_; }
  const std::filesystem::path& folder() const { return local_.serverFolder(); }

  LocalTestDatabase local_{"engine", /*withSchema=*/false};
  std::unique_ptr<Connection> db_ = local_.connect();
};

TEST_F(EmbeddedEngineTest, LoginChecksThePasswordOfTheServerFolder) {
  EXPECT_NO_THROW(openEmbeddedConnection(folder(), "sa", LocalTestDatabase::kSaPassword));
  expectError(dbErrorOf([&] { openEmbeddedConnection(folder(), "SA", "wrong"); }), 18456,
              "Login failed for user 'SA'.", "28000", error_number::kGenericFailure);
  EXPECT_THROW(openEmbeddedConnection(folder(), "admin", LocalTestDatabase::kSaPassword), DbError);
  EXPECT_THROW(openEmbeddedConnection(folder() / "none", "SA", "x"), DbError);
}

TEST_F(EmbeddedEngineTest, DatabasesAreFilesOfTheServerFolder) {
  auto master = openEmbeddedConnection(folder(), "SA", LocalTestDatabase::kSaPassword);
  std::string text;
  EXPECT_EQ(nativeErrorOf(*master, "CREATE DATABASE agent_local", &text), 1801);
  EXPECT_EQ(text, "Database 'agent_local' already exists. Choose a different database name.");
  master->execute("CREATE DATABASE [ORBA_KLT]");
  EXPECT_TRUE(std::filesystem::exists(folder() / "ORBA_KLT.sqlite"));
  master->setDefaultDatabase("ORBA_KLT");
  expectError(dbErrorOf([&] { master->setDefaultDatabase("Missing"); }), 4060,
              "Cannot open database \"Missing\" requested by the login. The login failed.", "42000",
              error_number::kSyntaxOrAccess);
  EXPECT_THROW(master->setDefaultDatabase("../agent_local"), DbError);
}

TEST_F(EmbeddedEngineTest, TextComparesIgnoringCaseAndTrailingBlanks) {
  db().execute("create table t (code varchar(10) primary key, name varchar(20))");
  db().execute("insert into t values ('b', 'x'), ('A', 'y'), ('c ', 'z')");
  EXPECT_EQ(scalar(db(), "select case when 'ONLINE' <> 'online' then 1 else 0 end"), "0");
  EXPECT_EQ(rowsOf(db(), "select code from t where code in ('B', 'C')", ""),
            (std::vector<std::string>{"b", "c "}));
  EXPECT_EQ(rowsOf(db(), "select code from t order by code"),
            (std::vector<std::string>{"A", "b", "c "}));
  EXPECT_EQ(rowsOf(db(), "select name from t where code = 'C'"), (std::vector<std::string>{"z"}));
  // LIKE ignores the matched value's trailing blanks, not the pattern's.
  EXPECT_EQ(rowsOf(db(), "select code from t where code like 'C'"),
            (std::vector<std::string>{"c "}));
  EXPECT_EQ(rowsOf(db(), "select code from t where code like 'b '"), std::vector<std::string>{});
  // Concatenations compare under the same rule.
  EXPECT_EQ(rowsOf(db(), "select code from t where code + name = 'AY'"),
            (std::vector<std::string>{"A"}));
  // The key refuses a value that differs only in case.
  EXPECT_EQ(nativeErrorOf(db(), "insert into t values ('a', 'w')"), 2627);
  db().execute("create table g (k varchar(5), n int)");
  db().execute("insert into g values ('ab', 1), ('AB ', 2), ('Ab', 3), ('cd', 4)");
  EXPECT_EQ(rowsOf(db(), "select count(*), sum(n) from g group by k order by 1"),
            (std::vector<std::string>{"1|4", "3|6"}));
}

TEST_F(EmbeddedEngineTest, PlusConcatenatesTextAndAddsNumbers) {
  db().execute("create table p (a varchar(10), b varchar(10), n int, m numeric(10,2))");
  db().execute("insert into p values ('ab', 'cd', 2, 1.25)");
  EXPECT_EQ(scalar(db(), "select a + b from p"), "abcd");
  EXPECT_EQ(scalar(db(), "select n + m from p"), "3.25");
  EXPECT_EQ(scalar(db(), "select n + 3 from p"), "5");
  EXPECT_EQ(scalar(db(), "select '1' + 1"), "2");  // text meets a number: the text is converted
  EXPECT_EQ(scalar(db(), "select 'a' + NULL"), "NULL");
  db().execute("insert into p values (NULL, 'x', NULL, NULL)");
  EXPECT_EQ(rowsOf(db(), "select a + b, n + m from p order by b"),
            (std::vector<std::string>{"abcd|3.25", "NULL|NULL"}));
  std::string text;
  EXPECT_EQ(nativeErrorOf(db(), "select a + n from p", &text), 245);
  EXPECT_EQ(text, "Conversion failed when converting the varchar value 'ab' to data type int.");
}

TEST_F(EmbeddedEngineTest, DateDiffCountsDayBoundaries) {
  db().execute("SET DATEFORMAT DMY");
  EXPECT_EQ(scalar(db(), "select datediff(d, '31/12/2023 23:59:59', '01/01/2024 00:00:01')"), "1");
  EXPECT_EQ(scalar(db(), "select datediff(day, '01/01/2024 00:00:01', '01/01/2024 23:59:59')"),
            "0");
  EXPECT_EQ(scalar(db(), "select datediff(dd, '10/01/2024', '01/01/2024')"), "-9");
  EXPECT_EQ(scalar(db(), "select datediff(d, '28/02/2024', '01/03/2024')"), "2");  // leap year
  EXPECT_EQ(scalar(db(), "select datediff(month, '31/01/2024', '01/02/2024')"), "1");
  EXPECT_EQ(scalar(db(), "select datediff(year, '31/12/2023', '01/01/2024')"), "1");
  EXPECT_EQ(scalar(db(), "select datediff(d, getdate(), getdate())"), "0");
  EXPECT_EQ(scalar(db(), "select datediff(d, NULL, getdate())"), "NULL");
  // Before day 0 (1 January 1900) a time of day still counts forward.
  EXPECT_EQ(scalar(db(), "select dateadd(hh, 1, '31/12/1899 10:00')"), "1899-12-31 11:00:00");
  db().execute("create table d (f datetime)");
  db().execute("insert into d values (dateadd(d, -1, getdate())), (getdate())");
  EXPECT_EQ(rowsOf(db(), "select datediff(d, getdate(), f) from d order by f"),
            (std::vector<std::string>{"-1", "0"}));
}

// SQL Server reads the clock once per statement: every row of one
// statement sees the same GETDATE(), so a statement that runs across
// midnight cannot give some rows today's fine and others yesterday's. The
// next statement reads the clock again.
TEST_F(EmbeddedEngineTest, GetDateIsOneTimePerStatement) {
  db().execute("create table n (k int)");
  db().execute("insert into n values (1)");
  for (int i = 0; i < 16; ++i)
    db().execute("insert into n select k + (select count(*) from n) from n");
  EXPECT_EQ(scalar(db(), "select count(*) from n"), "65536");
  EXPECT_EQ(scalar(db(),
                   "select count(*) from (select distinct convert(varchar(30), getdate(), "
                   "121) as t from n) x"),
            "1");
  std::string first = scalar(db(), "select convert(varchar(30), getdate(), 121)");
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_NE(scalar(db(), "select convert(varchar(30), getdate(), 121)"), first);
}

// Each text form is read by parseDateText (EngineDateText lists them); this
// proves that CONVERT passes it the connection's DATEFORMAT.
TEST_F(EmbeddedEngineTest, ConvertReadsDateTextByTheDateFormat) {
  db().execute("SET DATEFORMAT DMY");
  EXPECT_EQ(scalar(db(), "select convert(datetime, '05/03/2024 10:30:00')"), "2024-03-05 10:30:00");
  EXPECT_EQ(scalar(db(), "select convert(datetime, '2024-03-05')"), "2024-05-03 00:00:00");
  db().execute("SET DATEFORMAT MDY");
  EXPECT_EQ(scalar(db(), "select convert(datetime, '05/03/2024')"), "2024-05-03 00:00:00");
  EXPECT_EQ(scalar(db(), "select convert(datetime, '2024-03-05')"), "2024-03-05 00:00:00");

  db().execute("SET DATEFORMAT DMY");
  EXPECT_EQ(nativeErrorOf(db(), "select convert(datetime, '31/02/2024')"), 242);
  expectError(dbErrorOf([&] { db().execute("select convert(datetime, 'soon')"); }), 241,
              "Conversion failed when converting date and/or time from character string.", "22007",
              error_number::kDataConversion);
}

TEST_F(EmbeddedEngineTest, DateTimeColumnsTakeTextOnlyAsDates) {
  db().execute("SET DATEFORMAT DMY");
  db().execute("create table d (f datetime, t varchar(20))");
  db().execute("insert into d values ('05/03/2024', '06/03/2024')");
  db().execute("insert into d (f) select t from d");  // text column into datetime, by DMY
  EXPECT_EQ(rowsOf(db(), "select f from d order by f"),
            (std::vector<std::string>{"2024-03-05 00:00:00", "2024-03-06 00:00:00"}));
  EXPECT_EQ(nativeErrorOf(db(), "insert into d (f) values ('not a date')"), 241);
  EXPECT_EQ(nativeErrorOf(db(), "update d set f = t + 'x'"), 241);
  EXPECT_EQ(scalar(db(), "select count(*) from d where f > '05/03/2024'"), "1");
  EXPECT_EQ(scalar(db(), "select count(*) from d where f between '01/03/2024' and '31/03/2024'"),
            "2");
  // What a datetime column holds reads back as a date value.
  auto rs = db().query("select f from d order by f", Cursor::Static);
  ASSERT_FALSE(rs->eof());
  EXPECT_TRUE(rs->field("F").isDateTime());
  EXPECT_EQ(rs->field("f").dateTimeValue().month, 3);
}

TEST_F(EmbeddedEngineTest, TypesSurviveSelectIntoAndSums) {
  db().execute("create table fee (code varchar(5), amount numeric(12,2), due datetime, n int)");
  db().execute("insert into fee values ('A', 1500.5, '20240305', 1), ('A', '0.25', NULL, 2)");
  db().execute(
      "select code, sum(amount) as total, max(due) as due, sum(n) as n into #s from fee group by "
      "code");
  auto rs = db().query("select * from #s", Cursor::Forward);
  ASSERT_FALSE(rs->eof());
  EXPECT_EQ(rs->field("total").type(), Value::Type::Number);
  EXPECT_EQ(rs->field("total").exactNumber(), "1500.75");
  EXPECT_DOUBLE_EQ(rs->field("total").numberValue(), 1500.75);
  EXPECT_TRUE(rs->field("due").isDateTime());
  EXPECT_EQ(rs->field("n").exactNumber(), "3");
  EXPECT_EQ(rs->field("code").textValue(), "A");
  // Numeric columns round to their scale and refuse text that is no number.
  db().execute("insert into fee (amount) values ('12.345')");
  EXPECT_EQ(scalar(db(), "select amount from fee where code is null"), "12.35");
  std::string text;
  EXPECT_EQ(nativeErrorOf(db(), "insert into fee (amount) values ('twelve')", &text), 8114);
  EXPECT_EQ(text, "Error converting data type varchar to numeric.");
  EXPECT_EQ(nativeErrorOf(db(), "insert into fee (code) values ('ABCDEFG')"), 8152);
}

// A forward recordset refills one row of values in place: a field that was
// text, a number or a date on one row must not keep any of it on the next.
TEST_F(EmbeddedEngineTest, ForwardRowsCarryNothingOverFromTheRowBefore) {
  db().execute("create table mix (k int, v varchar(60), amount numeric(12,2), due datetime)");
  db().execute(
      "insert into mix values (1, 'a text longer than the short-string buffer', -0.004, "
      "'20240305 10:30'), (2, NULL, NULL, NULL), (3, '', 12.5, '19000101')");
  auto rs = db().query("select * from mix order by k", Cursor::Forward);
  ASSERT_FALSE(rs->eof());
  EXPECT_EQ(rs->field("v").textValue(), "a text longer than the short-string buffer");
  EXPECT_EQ(rs->field("amount").exactNumber(), "0.00");  // no "-0.00"
  EXPECT_EQ(rs->field("due").dateTimeValue(), (DateTime{2024, 3, 5, 10, 30, 0, 0}));
  rs->moveNext();
  for (const char* name : {"v", "amount", "due"}) {
    const Value& v = rs->field(name);
    EXPECT_TRUE(v.isNull()) << name;
    EXPECT_EQ(v.textValue(), "") << name;
    EXPECT_EQ(v.numberValue(), 0) << name;
    EXPECT_EQ(v, Value::null()) << name;
  }
  rs->moveNext();
  EXPECT_TRUE(rs->field("v").isText());
  EXPECT_EQ(rs->field("v").textValue(), "");
  EXPECT_EQ(rs->field("amount").exactNumber(), "12.50");
  EXPECT_TRUE(rs->field("due").dateTimeValue().isMidnight());
  EXPECT_EQ(rs->field("k").exactNumber(), "3");
  rs->moveNext();
  EXPECT_TRUE(rs->eof());
}

TEST_F(EmbeddedEngineTest, TemporaryTablesBelongToTheirConnection) {
  db().execute("create table base (k int)");
  db().execute("insert into base values (1), (2)");
  db().execute("select * into #TMPUPFEE from base");
  db().execute("insert into #TMPUPFEE values (3)");
  EXPECT_EQ(scalar(db(), "select count(*) from #tmpupfee"), "3");  // names ignore case

  auto other = local_.connect();
  std::string text;
  EXPECT_EQ(nativeErrorOf(*other, "select * from #TMPUPFEE", &text), 208);
  EXPECT_EQ(text, "Invalid object name '#TMPUPFEE'.");
  other->execute("select * into #TMPUPFEE from base");  // its own, no clash
  EXPECT_EQ(scalar(*other, "select count(*) from #TMPUPFEE"), "2");

  // A later cycle on the same connection still finds it.
  EXPECT_EQ(nativeErrorOf(db(), "select * into #TMPUPFEE from base", &text), 2714);
  EXPECT_EQ(text, "There is already an object named '#TMPUPFEE' in the database.");

  // It goes with its connection.
  db_.reset();
  db_ = local_.connect();
  EXPECT_EQ(nativeErrorOf(db(), "select * from #TMPUPFEE"), 208);
  EXPECT_NO_THROW(db().execute("select * into #TMPUPFEE from base"));
}

// Object and syntax errors carry SQL Server's number and the name or token
// as written (a temporary table's texts: TemporaryTablesBelongToTheirConnection).
TEST_F(EmbeddedEngineTest, ErrorsCarryTheirNumberAndTheNameOrTokenAsWritten) {
  db().execute("create table t (k varchar(40))");
  db().execute("CREATE VIEW FEEPG AS SELECT k FROM t");
  expectError(dbErrorOf([&] { db().execute("CREATE VIEW FEEPG AS SELECT k FROM t"); }), 2714,
              "There is already an object named 'FEEPG' in the database.", "42S01",
              error_number::kSyntaxOrAccess);
  struct ErrorCase {
    const char* sql;
    long native;
    const char* text;  // nullptr: not checked
  };
  const ErrorCase kCases[] = {
      {"create table FEEPG (k int)", 2714, nullptr},
      {"drop table #TMPUPREC", 3701,
       "Cannot drop the table '#TMPUPREC', because it does not exist or you do not have "
       "permission."},
      {"DROP VIEW BALPG", 3701,
       "Cannot drop the view 'BALPG', because it does not exist or you do not have permission."},
      {"drop table FEEPG", 3701, nullptr},  // a view is no table
      {"select nothing from t", 207, "Invalid column name 'nothing'."},
      {"select * from [dbo].[missing]", 208, "Invalid object name 'missing'."},
      {"select * form t", 102, "Incorrect syntax near 'form'."},
      {"select * from t where", 102, nullptr},
      {"select from t", 156, "Incorrect syntax near the keyword 'from'."},
      {"MERGE t USING s ON 1 = 1", 102, nullptr},
      {"select k from t; exec sp_who", 156, nullptr},
      {"insert into t values ('open", 105, nullptr},
  };
  for (const ErrorCase& c : kCases) {
    std::string text;
    EXPECT_EQ(nativeErrorOf(db(), c.sql, &text), c.native) << c.sql;
    if (c.text) {
      EXPECT_EQ(text, c.text) << c.sql;
    }
  }
  // Keywords inside a literal are text, not syntax.
  db().execute("insert into t values ('select * from t; drop table t')");
  EXPECT_EQ(scalar(db(), "select k from t"), "select * from t; drop table t");
  // Nothing of a batch runs when part of it is malformed.
  EXPECT_EQ(nativeErrorOf(db(), "delete from t select * form t"), 102);
  // The view stays usable after a failed second CREATE, and goes with DROP.
  EXPECT_EQ(scalar(db(), "select count(*) from FEEPG"), "1");
  db().execute("DROP VIEW FEEPG");
  EXPECT_EQ(nativeErrorOf(db(), "select * from FEEPG"), 208);
}

TEST_F(EmbeddedEngineTest, QuotedIdentifierDecidesWhatDoubleQuotesAre) {
  db().execute("create table t (k varchar(10))");
  db().execute("insert into \"t\" values ('a')");  // ON (the default): a name
  db().execute("SET QUOTED_IDENTIFIER OFF");
  db().execute("insert into t values (\"b\")");  // OFF: a string
  EXPECT_EQ(rowsOf(db(), "select k from t where k = \"B\" or k = 'a' order by k"),
            (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(nativeErrorOf(db(), "select k from \"t\""), 102);
}

TEST_F(EmbeddedEngineTest, TransactionsCommitOrRollBack) {
  db().execute("create table t (k int)");
  db().execute("BEGIN TRAN");
  db().execute("insert into t values (1)");
  db().execute("ROLLBACK");
  EXPECT_EQ(scalar(db(), "select count(*) from t"), "0");
  db().execute("BEGIN TRANSACTION");
  db().execute("insert into t values (2)");
  db().execute("BEGIN TRAN");  // nested: only the outer COMMIT commits
  db().execute("insert into t values (3)");
  db().execute("COMMIT");
  db().execute("COMMIT TRANSACTION");
  EXPECT_EQ(scalar(db(), "select sum(k) from t"), "5");
  EXPECT_EQ(nativeErrorOf(db(), "COMMIT"), 3902);
  // SELECT ... INTO either makes the whole table or nothing.
  db().execute("create table s (v varchar(5))");
  db().execute("insert into s values ('1'), ('x')");
  EXPECT_EQ(nativeErrorOf(db(), "select convert(int, v) as n into #n from s"), 245);
  EXPECT_EQ(nativeErrorOf(db(), "select * from #n"), 208);
}

TEST_F(EmbeddedEngineTest, TableDefinitionsAsScriptsWriteThem) {
  db().execute(
      "SET NOCOUNT ON; CREATE TABLE [dbo].[paylog] ([id] [int] IDENTITY(1,1) NOT NULL, fdeleted "
      "char(1) NULL CONSTRAINT DF_paylog DEFAULT ('F'), famount numeric(12, 2) NOT NULL DEFAULT 0, "
      "fdate datetime DEFAULT GETDATE(), fname nvarchar(50) NULL, fnote text NULL, CONSTRAINT "
      "[PK_paylog] PRIMARY KEY CLUSTERED ([id] ASC) WITH (PAD_INDEX = OFF) ON [PRIMARY]) ON "
      "[PRIMARY]");
  db().execute("insert into paylog (fname) values (N'Asha')");
  db().execute("insert into paylog (fname, famount) values ('Ravi', 12.5)");
  EXPECT_EQ(rowsOf(db(), "select id, fdeleted, famount, fname, fnote from paylog order by id"),
            (std::vector<std::string>{"1|F|0.00|Asha|NULL", "2|F|12.50|Ravi|NULL"}));
  EXPECT_EQ(scalar(db(), "select count(*) from paylog where datediff(d, fdate, getdate()) = 0"),
            "2");
  EXPECT_EQ(nativeErrorOf(db(), "insert into paylog (famount) values (NULL)"), 515);
  db().execute("create unique index ix_name on paylog (fname)");
  EXPECT_EQ(nativeErrorOf(db(), "insert into paylog (fname) values ('ASHA')"), 2627);
}

TEST_F(EmbeddedEngineTest, ConvertStylesNameTheirDateOrder) {
  db().execute("SET DATEFORMAT DMY");
  EXPECT_EQ(scalar(db(), "select convert(datetime, '03/05/2024', 101)"), "2024-03-05 00:00:00");
  EXPECT_EQ(scalar(db(), "select convert(varchar(10), convert(datetime, '05/03/2024'), 103)"),
            "05/03/2024");
  EXPECT_EQ(scalar(db(), "select convert(varchar(8), convert(datetime, '05/03/2024'), 112)"),
            "20240305");
  EXPECT_EQ(scalar(db(), "select convert(varchar(20), convert(datetime, '05/03/2024 14:05'), 120)"),
            "2024-03-05 14:05:00");
  EXPECT_EQ(scalar(db(), "select convert(varchar(20), convert(datetime, '05/03/2024 14:05'))"),
            "Mar  5 2024  2:05PM");
  EXPECT_EQ(scalar(db(), "select convert(varchar(23), convert(datetime, '05/03/2024 14:05'), 121)"),
            "2024-03-05 14:05:00.000");
  // A shorter target cuts the styled text.
  EXPECT_EQ(scalar(db(), "select convert(varchar(10), convert(datetime, '05/03/2024 14:05'), 121)"),
            "2024-03-05");
  EXPECT_EQ(scalar(db(), "select convert(varchar(10), 1500.5)"), "1500.5");
  EXPECT_EQ(nativeErrorOf(db(), "select convert(varchar(3), 1500.5)"), 8115);
}

// HASHBYTES gives SHA-256 as binary; binary converts to an integer from its
// last bytes, big-endian, as SQL Server converts it.
TEST_F(EmbeddedEngineTest, HashBytesGivesSha256AndBinaryConvertsToIntegers) {
  EXPECT_EQ(
      scalar(db(), "select convert(varchar(30), cast(hashbytes('SHA2_256', 'abc') as bigint))"),
      "-5471592751118150227");
  const std::string twoBlocks =
      "hashbytes('sha2_256', 'abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq')";
  EXPECT_EQ(rowsOf(db(), "select cast(" + twoBlocks + " as bigint), cast(" + twoBlocks +
                             " as int), cast(" + twoBlocks + " as smallint), cast(" + twoBlocks +
                             " as tinyint)"),
            (std::vector<std::string>{"-653886350652930367|433784513|1729|193"}));
  EXPECT_EQ(scalar(db(), "select cast(hashbytes('SHA2_256', NULL) as bigint)"), "NULL");
  EXPECT_EQ(nativeErrorOf(db(), "select hashbytes('MD5', 'abc')"), 4199);
}

TEST_F(EmbeddedEngineTest, StaticRecordsetsLetOtherStatementsRun) {
  db().execute("create table t (k int)");
  db().execute("insert into t values (1), (2), (3)");
  auto rs = db().query("select k from t order by k", Cursor::Static);
  int seen = 0;
  for (; !rs->eof(); rs->moveNext()) {
    db().execute("insert into t values (" + std::to_string(10 + seen) + ")");
    ++seen;
  }
  EXPECT_EQ(seen, 3);
  auto empty = db().query("select k from t where k < 0", Cursor::Forward);
  EXPECT_TRUE(empty->eof());
  EXPECT_TRUE(empty->bof());
}

// Another program (the office's administration software) writes the same
// database while the agent reads it.
class ConcurrentWriterTest : public EmbeddedEngineTest {
 protected:
  int runShell(const std::string& sql) {
    std::string command = "sqlite3 -cmd '.timeout 200' '" +
                          (folder() / (local_.name() + ".sqlite")).string() + "' \"" + sql +
                          "\" >/dev/null 2>&1";
    return std::system(command.c_str());
  }
};

// The writer does not wait for a long read; a lock conflict is an error.
TEST_F(ConcurrentWriterTest, AWriterInAnotherProcessDoesNotWaitForALongRead) {
  if (std::system("sqlite3 -version >/dev/null 2>&1") != 0) GTEST_SKIP() << "no sqlite3 shell";
  db().execute("create table smslog (n int, fguid varchar(10))");
  db().execute("insert into smslog values (1, 'a'), (2, 'b'), (3, 'c')");
  auto rs = db().query("select n from smslog order by n", Cursor::Forward);
  ASSERT_FALSE(rs->eof());
  EXPECT_EQ(runShell("insert into smslog values (4, 'd')"), 0);  // while the read is open
  int rows = 0;
  for (; !rs->eof(); rs->moveNext()) ++rows;
  EXPECT_EQ(rows, 3);  // the read sees the state it started on
  EXPECT_EQ(scalar(db(), "select count(*) from smslog"), "4");

  db().execute("create table t (n int)");
  db().execute("BEGIN TRAN");
  db().execute("insert into t values (1)");
  EXPECT_NE(runShell("insert into t values (2)"), 0);  // the other writer is refused
  db().execute("COMMIT");
  EXPECT_EQ(runShell("insert into t values (2)"), 0);
  EXPECT_EQ(scalar(db(), "select count(*) from t"), "2");
}

#ifndef _WIN32  // the file size limit is a POSIX one
// A write the disk cannot take (here the file size limit, which fails the
// write as a full disk does; SIGXFSZ ignored, as the agent does) is named
// as a full disk, not as SQLite's "disk I/O error"; the database is whole
// and takes writes again once there is room.
TEST_F(EmbeddedEngineTest, AWriteTheDiskCannotTakeIsNamedAsAFullDisk) {
  db().execute("create table bulk (n int, pad varchar(4000))");
  const std::string pad(4000, 'x');
  db().execute("insert into bulk values (1, '" + pad + "')");
  const std::filesystem::path file = folder() / (local_.name() + ".sqlite");
  rlimit before{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &before), 0);
  auto* previous = std::signal(SIGXFSZ, SIG_IGN);
  rlimit limited = before;
  // The write-ahead log is the file that grows: it may not pass its size.
  std::error_code ec;
  limited.rlim_cur = std::filesystem::file_size(file.string() + "-wal", ec);
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
  std::string text;
  long code = 0;
  for (int i = 0; i < 50 && code == 0; ++i) {
    code = nativeErrorOf(db(), "insert into bulk values (2, '" + pad + "')", &text);
  }
  ::setrlimit(RLIMIT_FSIZE, &before);
  std::signal(SIGXFSZ, previous);
  EXPECT_EQ(code, 1105) << text;
  EXPECT_NE(text.find("the disk holding the database is full"), std::string::npos) << text;
  db().execute("insert into bulk values (3, 'after')");
  EXPECT_EQ(scalar(db(), "select count(*) from bulk where n <> 2"), "2");
}
#endif  // !_WIN32

}  // namespace
}  // namespace agent::testing
