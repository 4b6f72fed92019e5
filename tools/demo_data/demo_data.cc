// demo-data: fills a local administration database (made from
// schema/local.sql) with a small, realistic institution: colleges in a
// receipt group, degrees and examinations, subjects, categories, fee heads,
// routes, students with results, marks, fee structures and receipts, staff,
// hostels and rooms, and a log of sent text messages. Deterministic: the
// same arguments give the same rows.
#include <cstdio>
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include <fmt/format.h>
#include <CLI/CLI.hpp>

#include "config/platform_config.h"
#include "db/drivers/driver_connection.h"
#include "db/error.h"

namespace {

using agent::Connection;

std::string q(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("''") : std::string(1, c);
  return out + "'";
}

struct Generator {
  Connection& db;
  std::mt19937 random{20240305};
  int students;
  std::string institution;

  int pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(random); }

  void masters() {
    db.execute(
        fmt::format("insert into control(funivcode, frecno) values({}, '000500')", q(institution)));
    db.execute("insert into collgroup(fgroupcode, frecprefix, freclastno) values('G1', 'A', 250)");
    const char* colleges[][3] = {{"C01", "St. Anne's College of Arts", "G1"},
                                 {"C02", "Riverside College of Science", "G1"},
                                 {"C03", "Hill View Evening College", ""}};
    for (auto& c : colleges) {
      db.execute(fmt::format(
          "insert into college(fcollcode, fcollname, fadd1, fadd2, fadd3, fadd4, fattsession, "
          "fgroupcode) values({}, {}, '12\xC2\xB8 Main Road', 'Fort', 'Kochi', '682001', 'FN', {})",
          q(c[0]), q(c[1]), c[2][0] ? q(c[2]) : "NULL"));
    }
    const char* degrees[][2] = {{"BSC", "Bachelor of Science"}, {"BCOM", "Bachelor of Commerce"}};
    for (auto& d : degrees) {
      for (int exam = 1; exam <= 2; ++exam) {
        db.execute(fmt::format(
            "insert into degree(fdegree, fdescpn, fexamno, fexamname, fyear, fexamtype, fexamdate) "
            "values({}, {}, '{}', 'Semester {}', '2024', '1', '2024{:02d}15')",
            q(d[0]), q(d[1]), exam, exam, exam == 1 ? 4 : 11));
        for (const char* sub : {"ENG", "MAT", "PHY"}) {
          db.execute(fmt::format(
              "insert into subject(fdegree, fexamno, fsubcode, fsubname, fssubcode, fssubname, "
              "fattsub, fth, fia, fretain, fcombclid) values({}, '{}', '{}', '{} paper', '01', "
              "'Part 1', 'Y', ' 80 ', ' 20 ', ' N ', ' 1 ')",
              q(d[0]), exam, sub, sub));
        }
      }
    }
    for (auto [code, desc] :
         {std::pair{"GEN", "General"}, {"OBC", "Other backward"}, {"SC", "Scheduled caste"}}) {
      db.execute(
          fmt::format("insert into mascat(fcatcode, fcatdesc) values('{}', '{}')", code, desc));
    }
    int order = 1;
    for (auto [code, desc] : {std::pair{"TUI", "Tuition fee"},
                              {"LIB", "Library fee"},
                              {"EXM", "Examination fee"},
                              {"BUS", "Bus fee"}}) {
      db.execute(
          fmt::format("insert into mashead(fheadcode, fheaddesc, forder) values('{}', '{}', {})",
                      code, desc, order++));
    }
    for (int r = 1; r <= 4; ++r) {
      db.execute(
          fmt::format("insert into masroute(frtcode, frtname) values('R{}', 'Route {}')", r, r));
    }
  }

  void people() {
    const char* first[] = {"Anu", "Rahul", "Meera", "Joseph", "Fathima", "Arjun", "Diya", "Noel"};
    const char* last[] = {"Thomas", "Nair", "D'Souza", "Menon", "Varghese", "Iyer", "Khan"};
    int receipt = 1;
    for (int i = 1; i <= students; ++i) {
      std::string adm = fmt::format("S{:05d}", i);
      std::string degree = i % 2 ? "BSC" : "BCOM";
      std::string college = fmt::format("C0{}", 1 + i % 3);
      std::string name = fmt::format("{} {}", first[i % 8], last[i % 7]);
      db.execute(fmt::format(
          "insert into student(fadmno, fdegree, fexamno, fname, ffather, fmother, fdob, fmobile, "
          "femail, fsex, fbgroup, fcatcode, frtcode, fsection, factive, fyear, fregno, faddr1, "
          "faddr2, faddr3, faddr4, fpincode, fcollcode, fdoa, fdeleted) values({}, {}, '1', {}, "
          "'Father of {}', 'Mother of {}', '200{}{:02d}{:02d}', '98460{:05d}', "
          "'{}@example.org', '{}', 'O+', 'GEN', 'R{}', 'A', 'Y', '2024', 'REG{:05d}', "
          "'House {}\xC2\xB8 Lane {}', 'Ward {}', 'Kochi', 'Kerala', '6820{:02d}', {}, "
          "'20240601', 'F')",
          q(adm), q(degree), q(name), first[i % 8], first[(i + 3) % 8], 4 + i % 5, 1 + i % 12,
          1 + i % 28, i, adm, i % 2 ? 'M' : 'F', 1 + i % 4, i, i, i % 9, i % 12, i % 40,
          q(college)));
      db.execute(fmt::format(
          "insert into result(fcollcode, fdegree, fexamno, fsection, fadmno, factive, fyear, "
          "fexamtype, fclosed) values({}, {}, '1', 'A', {}, 'Y', '2024', '1', 'N')",
          q(college), q(degree), q(adm)));
      for (const char* sub : {"ENG", "MAT"}) {
        db.execute(fmt::format(
            "insert into studsub(fcollcode, fdegree, fexamno, fsubcode, fadmno, fpass, fpassmth, "
            "fmarks, fremarks) values({}, {}, '1', '{}', {}, 'P', 'APR2024', {}, NULL)",
            q(college), q(degree), sub, q(adm), pick(40, 98)));
      }
      fees(adm, degree, receipt);
    }
  }

  void fees(const std::string& adm, const std::string& degree, int& receipt) {
    const int amounts[] = {15000, 1200, 800, 3000};
    const char* heads[] = {"TUI", "LIB", "EXM", "BUS"};
    for (int h = 0; h < 4; ++h) {
      db.execute(fmt::format(
          "insert into FEESTRV(FDEGREE, FADMNO, FHEADCODE, FFEE, FEXAMNO, FLASTDATE, FFINE, "
          "FYEAR, FMONTH) values({}, {}, '{}', {}, '1', '2024{:02d}30', 100, '2024', '')",
          q(degree), q(adm), heads[h], amounts[h], 6 + h));
    }
    if (pick(0, 2) == 0) return;  // a third of the students have paid nothing yet
    std::string recno = fmt::format("{:06d}", receipt++);
    int paid = amounts[0] / pick(1, 2);
    db.execute(fmt::format(
        "insert into RECHEAD(FRECNO, FRECDATE, FRECTYPE, FRECCODE, FNAME, FTOTAL, FDEGREE, "
        "FEXAMNO, FNETTOTAL, FDISCOUNT, FCASHAMOUNT, FCHQAMOUNT, FCHQNO, FCHQDATE, FCHQBANKNAME, "
        "FDELETED) values('{}', '20240710', 'S', {}, 'Student', {}, {}, '1', {}, 0, {}, {}, {}, "
        "{}, {}, 'F')",
        recno, q(adm), paid + 1200, q(degree), paid + 1200, paid, 1200,
        "'" + std::to_string(pick(100000, 999999)) + "'", "'20240709'", "'State Bank'"));
    db.execute(fmt::format(
        "insert into RECDETL(FRECNO, FHEADCODE, FAMOUNT) values('{}', 'TUI', {})", recno, paid));
    db.execute(fmt::format(
        "insert into RECDETL(FRECNO, FHEADCODE, FAMOUNT) values('{}', 'LIB', 1200)", recno));
  }

  void staffAndHostels() {
    for (int e = 1; e <= 12; ++e) {
      db.execute(fmt::format(
          "insert into masemp(fempcode, fempname, fmobile, femail, fdegncode) values('E{:03d}', "
          "'Staff member {}', '94470{:05d}', 'staff{}@example.org', '{}')",
          e, e, e, e, e % 3 ? "LECT" : "PROF"));
    }
    for (int h = 1; h <= 2; ++h) {
      db.execute(fmt::format(
          "insert into hosthead(fhostcode, fhostname, ffloors, frooms, forder) values('H{}', "
          "'{} Hostel', 3, 10, {})",
          h, h == 1 ? "Ladies" : "Mens", h));
    }
    db.execute("insert into roomtype(froomtype, fdescpn, forder) values('SGL', 'Single', 1)");
    db.execute("insert into roomtype(froomtype, fdescpn, forder) values('DBL', 'Double', 2)");
    for (int h = 1; h <= 2; ++h) {
      for (int r = 1; r <= 10; ++r) {
        db.execute(fmt::format(
            "insert into hostrooms(fhostcode, froomno, froomdesc, ffloorno, froomtype, fcapacity, "
            "ffee, forder) values('H{}', '{}', 'Room {}', {}, '{}', {}, {}, {})",
            h, 100 + r, r, r % 3, r % 2 ? "SGL" : "DBL", r % 2 ? 1 : 2, r % 2 ? 24000 : 18000, r));
      }
    }
  }

  void smsLog() {
    for (int m = 1; m <= 40; ++m) {
      db.execute(fmt::format(
          "insert into smslog(fdate, ftime, fusername, fmessage, fstatus, fguid, fscreentype, "
          "fadmno, fdegree, fmobileno, fupload) values('202407{:02d}', '10:{:02d}', 'office', "
          "'Dear parent,\r\nfees of  S{:05d} are due.  ', '{}', 'guid-{:04d}', 'FEE', "
          "'S{:05d}', 'BSC', '98460{:05d}', NULL)",
          1 + m % 28, m, m, m % 5 ? "success" : "failed", m, m, m));
    }
  }
};

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Fills a local administration database with demo rows."};
  std::string home, connect, database, institution = "P001";
  int students = 300;
  app.add_option("--home", home, "program folder (its platform.ini maps the drivers)")->required();
  app.add_option("--connect", connect, "local connection string")->required();
  app.add_option("--database", database, "local database")->required();
  app.add_option("--institution", institution, "institution code for control.funivcode");
  app.add_option("--students", students, "number of students");
  CLI11_PARSE(app, argc, argv);
  try {
    agent::PlatformConfig config = agent::PlatformConfig::load(home);
    agent::DriverConnection db(config.drivers);
    db.open(connect);
    db.setDefaultDatabase(database);
    db.execute("SET DATEFORMAT DMY");
    Generator generator{db, {}, students, institution};
    db.execute("BEGIN TRAN");
    generator.masters();
    generator.people();
    generator.staffAndHostels();
    generator.smsLog();
    db.execute("COMMIT");
    std::printf("demo-data: %d students of institution %s in %s\n", students, institution.c_str(),
                database.c_str());
    return 0;
  } catch (const agent::AgentError& e) {
    std::fprintf(stderr, "demo-data: %ld %s\n", e.number(), e.description().c_str());
    return 1;
  }
}
