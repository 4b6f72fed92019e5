// Behaviour of the embedded engine the agent relies on: every statement the
// agent sends to its local database, exactly as the agent words it, run in
// its order against a seeded database with the rows it must return or
// leave behind; and beyond those statements: login, databases, SQL
// Server's comparison and "+" rules, date conversion by DATEFORMAT,
// temporary tables per connection, error texts and numbers, transactions,
// and a writer in another process.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/resource.h>
#endif

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "base/text.h"
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

// The rows of a query joined by ";", each as its fields (all, or those named,
// comma separated) joined by "|": NULL as "NULL", exact numbers, dates as
// "yyyy-mm-dd hh:mm:ss".
std::string rowsText(Connection& c, const std::string& query, const std::string& fields = "") {
  std::vector<std::string> names;
  for (const std::string& f : split(fields, ',')) names.push_back(trim(f));
  if (fields.empty()) names.clear();
  std::string out;
  for (auto rs = c.query(query, Cursor::Forward); !rs->eof(); rs->moveNext()) {
    out += out.empty() ? "" : ";";
    for (std::size_t i = 0; i < (names.empty() ? rs->fieldCount() : names.size()); ++i)
      out +=
          (i ? "|" : "") + displayText(names.empty() ? rs->field(i) : rs->field(names[i]), "NULL");
  }
  return out;
}

class EmbeddedEngineTest : public ::testing::Test {
 protected:
  Connection& db() { return *db_; }
  std::string rows(const std::string& query) { return rowsText(db(), query); }
  // The rows, or "error N: text" with SQL Server's error number N.
  std::string outcome(const std::string& query) {
    std::string text;
    long native = nativeErrorOf(db(), query, &text);
    return native == 0 ? rows(query) : "error " + std::to_string(native) + ": " + text;
  }
  const std::filesystem::path& folder() const { return local_.serverFolder(); }

  LocalTestDatabase local_{"engine", /*withSchema=*/false};
  std::unique_ptr<Connection> db_ = local_.connect();
};

TEST_F(EmbeddedEngineTest, LoginChecksThePasswordAndDatabasesAreFilesOfTheServerFolder) {
  EXPECT_NO_THROW(openEmbeddedConnection(folder(), "sa", LocalTestDatabase::kSaPassword));
  expectError(dbErrorOf([&] { openEmbeddedConnection(folder(), "SA", "wrong"); }), 18456,
              "Login failed for user 'SA'.", "28000", error_number::kGenericFailure);
  EXPECT_THROW(openEmbeddedConnection(folder(), "admin", LocalTestDatabase::kSaPassword), DbError);
  EXPECT_THROW(openEmbeddedConnection(folder() / "none", "SA", "x"), DbError);
  // Databases are files of the server folder.
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

// SQL Server reads the clock once per statement: every row of one
// statement sees the same GETDATE(), so a statement that runs across
// midnight cannot give some rows today's fine and others yesterday's. The
// next statement reads the clock again.
TEST_F(EmbeddedEngineTest, GetDateIsOneTimePerStatement) {
  db().execute("create table n (k int)");
  db().execute("insert into n values (1)");
  for (int i = 0; i < 16; ++i)
    db().execute("insert into n select k + (select count(*) from n) from n");
  EXPECT_EQ(rows("select count(*) from n"), "65536");
  EXPECT_EQ(rows("select count(*) from (select distinct convert(varchar(30), getdate(), "
                 "121) as t from n) x"),
            "1");
  std::string first = rows("select convert(varchar(30), getdate(), 121)");
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_NE(rows("select convert(varchar(30), getdate(), 121)"), first);
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

TEST_F(EmbeddedEngineTest, TemporaryTablesKeepTheirTypesAndBelongToTheirConnection) {
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
  db().execute("create table base (k int)");
  db().execute("insert into base values (1), (2)");
  db().execute("select * into #TMPUPFEE from base");
  db().execute("insert into #TMPUPFEE values (3)");
  EXPECT_EQ(rows("select count(*) from #tmpupfee"), "3");  // names ignore case

  auto other = local_.connect();
  std::string text;
  EXPECT_EQ(nativeErrorOf(*other, "select * from #TMPUPFEE", &text), 208);
  EXPECT_EQ(text, "Invalid object name '#TMPUPFEE'.");
  other->execute("select * into #TMPUPFEE from base");  // its own, no clash
  EXPECT_EQ(rowsText(*other, "select count(*) from #TMPUPFEE"), "2");

  // A later cycle on the same connection still finds it.
  EXPECT_EQ(nativeErrorOf(db(), "select * into #TMPUPFEE from base", &text), 2714);
  EXPECT_EQ(text, "There is already an object named '#TMPUPFEE' in the database.");

  // It goes with its connection.
  db_.reset();
  db_ = local_.connect();
  EXPECT_EQ(nativeErrorOf(db(), "select * from #TMPUPFEE"), 208);
  EXPECT_NO_THROW(db().execute("select * into #TMPUPFEE from base"));
}

TEST_F(EmbeddedEngineTest, TransactionsCommitOrRollBackAndStaticRecordsetsLetOthersRun) {
  db().execute("create table t (k int)");
  db().execute("BEGIN TRAN");
  db().execute("insert into t values (1)");
  db().execute("ROLLBACK");
  EXPECT_EQ(rows("select count(*) from t"), "0");
  db().execute("BEGIN TRANSACTION");
  db().execute("insert into t values (2)");
  db().execute("BEGIN TRAN");  // nested: only the outer COMMIT commits
  db().execute("insert into t values (3)");
  db().execute("COMMIT");
  db().execute("COMMIT TRANSACTION");
  EXPECT_EQ(rows("select sum(k) from t"), "5");
  EXPECT_EQ(nativeErrorOf(db(), "COMMIT"), 3902);
  // SELECT ... INTO either makes the whole table or nothing.
  db().execute("create table s (v varchar(5))");
  db().execute("insert into s values ('1'), ('x')");
  EXPECT_EQ(nativeErrorOf(db(), "select convert(int, v) as n into #n from s"), 245);
  EXPECT_EQ(nativeErrorOf(db(), "select * from #n"), 208);
  // A static recordset lets other statements run while it is walked.
  auto rs = db().query("select k from t order by k", Cursor::Static);
  int seen = 0;
  for (; !rs->eof(); rs->moveNext())
    db().execute("insert into t values (1" + std::to_string(seen++) + ")");
  EXPECT_EQ(seen, 2);
  auto empty = db().query("select k from t where k < 0", Cursor::Forward);
  EXPECT_TRUE(empty->eof() && empty->bof());
}

// Statements in order under DATEFORMAT DMY: a row without a result is
// set-up and must run; "error N: text" is SQL Server's error N. Text compares
// ignoring case and trailing blanks (LIKE ignores the matched value's, not
// the pattern's); "+" joins text and adds numbers; DATEDIFF counts
// boundaries crossed; CONVERT reads text by the connection's DATEFORMAT
// (each text form is read by parseDateText, EngineDateText lists them) or
// by a style's own order; datetime columns take text only as dates;
// HASHBYTES gives SHA-256 as binary, which converts to an integer from its
// last bytes, big-endian; table definitions as scripts write them;
// QUOTED_IDENTIFIER decides what double quotes are.
#define TWO_BLOCKS \
  "hashbytes('sha2_256', 'abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq')"
struct EngineCase {
  const char* sql;
  const char* expected;  // nullptr: set-up
};
const EngineCase kEngineCases[] = {
    {"create table t (code varchar(10) primary key, name varchar(20))", nullptr},
    {"insert into t values ('b', 'x'), ('A', 'y'), ('c ', 'z')", nullptr},
    {"select case when 'ONLINE' <> 'online' then 1 else 0 end", "0"},
    {"select code from t where code in ('B', 'C')", "b;c "},
    {"select code from t order by code", "A;b;c "},
    {"select name from t where code = 'C'", "z"},
    {"select code from t where code like 'C'", "c "},
    {"select code from t where code like 'b '", ""},
    {"select code from t where code + name = 'AY'", "A"},
    {"insert into t values ('a', 'w')", "error 2627"},  // differs only in case
    {"create table g (k varchar(5), n int)", nullptr},
    {"insert into g values ('ab', 1), ('AB ', 2), ('Ab', 3), ('cd', 4)", nullptr},
    {"select count(*), sum(n) from g group by k order by 1", "1|4;3|6"},
    {"create table p (a varchar(10), b varchar(10), n int, m numeric(10,2))", nullptr},
    {"insert into p values ('ab', 'cd', 2, 1.25)", nullptr},
    {"select a + b from p", "abcd"},
    {"select n + m from p", "3.25"},
    {"select n + 3 from p", "5"},
    {"select '1' + 1", "2"},  // text meets a number: the text is converted
    {"select 'a' + NULL", "NULL"},
    {"insert into p values (NULL, 'x', NULL, NULL)", nullptr},
    {"select a + b, n + m from p order by b", "abcd|3.25;NULL|NULL"},
    {"create table d (f datetime)", nullptr},
    {"insert into d values (dateadd(d, -1, getdate())), (getdate())", nullptr},
    {"select datediff(d, getdate(), f) from d order by f", "-1;0"},
    // Numeric columns round to their scale and refuse text that is no number.
    {"create table num (code varchar(5), amount numeric(12,2))", nullptr},
    {"insert into num (amount) values ('12.345')", nullptr},
    {"select amount from num", "12.35"},
    {"insert into num (amount) values ('twelve')",
     "error 8114: Error converting data type varchar to numeric."},
    {"insert into num (code) values ('ABCDEFG')", "error 8152"},
    {"create table dt (f datetime, t varchar(20))", nullptr},
    {"insert into dt values ('05/03/2024', '06/03/2024')", nullptr},
    {"insert into dt (f) select t from dt", nullptr},  // text column into datetime, by DMY
    {"select f from dt order by f", "2024-03-05 00:00:00;2024-03-06 00:00:00"},
    {"insert into dt (f) values ('not a date')", "error 241"},
    {"update dt set f = t + 'x'", "error 241"},
    {"select count(*) from dt where f > '05/03/2024'", "1"},
    {"select count(*) from dt where f between '01/03/2024' and '31/03/2024'", "2"},
    {"select datediff(d, '31/12/2023 23:59:59', '01/01/2024 00:00:01')", "1"},
    {"select datediff(day, '01/01/2024 00:00:01', '01/01/2024 23:59:59')", "0"},
    {"select datediff(dd, '10/01/2024', '01/01/2024')", "-9"},
    {"select datediff(d, '28/02/2024', '01/03/2024')", "2"},  // leap year
    {"select datediff(month, '31/01/2024', '01/02/2024')", "1"},
    {"select datediff(year, '31/12/2023', '01/01/2024')", "1"},
    {"select datediff(d, getdate(), getdate())", "0"},
    {"select datediff(d, NULL, getdate())", "NULL"},
    // Before day 0 (1 January 1900) a time of day still counts forward.
    {"select dateadd(hh, 1, '31/12/1899 10:00')", "1899-12-31 11:00:00"},
    {"select convert(datetime, '05/03/2024 10:30:00')", "2024-03-05 10:30:00"},
    {"select convert(datetime, '2024-03-05')", "2024-05-03 00:00:00"},
    {"select convert(datetime, '31/02/2024')", "error 242"},
    {"select convert(datetime, '03/05/2024', 101)", "2024-03-05 00:00:00"},
    {"select convert(varchar(10), convert(datetime, '05/03/2024'), 103)", "05/03/2024"},
    {"select convert(varchar(8), convert(datetime, '05/03/2024'), 112)", "20240305"},
    {"select convert(varchar(20), convert(datetime, '05/03/2024 14:05'), 120)",
     "2024-03-05 14:05:00"},
    {"select convert(varchar(20), convert(datetime, '05/03/2024 14:05'))", "Mar  5 2024  2:05PM"},
    {"select convert(varchar(23), convert(datetime, '05/03/2024 14:05'), 121)",
     "2024-03-05 14:05:00.000"},
    // A shorter target cuts the styled text.
    {"select convert(varchar(10), convert(datetime, '05/03/2024 14:05'), 121)", "2024-03-05"},
    {"select convert(varchar(10), 1500.5)", "1500.5"},
    {"select convert(varchar(3), 1500.5)", "error 8115"},
    {"select convert(varchar(30), cast(hashbytes('SHA2_256', 'abc') as bigint))",
     "-5471592751118150227"},
    {"select cast(" TWO_BLOCKS " as bigint), cast(" TWO_BLOCKS " as int), cast(" TWO_BLOCKS
     " as smallint), cast(" TWO_BLOCKS " as tinyint)",
     "-653886350652930367|433784513|1729|193"},
    {"select cast(hashbytes('SHA2_256', NULL) as bigint)", "NULL"},
    {"select hashbytes('MD5', 'abc')", "error 4199"},
    // Object and syntax errors carry the name or token as written (a
    // temporary table's texts: TemporaryTablesBelongToTheirConnection).
    {"create table e (k varchar(40))", nullptr},
    {"CREATE VIEW FEEPG AS SELECT k FROM e", nullptr},
    {"CREATE VIEW FEEPG AS SELECT k FROM e",
     "error 2714: There is already an object named 'FEEPG' in the database."},
    {"create table FEEPG (k int)", "error 2714"},
    {"drop table #TMPUPREC",
     "error 3701: Cannot drop the table '#TMPUPREC', because it does not exist or you do not "
     "have permission."},
    {"DROP VIEW BALPG",
     "error 3701: Cannot drop the view 'BALPG', because it does not exist or you do not have "
     "permission."},
    {"drop table FEEPG", "error 3701"},  // a view is no table
    {"select nothing from e", "error 207: Invalid column name 'nothing'."},
    {"select * from [dbo].[missing]", "error 208: Invalid object name 'missing'."},
    {"select * form e", "error 102: Incorrect syntax near 'form'."},
    {"select * from e where", "error 102"},
    {"select from e", "error 156: Incorrect syntax near the keyword 'from'."},
    {"MERGE e USING s ON 1 = 1", "error 102"},
    {"select k from e; exec sp_who", "error 156"},
    {"insert into e values ('open", "error 105"},
    // Keywords inside a literal are text, not syntax.
    {"insert into e values ('select * from e; drop table e')", nullptr},
    {"select k from e", "select * from e; drop table e"},
    {"delete from e select * form e", "error 102"},  // nothing of a malformed batch runs
    // The view stays usable after a failed second CREATE, and goes with DROP.
    {"select count(*) from FEEPG", "1"},
    {"DROP VIEW FEEPG", nullptr},
    {"select * from FEEPG", "error 208"},
    {"select a + n from p",
     "error 245: Conversion failed when converting the varchar value 'ab' to data type int."},
    {"SET NOCOUNT ON; CREATE TABLE [dbo].[paylog] ([id] [int] IDENTITY(1,1) NOT NULL, fdeleted "
     "char(1) NULL CONSTRAINT DF_paylog DEFAULT ('F'), famount numeric(12, 2) NOT NULL DEFAULT "
     "0, fdate datetime DEFAULT GETDATE(), fname nvarchar(50) NULL, fnote text NULL, CONSTRAINT "
     "[PK_paylog] PRIMARY KEY CLUSTERED ([id] ASC) WITH (PAD_INDEX = OFF) ON [PRIMARY]) ON "
     "[PRIMARY]",
     nullptr},
    {"insert into paylog (fname) values (N'Asha')", nullptr},
    {"insert into paylog (fname, famount) values ('Ravi', 12.5)", nullptr},
    {"select id, fdeleted, famount, fname, fnote from paylog order by id",
     "1|F|0.00|Asha|NULL;2|F|12.50|Ravi|NULL"},
    {"select count(*) from paylog where datediff(d, fdate, getdate()) = 0", "2"},
    {"insert into paylog (famount) values (NULL)", "error 515"},
    {"create unique index ix_name on paylog (fname)", nullptr},
    {"insert into paylog (fname) values ('ASHA')", "error 2627"},
    {"create table q (k varchar(10))", nullptr},
    {"insert into \"q\" values ('a')", nullptr},  // ON (the default): a name
    {"SET QUOTED_IDENTIFIER OFF", nullptr},
    {"insert into q values (\"b\")", nullptr},  // OFF: a string
    {"select k from q where k = \"B\" or k = 'a' order by k", "a;b"},
    {"select k from \"q\"", "error 102"},
};
TEST_F(EmbeddedEngineTest, StatementsGiveSqlServersResults) {
  db().execute("SET DATEFORMAT DMY");
  for (const EngineCase& c : kEngineCases) {
    if (c.expected == nullptr) {
      EXPECT_NO_THROW(db().execute(c.sql)) << c.sql;
      continue;
    }
    std::string got = outcome(c.sql);
    // "error N" alone leaves the text unchecked.
    if (got.starts_with("error ") && std::string(c.expected).find(':') == std::string::npos)
      got = got.substr(0, got.find(':'));
    EXPECT_EQ(got, c.expected) << c.sql;
  }
  expectError(dbErrorOf([&] { db().execute("create table g (k int)"); }), 2714,
              "There is already an object named 'g' in the database.", "42S01",
              error_number::kSyntaxOrAccess);
  // What a datetime column holds reads back as a date value.
  auto rs = db().query("select f from dt order by f", Cursor::Static);
  ASSERT_FALSE(rs->eof());
  EXPECT_TRUE(rs->field("F").isDateTime());
  EXPECT_EQ(rs->field("f").dateTimeValue().month, 3);
  db().execute("SET DATEFORMAT MDY");
  EXPECT_EQ(outcome("select convert(datetime, '05/03/2024')"), "2024-05-03 00:00:00");
  EXPECT_EQ(outcome("select convert(datetime, '2024-03-05')"), "2024-03-05 00:00:00");
  expectError(dbErrorOf([&] { db().execute("select convert(datetime, 'soon')"); }), 241,
              "Conversion failed when converting date and/or time from character string.", "22007",
              error_number::kDataConversion);
}
#undef TWO_BLOCKS

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
  int read = 0;
  for (; !rs->eof(); rs->moveNext()) ++read;
  EXPECT_EQ(read, 3);  // the read sees the state it started on
  EXPECT_EQ(rows("select count(*) from smslog"), "4");

  db().execute("create table t (n int)");
  db().execute("BEGIN TRAN");
  db().execute("insert into t values (1)");
  EXPECT_NE(runShell("insert into t values (2)"), 0);  // the other writer is refused
  db().execute("COMMIT");
  EXPECT_EQ(runShell("insert into t values (2)"), 0);
  EXPECT_EQ(rows("select count(*) from t"), "2");
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
  EXPECT_EQ(rows("select count(*) from bulk where n <> 2"), "2");
}
#endif  // !_WIN32

// ---- The agent's statements ----------------------------------------------

// Rows in the administration tables of schema/local.sql, chosen so that
// each statement has something to select, skip, sum or convert. Dates are
// written yyyymmdd, read the same under every DATEFORMAT.
constexpr const char* kSeed[] = {
    "INSERT INTO control VALUES ('P019', '000123')",
    "INSERT INTO collgroup VALUES ('G1', NULL, 'P', 123)",
    "INSERT INTO college VALUES ('C2', 'Second College', 'a', 'b', 'c', 'd', 'M', NULL), ('C1', "
    "'Main College', '1 Road', 'Town', 'District', 'State', 'M', 'G1')",
    "INSERT INTO degree VALUES ('BSC', 'Science', '1', 'First Year', '2024', '1', '20240415'), "
    "('BSC', 'Science', '2', 'Second Year', '2025', '1', NULL), ('BA', 'Arts', '1', 'First', "
    "'2024', '1', NULL)",
    "INSERT INTO subject VALUES ('BSC', '1', 'MAT', 'Maths', '01', 'Algebra', 'Y', 'T', 'I', 'R', "
    "'X'), ('BSC', '1', 'MAT', 'Maths', NULL, NULL, 'Y', 'P', 'I', 'R', 'X')",
    "INSERT INTO mascat VALUES ('SC', 'Scheduled'), ('GEN', 'General'), ('OBC', NULL)",
    "INSERT INTO mashead VALUES ('TUI', 'Tuition', 1), ('LIB', 'Library', 2), ('BUS', 'Bus', 3), "
    "('ADM', 'Admission', 1)",
    "INSERT INTO masroute VALUES ('R2', 'North'), ('R1', 'South')",
    "INSERT INTO masemp VALUES ('E1', 'Mary', '9000000009', 'mary@example.org', 'LECT')",
    "INSERT INTO hosthead VALUES ('H1', 'Boys', 3, 40, 1)",
    "INSERT INTO roomtype VALUES ('DBL', 'Double', 2), ('SGL', 'Single', 1)",
    "INSERT INTO hostrooms VALUES ('H1', '101', 'Corner', 1, 'DBL', 2, 5000.5, 1), ('H1', '002', "
    "'Ground', 0, 'SGL', 1, 1200, 2)",
    "INSERT INTO student (fadmno, fdegree, fexamno, fname, fyear, fcollcode, fdob, fdoa, "
    "fdeleted) VALUES ('S1', 'BSC', '1', 'Asha Rao', '2024', 'C1', '20050101', "
    "'20240601', 'F'), ('S2', 'BSC', '1', 'Ravi', '2024', 'C1', '20050202', '20240601', 'F'), "
    "('S3', 'XX', '1', 'Left', '2024', 'C1', NULL, '20240601', 'T'), ('S4', 'BSC', '1', 'No "
    "Admission Date', '2024', 'C1', NULL, NULL, 'F'), ('S5', NULL, '1', 'No Degree', '2024', "
    "'C1', NULL, '20240601', 'F')",
    "INSERT INTO result VALUES ('C1', 'BSC', '1', 'A', 'S1', 'Y', '2024', '1', 'N'), ('C1', "
    "'BSC', '2', 'A', 'S1', 'Y', '2024', '1', 'N'), ('C1', 'BA', '1', 'B', 'S2', 'Y', '2024', "
    "'1', 'N')",
    "INSERT INTO studsub VALUES ('C1', 'BSC', '1', 'MAT', 'S2', 'P', 'MAR24', 78.5, NULL), ('C1', "
    "'BSC', '1', 'MAT', 'S1', 'P', 'MAR24', 91, 'good')",
    // Fees: last dates far in the past (fine due when unpaid) or far ahead.
    "INSERT INTO FEESTRV VALUES ('BSC', 'S1', 'TUI', '2024', '01', 1000, '1', '20000101', 50), "
    "('BSC', 'S1', 'LIB', '2024', NULL, 200, '1', '20991231', 10), ('BSC', 'S1', 'BUS', '2024', "
    "'02', 300, '1', '20000101', 20), ('BSC', 'S1', 'ADM', '2024', NULL, 100, '1', '20000101', "
    "5), ('BSC', 'S2', 'TUI', '2024', '01', 1000, '1', '20000101', 50), ('BSC', 'S9', 'TUI', "
    "'2024', '01', 1000, '1', '20000101', 50)",
    // R2 is cancelled; R1 pays 150 of a 100 admission fee.
    "INSERT INTO RECHEAD (FRECNO, FRECDATE, FRECCODE, FDEGREE, FEXAMNO, FTOTAL, FNETTOTAL, "
    "FDISCOUNT, FCASHAMOUNT, FCHQAMOUNT, FCHQNO, FCHQDATE, FCHQBANKNAME, FDELETED) VALUES ('R1', "
    "'20240110', 'S1', 'BSC', '1', 750, 750, 0, 500, 250, '123', '20240109', 'SBI', NULL), ('R2', "
    "'20240111', 'S1', 'BSC', '1', 600, 600, 0, 600, NULL, NULL, NULL, NULL, 'T'), ('R3', "
    "'20240112', 'S2', 'BSC', '1', 1000, 1000, 0, 1000, NULL, NULL, NULL, NULL, 'F')",
    "INSERT INTO RECDETL VALUES ('R1', 'TUI', '202401', 400), ('R1', 'LIB', '2024', 200), ('R1', "
    "'ADM', '2024', 150), ('R2', 'TUI', '202401', 600), ('R3', 'TUI', '202401', 1000)",
    // 'SUCCESS' is due too: the status is compared case-insensitively.
    "INSERT INTO smslog VALUES ('20240301 09:00', '09:00', 'admin', 'Fee due', 'success', 'g1', "
    "'FEE', 'S1', 'BSC', '9000000001', NULL), ('20240302 09:00', '09:00', 'admin', 'Hello', "
    "'success', '', 'FEE', 'S2', 'BSC', '9000000002', NULL), ('20240303 09:00', '09:00', 'admin', "
    "'Failed', 'failed', 'g3', 'FEE', 'S1', 'BSC', '9000000001', NULL), ('20240304 09:00', "
    "'09:00', 'admin', 'Done', 'success', 'g4', 'FEE', 'S1', 'BSC', '9000000001', 'T'), (NULL, "
    "'09:00', 'admin', 'No date', 'SUCCESS', NULL, 'FEE', 'S2', NULL, '9000000002', NULL)",
};

struct StatementCase {
  const char* statement;  // as the agent sends it
  const char* probe;      // query whose rows show the effect; none: the statement's own rows
  const char* fields;     // fields shown, comma separated; empty: all
  const char* rows;       // ";" between rows
};

// In the agent's order where one statement builds on another.
const StatementCase kCases[] = {
    // Opening the local connection.
    {"SET QUOTED_IDENTIFIER OFF", nullptr, "", ""},
    {"SET DATEFORMAT DMY", nullptr, "", ""},
    {"select * from control", nullptr, "funivcode", "P019"},

    // Master tables.
    {"select * from college order by fcollcode", nullptr, "fcollcode, fcollname, fgroupcode",
     "C1|Main College|G1;C2|Second College|NULL"},
    {"select * from degree order by fdegree, fexamno", nullptr, "fdegree, fexamno, fexamdate",
     "BA|1|NULL;BSC|1|2024-04-15 00:00:00;BSC|2|NULL"},
    {"select * from subject order by fdegree, fexamno, fsubcode, fssubcode", nullptr,
     "fsubcode, fssubcode, fth", "MAT|NULL|P    ;MAT|01|T    "},
    {"select * from mascat order by fcatcode", nullptr, "", "GEN|General;OBC|NULL;SC|Scheduled"},
    {"select * from mashead order by fheadcode", nullptr, "",
     "ADM|Admission|1;BUS|Bus|3;LIB|Library|2;TUI|Tuition|1"},
    {"select * from masroute order by frtcode", nullptr, "", "R1|South;R2|North"},

    // Students, results and marks.
    {"select * from student where fdegree <> 'XX' and fdoa is not null order by fadmno", nullptr,
     "fadmno, fdegree, fdoa", "S1|BSC|2024-06-01 00:00:00;S2|BSC|2024-06-01 00:00:00"},
    {"select result.* from result, degree where result.fdegree = degree.fdegree and "
     "result.fexamno = degree.fexamno and result.fyear = degree.fyear and result.fexamtype = "
     "degree.fexamtype order by result.fcollcode, result.fdegree, result.fexamno, result.fadmno",
     nullptr, "fdegree, fexamno, fadmno, fsection", "BA|1|S2|B;BSC|1|S1|A"},
    {"select * from studsub order by fcollcode, fdegree, fexamno, fsubcode, fadmno", nullptr,
     "fadmno, fmarks, fremarks", "S1|91.00|good;S2|78.50|NULL"},

    // Fee balances.
    {"SELECT F.FDEGREE, F.FADMNO, F.FHEADCODE, F.FFEE, F.FEXAMNO, F.FLASTDATE, F.FFINE, S.FYEAR "
     "INTO #TMPUPFEE FROM FEESTRV F, STUDENT S WHERE F.FDEGREE = S.FDEGREE AND F.FADMNO = S.FADMNO",
     "SELECT * FROM #TMPUPFEE ORDER BY FADMNO, FHEADCODE",
     "FADMNO, FHEADCODE, FFEE, FLASTDATE, FYEAR",
     "S1|ADM|100.00|2000-01-01 00:00:00|2024;S1|BUS|300.00|2000-01-01 00:00:00|2024;"
     "S1|LIB|200.00|2099-12-31 00:00:00|2024;S1|TUI|1000.00|2000-01-01 00:00:00|2024;"
     "S2|TUI|1000.00|2000-01-01 00:00:00|2024"},
    {"SELECT FDEGREE, FRECCODE AS FADMNO, FHEADCODE, SUM(FAMOUNT) AS FAMOUNT INTO #TMPUPREC FROM "
     "RECDETL, RECHEAD WHERE RECHEAD.FRECNO = RECDETL.FRECNO  AND ISNULL(RECHEAD.FDELETED,'F') <> "
     "'T' AND FDEGREE + FRECCODE IN(SELECT FDEGREE + FADMNO FROM STUDENT) GROUP BY FDEGREE, "
     "FRECCODE, FHEADCODE",
     "SELECT * FROM #TMPUPREC ORDER BY FADMNO, FHEADCODE", "",
     "BSC|S1|ADM|150.00;BSC|S1|LIB|200.00;BSC|S1|TUI|400.00;BSC|S2|TUI|1000.00"},
    {"SELECT FEE.FADMNO, FEE.FDEGREE, FEE.FHEADCODE, FEE.FFEE, ISNULL(REC.FAMOUNT,0) AS FPAID, "
     "FEE.FFEE - ISNULL(REC.FAMOUNT,0) AS FBAL, CASE WHEN DATEDIFF(D,GETDATE(),FEE.FLASTDATE) < 0 "
     "AND FEE.FFEE - ISNULL(REC.FAMOUNT,0) > 0 THEN FEE.FFINE ELSE 0 END AS FFINEAMT,FEE.FEXAMNO, "
     "FEE.FLASTDATE, FEE.FYEAR INTO #TMPUPBAL FROM #TMPUPFEE FEE LEFT OUTER JOIN #TMPUPREC REC ON "
     "FEE.FDEGREE = REC.FDEGREE AND FEE.FADMNO = REC.FADMNO AND FEE.FHEADCODE = REC.FHEADCODE",
     "SELECT * FROM #TMPUPBAL ORDER BY FADMNO, FHEADCODE", "",
     "S1|BSC|ADM|100.00|150.00|-50.00|0.00|1|2000-01-01 00:00:00|2024;"
     "S1|BSC|BUS|300.00|0.00|300.00|20.00|1|2000-01-01 00:00:00|2024;"
     "S1|BSC|LIB|200.00|200.00|0.00|0.00|1|2099-12-31 00:00:00|2024;"
     "S1|BSC|TUI|1000.00|400.00|600.00|50.00|1|2000-01-01 00:00:00|2024;"
     "S2|BSC|TUI|1000.00|1000.00|0.00|0.00|1|2000-01-01 00:00:00|2024"},
    {"INSERT INTO #TMPUPBAL SELECT FADMNO, FDEGREE, 'FINE' AS FHEADCODE, SUM(FFINEAMT) AS FFEE, 0 "
     "AS FPAID,  SUM(FFINEAMT) AS FBAL, 0 AS FFINEAMT, 'A' AS FEXAMNO, NULL FLASTDATE, FYEAR FROM "
     "#TMPUPBAL WHERE FFINEAMT > 0 GROUP BY FADMNO, FDEGREE, FYEAR",
     "SELECT * FROM #TMPUPBAL WHERE FHEADCODE = 'FINE'", "",
     "S1|BSC|FINE|70.00|0.00|70.00|0.00|A|NULL|2024"},
    {"SELECT * FROM #TMPUPBAL ORDER BY FADMNO, FEXAMNO, FHEADCODE", nullptr,
     "FADMNO, FEXAMNO, FHEADCODE, FBAL",
     "S1|1|ADM|-50.00;S1|1|BUS|300.00;S1|1|LIB|0.00;S1|1|TUI|600.00;S1|A|FINE|70.00;"
     "S2|1|TUI|0.00"},

    // Receipts.
    {" SELECT X1.FRECNO, X1.FRECDATE, X1.FRECCODE AS FADMNO, X1.FTOTAL, X1.FDEGREE, X1.FEXAMNO, "
     "X1.FNETTOTAL, X1.FDISCOUNT, X1.FCASHAMOUNT, X1.FCASHNO, X1.FCASHDATE, X1.FCASHBANKNAME, "
     "X1.FCHQAMOUNT, X1.FCHQNO, X1.FCHQDATE, X1.FCHQBANKNAME, X1.FDDAMOUNT, X1.FDDNO, X1.FDDDATE, "
     "X1.FDDBANKNAME, X1.FRTGSAMOUNT, X1.FRTGSNO, X1.FRTGSDATE, X1.FRTGSBANKNAME, X1.FCARDAMOUNT, "
     "X1.FCARDNO, X1.FCARDDATE, X1.FCARDBANKNAME, X1.FCHALAMOUNT, X1.FCHALNO, X1.FCHALDATE, "
     "X1.FCHALBANKNAME, X1.FREMARKS, X2.FHEADCODE, X2.FAMOUNT, X1.FDELETED INTO #TMPUPRECEIPT "
     "FROM RECHEAD X1, RECDETL X2 WHERE X1.FRECNO = X2.FRECNO AND X1.FDEGREE + X1.FRECCODE "
     "IN(SELECT FDEGREE + FADMNO FROM STUDENT )",
     "SELECT * FROM #TMPUPRECEIPT ORDER BY FRECNO, FHEADCODE",
     "FRECNO, FRECDATE, FADMNO, FHEADCODE, FAMOUNT, FCHQAMOUNT, FCHQNO, FCHQDATE, FDELETED",
     "R1|2024-01-10 00:00:00|S1|ADM|150.00|250.00|123|2024-01-09 00:00:00|NULL;"
     "R1|2024-01-10 00:00:00|S1|LIB|200.00|250.00|123|2024-01-09 00:00:00|NULL;"
     "R1|2024-01-10 00:00:00|S1|TUI|400.00|250.00|123|2024-01-09 00:00:00|NULL;"
     "R2|2024-01-11 00:00:00|S1|TUI|600.00|NULL|NULL|NULL|T;"
     "R3|2024-01-12 00:00:00|S2|TUI|1000.00|NULL|NULL|NULL|F"},

    // Hostel and staff tables.
    {"select * from masemp order by fempcode", nullptr, "fempcode, fempname, fdegncode",
     "E1|Mary|LECT"},
    {"select * from hosthead order by fhostcode", nullptr, "", "H1|Boys|3|40|1"},
    {"select * from roomtype order by froomtype", nullptr, "", "DBL|Double|2;SGL|Single|1"},
    {"select * from hostrooms order by fhostcode, froomno", nullptr, "froomno, ffee, fcapacity",
     "002|1200.00|1;101|5000.50|2"},

    // Text messages.
    {"select top 9999 * into #tmpsmslog from smslog where fstatus = 'success' and fupload is null "
     "order by fdate desc",
     "select * from #tmpsmslog order by fdate, fmobileno", "fguid, fdate, fmessage, fmobileno",
     "NULL|NULL|No date|9000000002;g1|2024-03-01 09:00:00|Fee due|9000000001;"
     "|2024-03-02 09:00:00|Hello|9000000002"},
    {"update smslog set fupload = 'T' from #tmpsmslog where smslog.fguid = #tmpsmslog.fguid and "
     "isnull(smslog.fguid,'') <> '' and smslog.fupload is null",
     "select fmessage, fupload from smslog order by fdate", "",
     "No date|NULL;Fee due|T;Hello|NULL;Failed|NULL;Done|T"},

    // Receipt numbers.
    {"select * from college where fcollcode = 'C1' and isnull(fgroupcode,'') <> ''", nullptr,
     "fcollcode, fgroupcode", "C1|G1"},
    {"select * from college where fcollcode = 'C2' and isnull(fgroupcode,'') <> ''", nullptr, "",
     ""},
    {"select fgroupcode, frecprefix, freclastno as flasttcode from collgroup where fgroupcode = "
     "'G1'",
     nullptr, "fgroupcode, frecprefix, flasttcode", "G1|P|123"},
    {"select frecno from rechead where frecno = 'P000124'", nullptr, "", ""},
    {"update collgroup set freclastno = 124 where fgroupcode = 'G1'",
     "select freclastno from collgroup", "", "124"},
    {"select frecno as flasttcode from control", nullptr, "flasttcode", "000123"},
    {"update control set frecno='000124'", "select frecno from control", "", "000124"},

    // Portal receipts.
    {"select * from rechead where frecno = 'PG0001'", nullptr, "", ""},
    {"insert into rechead(frecno, frecdate, frectype, freccode, fname, faccno, ftotal, fdegree, "
     "fexamno, fremarks, fnettotal, fusername, fcardamount, fcardno, fcarddate, fcardbankname, "
     "fdiscount) values('PG0001', convert(datetime,'05/03/2024 10:30:00'), 'S', 'S1', 'Asha Rao', "
     "'PG', 1500, 'BSC', '1', 'portal', 1500, 'online', 1500, 'PG0001', "
     "convert(datetime,'05/03/2024 10:30:00'), 'ONLINE',0)",
     "select * from rechead where frecno = 'PG0001'",
     "frecno, frecdate, freccode, faccno, ftotal, fcardno, fcarddate, fdiscount",
     "PG0001|2024-03-05 10:30:00|S1|PG|1500.00|PG0001|2024-03-05 10:30:00|0.00"},
    {"select * from recdetl where frecno = 'PG0001' and fheadcode = 'TUI'", nullptr, "", ""},
    {"insert into recdetl(frecno, fheadcode, famount) values('PG0001', 'TUI', 1500)",
     "select * from recdetl where frecno = 'PG0001' and fheadcode = 'TUI'",
     "frecno, fheadcode, famount", "PG0001|TUI|1500.00"},
    {"update rechead set fcardamount = 1500, fcardno = 'TXN77', fcarddate = "
     "convert(datetime,'06/03/2024'), fcardbankname = 'ONLINE' where frecno = 'PG0001' and fcardno "
     "= 'PG0001'",
     "select * from rechead where frecno = 'PG0001'",
     "fcardamount, fcardno, fcarddate, fcardbankname", "1500.00|TXN77|2024-03-06 00:00:00|ONLINE"},
    // A second payment-mode row finds the placeholder gone and changes nothing.
    {"update rechead set fcardamount = 99, fcardno = 'TXN78', fcarddate = "
     "convert(datetime,'07/03/2024'), fcardbankname = 'ONLINE' where frecno = 'PG0001' and fcardno "
     "= 'PG0001'",
     "select * from rechead where frecno = 'PG0001'", "fcardamount, fcardno", "1500.00|TXN77"},

    // Gateway payments.
    {"select fdegree, fcollcode, fname, fexamno from student where fadmno = 'S1'", nullptr, "",
     "BSC|C1|Asha Rao|1"},
    {"select * from paygate where forderid = 'order_1'", nullptr, "", ""},
    {"CREATE VIEW FEEPG AS  SELECT F.FDEGREE, F.FADMNO, F.FHEADCODE, H.FHEADDESC, H.FORDER, "
     "ISNULL(F.FYEAR,'') + ISNULL(F.FMONTH,'') AS FMONTH, F.FFEE, F.FEXAMNO, F.FLASTDATE, F.FFINE "
     "FROM FEESTRV F, MASHEAD H WHERE F.FHEADCODE = H.FHEADCODE AND F.FDEGREE = 'BSC' AND "
     "F.FADMNO = 'S1'",
     "SELECT * FROM FEEPG ORDER BY FHEADCODE", "FHEADCODE, FORDER, FMONTH, FFEE, FLASTDATE",
     "ADM|1|2024|100.00|2000-01-01 00:00:00;BUS|3|202402|300.00|2000-01-01 00:00:00;"
     "LIB|2|2024|200.00|2099-12-31 00:00:00;TUI|1|202401|1000.00|2000-01-01 00:00:00"},
    {"CREATE VIEW RECPG AS SELECT FDEGREE, FRECCODE AS FADMNO, FHEADCODE, ISNULL(FMONTH,'') AS "
     "FMONTH, SUM(FAMOUNT) AS FAMOUNT FROM RECDETL, RECHEAD WHERE RECHEAD.FRECNO = RECDETL.FRECNO  "
     "AND RECHEAD.FDEGREE = 'BSC' AND RECHEAD.FRECCODE = 'S1' AND ISNULL(RECHEAD.FDELETED,'F') <> "
     "'T' GROUP BY FDEGREE, FRECCODE, FHEADCODE, ISNULL(FMONTH,'')",
     "SELECT * FROM RECPG ORDER BY FHEADCODE, FMONTH", "FHEADCODE, FMONTH, FAMOUNT",
     "ADM|2024|150.00;LIB|2024|200.00;TUI||1500.00;TUI|202401|400.00"},
    {"CREATE VIEW BALPG AS SELECT FEE.FADMNO, FEE.FHEADCODE, FEE.FHEADDESC, FEE.FORDER, "
     "FEE.FMONTH, FEE.FFEE, ISNULL(REC.FAMOUNT,0) AS FAMOUNT, FEE.FFEE - ISNULL(REC.FAMOUNT,0) AS "
     "FBAL,CASE WHEN DATEDIFF(D,GETDATE(),FLASTDATE) < 0 AND FEE.FFEE - ISNULL(REC.FAMOUNT,0) > 0 "
     "THEN FEE.FFINE ELSE 0 END AS FFINEAMT,FEE.FEXAMNO FROM FEEPG FEE LEFT OUTER JOIN RECPG REC "
     "ON "
     "FEE.FDEGREE = REC.FDEGREE AND FEE.FADMNO = REC.FADMNO AND FEE.FHEADCODE = REC.FHEADCODE AND "
     "ISNULL(FEE.FMONTH,'') = ISNULL(REC.FMONTH,'')",
     nullptr, "", ""},
    {"SELECT * FROM BALPG WHERE FADMNO = 'S1' ORDER BY FEXAMNO, FORDER, CASE WHEN FBAL < 0 THEN 1 "
     "ELSE 2 END, FHEADCODE, FMONTH",
     nullptr, "FHEADCODE, FORDER, FMONTH, FFEE, FAMOUNT, FBAL, FFINEAMT",
     "ADM|1|2024|100.00|150.00|-50.00|0.00;TUI|1|202401|1000.00|400.00|600.00|50.00;"
     "LIB|2|2024|200.00|200.00|0.00|0.00;BUS|3|202402|300.00|0.00|300.00|20.00"},
    {"insert into recdetl(frecno, fheadcode, famount) values('P000124', 'TUI', 600)",
     "select * from recdetl where frecno = 'P000124'", "fheadcode, famount", "TUI|600.00"},
    {"insert into recdetl(frecno, fheadcode, famount) values('P000124', 'BUS', 234.5)",
     "select * from recdetl where frecno = 'P000124' order by famount", "fheadcode, famount",
     "BUS|234.50;TUI|600.00"},
    {"insert into rechead(frecno, frecdate, frectype, freccode, fname, faccno, ftotal, fdegree, "
     "fexamno, fremarks, fnettotal, fusername, fcardamount, fcardno, fcarddate, fcardbankname, "
     "fdiscount) values('P000124', convert(datetime,'05/03/2024'), 'S', 'S1', 'Asha Rao', 'PAYG', "
     "834.5, 'BSC', '1', 'order_1', 834.5, 'online', 834.5, 'pay_77', "
     "convert(datetime,'05/03/2024'), 'ONLINE',0)",
     "select * from rechead where frecno = 'P000124'",
     "frecdate, faccno, ftotal, fnettotal, fremarks, fcardno, fcarddate",
     "2024-03-05 00:00:00|PAYG|834.50|834.50|order_1|pay_77|2024-03-05 00:00:00"},
    {"insert into paygate(fadmno, forderid, forderdate, famount, fmode, ftranid) values('S1', "
     "'order_1', convert(datetime,'05/03/2024'), 834.5, 'upi', 'pay_77')",
     "select * from paygate where forderid = 'order_1'", "",
     "S1|order_1|2024-03-05 00:00:00|834.50|upi|pay_77"},

    // The cycle's recovery drops what the stages left.
    {"DROP VIEW FEEPG", nullptr, "", ""},
    {"DROP VIEW RECPG", nullptr, "", ""},
    {"DROP VIEW BALPG", nullptr, "", ""},
    {"drop table #TMPUPFEE", nullptr, "", ""},
    {"drop table #TMPUPRECEIPT", nullptr, "", ""},
    {"drop table #TMPUPREC", nullptr, "", ""},
    {"drop table #TMPUPBAL", nullptr, "", ""},
    {"drop table #tmpsmslog", nullptr, "", ""},
};

class AgentStatementsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* statement : kSeed) local_.execute(statement);
  }

  LocalTestDatabase local_{"statements"};
  Connection* connection_ = &local_.connection();
};

TEST_F(AgentStatementsTest, EveryStatementRunsAndGivesItsRowsInOrder) {
  for (const StatementCase& c : kCases) {
    SCOPED_TRACE(c.statement);
    try {
      if (c.probe != nullptr) connection_->execute(c.statement);
      EXPECT_EQ(rowsText(*connection_, c.probe ? c.probe : c.statement, c.fields), c.rows);
    } catch (const AgentError& e) {
      ADD_FAILURE() << e.description();
    }
  }
}

}  // namespace
}  // namespace agent::testing
