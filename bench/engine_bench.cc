// Speed of the embedded local engine: a forward scan of a 1,000,000-row
// table through a recordset, next to the sqlite3 command-line shell scanning
// the same file (the ratio is the figure that counts: the engine should scan
// at least half as fast), and the fee-balance chain of SELECT ... INTO
// statements on 100,000 students.
//
//   engine_bench [rows] [students]
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "db/embedded/embedded_engine.h"
#include "db/embedded/sqlite_functions.h"
#include "db/error.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Fills a table the engine created, straight through SQLite (setup only).
void fill(const fs::path& file, const std::string& insert, long rows,
          void (*bind)(sqlite3_stmt*, long)) {
  sqlite3* db = nullptr;
  sqlite3_open(file.c_str(), &db);
  // Keys on text columns are ordered by the engine's collation.
  agent::tsql::SessionState session;
  agent::tsql::registerEngineFunctions(db, &session);
  sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db, insert.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
    std::fprintf(stderr, "%s\n", sqlite3_errmsg(db));
    std::exit(1);
  }
  for (long i = 0; i < rows; ++i) {
    bind(stmt, i);
    sqlite3_step(stmt);
    sqlite3_reset(stmt);
  }
  sqlite3_finalize(stmt);
  sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_close(db);
}

void bindText(sqlite3_stmt* s, int column, const std::string& text) {
  sqlite3_bind_text(s, column, text.c_str(), -1, SQLITE_TRANSIENT);
}

std::string admno(long i) {
  return "A" + std::to_string(100000 + i);
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  std::size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

void scanBenchmark(agent::Connection& c, const fs::path& file, long rows, int rounds) {
  c.execute(
      "create table smslog (fdate datetime, ftime varchar(20), fmessage varchar(200), fstatus "
      "varchar(20), fguid varchar(40), famount numeric(12,2), fcount int)");
  fill(file, "insert into smslog values (?1, ?2, ?3, ?4, ?5, ?6, ?7)", rows,
       [](sqlite3_stmt* s, long i) {
         char date[32];
         std::snprintf(date, sizeof date, "2024-%02ld-%02ldT10:%02ld:00.000", 1 + i % 12,
                       1 + i % 28, i % 60);
         bindText(s, 1, date);
         bindText(s, 2, "10:30");
         bindText(s, 3,
                  "Your fee of Rs. 1500 is due on the tenth of the month " + std::to_string(i));
         bindText(s, 4, "success");
         bindText(s, 5, "guid-" + std::to_string(i));
         sqlite3_bind_double(s, 6, 1500.5 + i % 100);
         sqlite3_bind_int64(s, 7, i);
       });

  // Rounds alternate the engine and the shell so that both meet the same
  // state of a shared machine; the medians are compared.
  std::vector<double> engine, shell, ratio;
  long seen = 0;
  std::size_t bytes = 0;
  bool shellMissing = false;
  for (int round = 0; round < rounds; ++round) {
    auto start = Clock::now();
    seen = 0;
    bytes = 0;
    auto rs = c.query("select * from smslog", agent::Cursor::Forward);
    for (; !rs->eof(); rs->moveNext()) {
      for (std::size_t i = 0; i < rs->fieldCount(); ++i) {
        const agent::Value& v = rs->field(i);
        bytes += v.isText() ? v.textValue().size() : 1;
      }
      ++seen;
    }
    rs.reset();
    engine.push_back(secondsSince(start));

    std::string command = "sqlite3 '" + file.string() + "' 'select * from smslog' > /dev/null";
    start = Clock::now();
    shellMissing = std::system(command.c_str()) != 0;
    shell.push_back(secondsSince(start));
    ratio.push_back(shell.back() / engine.back());
  }

  std::printf("scan of %ld rows (7 columns, %zu bytes of text), median of %d rounds\n", seen, bytes,
              rounds);
  double e = median(engine);
  std::printf("  engine, forward recordset: %8.3f s  %10.0f rows/s\n", e, seen / e);
  if (!shellMissing) {
    double sh = median(shell);
    std::printf("  sqlite3 shell to /dev/null: %7.3f s  %10.0f rows/s\n", sh, seen / sh);
    std::printf("  engine speed / shell speed: %.2f (median of the rounds' ratios %.2f)\n", sh / e,
                median(ratio));
  } else {
    std::printf("  sqlite3 shell not available\n");
  }
}

void feeChainBenchmark(agent::Connection& c, const fs::path& file, long students) {
  c.execute(
      "CREATE TABLE STUDENT (FADMNO varchar(20) NOT NULL PRIMARY KEY, FDEGREE varchar(10), FYEAR "
      "varchar(4))");
  c.execute(
      "CREATE TABLE FEESTRV (FDEGREE varchar(10), FADMNO varchar(20), FHEADCODE varchar(10), "
      "FFEE numeric(12,2), FEXAMNO varchar(10), FLASTDATE datetime, FFINE numeric(12,2))");
  c.execute(
      "CREATE TABLE RECHEAD (FRECNO varchar(20) NOT NULL PRIMARY KEY, FRECCODE varchar(20), "
      "FDEGREE varchar(10), FDELETED char(1))");
  c.execute(
      "CREATE TABLE RECDETL (FRECNO varchar(20), FHEADCODE varchar(10), FAMOUNT numeric(12,2))");
  fill(file, "insert into STUDENT values (?1, 'BSC', '2024')", students,
       [](sqlite3_stmt* s, long i) { bindText(s, 1, admno(i)); });
  static const char* kHeads[] = {"TUI", "LIB", "BUS", "ADM"};
  fill(file, "insert into FEESTRV values ('BSC', ?1, ?2, ?3, '1', ?4, 25)", students * 4,
       [](sqlite3_stmt* s, long i) {
         bindText(s, 1, admno(i / 4));
         bindText(s, 2, kHeads[i % 4]);
         sqlite3_bind_double(s, 3, 250.0 * (1 + i % 4));
         bindText(s, 4, i % 3 ? "2000-01-01T00:00:00.000" : "2099-12-31T00:00:00.000");
       });
  fill(file, "insert into RECHEAD values (?1, ?2, 'BSC', ?3)", students,
       [](sqlite3_stmt* s, long i) {
         bindText(s, 1, "R" + std::to_string(i));
         bindText(s, 2, admno(i));
         if (i % 10 == 0)
           bindText(s, 3, "T");
         else
           sqlite3_bind_null(s, 3);
       });
  fill(file, "insert into RECDETL values (?1, ?2, 200)", students * 2, [](sqlite3_stmt* s, long i) {
    bindText(s, 1, "R" + std::to_string(i / 2));
    bindText(s, 2, kHeads[i % 2]);
  });

  const char* kChain[] = {
      "SELECT F.FDEGREE, F.FADMNO, F.FHEADCODE, F.FFEE, F.FEXAMNO, F.FLASTDATE, F.FFINE, S.FYEAR "
      "INTO #TMPUPFEE FROM FEESTRV F, STUDENT S WHERE F.FDEGREE = S.FDEGREE AND F.FADMNO = "
      "S.FADMNO",
      "SELECT FDEGREE, FRECCODE AS FADMNO, FHEADCODE, SUM(FAMOUNT) AS FAMOUNT INTO #TMPUPREC FROM "
      "RECDETL, RECHEAD WHERE RECHEAD.FRECNO = RECDETL.FRECNO  AND ISNULL(RECHEAD.FDELETED,'F') <> "
      "'T' AND FDEGREE + FRECCODE IN(SELECT FDEGREE + FADMNO FROM STUDENT) GROUP BY FDEGREE, "
      "FRECCODE, FHEADCODE",
      "SELECT FEE.FADMNO, FEE.FDEGREE, FEE.FHEADCODE, FEE.FFEE, ISNULL(REC.FAMOUNT,0) AS FPAID, "
      "FEE.FFEE - ISNULL(REC.FAMOUNT,0) AS FBAL, CASE WHEN DATEDIFF(D,GETDATE(),FEE.FLASTDATE) < 0 "
      "AND FEE.FFEE - ISNULL(REC.FAMOUNT,0) > 0 THEN FEE.FFINE ELSE 0 END AS FFINEAMT,FEE.FEXAMNO, "
      "FEE.FLASTDATE, FEE.FYEAR INTO #TMPUPBAL FROM #TMPUPFEE FEE LEFT OUTER JOIN #TMPUPREC REC ON "
      "FEE.FDEGREE = REC.FDEGREE AND FEE.FADMNO = REC.FADMNO AND FEE.FHEADCODE = REC.FHEADCODE",
      "INSERT INTO #TMPUPBAL SELECT FADMNO, FDEGREE, 'FINE' AS FHEADCODE, SUM(FFINEAMT) AS FFEE, 0 "
      "AS FPAID,  SUM(FFINEAMT) AS FBAL, 0 AS FFINEAMT, 'A' AS FEXAMNO, NULL FLASTDATE, FYEAR FROM "
      "#TMPUPBAL WHERE FFINEAMT > 0 GROUP BY FADMNO, FDEGREE, FYEAR",
  };
  std::printf("fee-balance chain on %ld students (%ld fee rows, %ld receipt lines)\n", students,
              students * 4, students * 2);
  auto total = Clock::now();
  for (const char* statement : kChain) {
    auto start = Clock::now();
    c.execute(statement);
    std::printf("  %-60.60s %7.3f s\n", statement, secondsSince(start));
  }
  auto start = Clock::now();
  long rows = 0;
  auto rs =
      c.query("SELECT * FROM #TMPUPBAL ORDER BY FADMNO, FEXAMNO, FHEADCODE", agent::Cursor::Static);
  for (; !rs->eof(); rs->moveNext()) ++rows;
  std::printf("  %-60.60s %7.3f s (%ld rows)\n", "SELECT * FROM #TMPUPBAL ORDER BY ... (static)",
              secondsSince(start), rows);
  std::printf("  whole chain: %.3f s\n", secondsSince(total));
}

}  // namespace

int main(int argc, char** argv) {
  long rows = argc > 1 ? std::atol(argv[1]) : 1000000;
  long students = argc > 2 ? std::atol(argv[2]) : 100000;
  int rounds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 5;
  fs::path folder =
      fs::temp_directory_path() / ("engine-bench-" + std::to_string(std::random_device()()));
  try {
    agent::createEmbeddedServer(folder, "Bench-1");
    auto c = agent::openEmbeddedConnection(folder, "SA", "Bench-1");
    c->execute("CREATE DATABASE scan");
    c->execute("CREATE DATABASE fees");
    c->setDefaultDatabase("scan");
    scanBenchmark(*c, folder / "scan.sqlite", rows, rounds);
    if (students > 0) {
      c->setDefaultDatabase("fees");
      feeChainBenchmark(*c, folder / "fees.sqlite", students);
    }
  } catch (const agent::AgentError& e) {
    std::fprintf(stderr, "%s\n", e.description().c_str());
    fs::remove_all(folder);
    return 1;
  }
  fs::remove_all(folder);
  return 0;
}
