// demo-data: fills a local administration database (made from
// schema/local.sql) with a small, realistic institution: colleges in a
// receipt group, degrees and examinations, subjects, categories, fee heads,
// routes, students with results, marks, fee structures and receipts, staff,
// hostels and rooms, and a log of sent text messages. Deterministic: the
// same arguments give the same rows.
//
// --profile university makes a large university instead: 50,000 students
// with 20 subject marks, 8 fee structure rows, 2 receipts of 2 lines and 2
// text messages each (1,000,000 studsub rows, 400,000 fee rows, 200,000
// receipt lines, 100,000 messages), with names and addresses as offices
// type them: accents, apostrophes, double quotes, long addresses. Its rows
// go in as several-row inserts.
#include <algorithm>
#include <cstdio>
#include <iostream>
#include <random>
#include <string>
#include <utility>
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

// A several-row INSERT: values are added a row at a time and sent a few
// hundred rows per statement.
class RowBatch {
 public:
  RowBatch(Connection& db, std::string head) : db_(db), head_(std::move(head)) {}
  ~RowBatch() { flush(); }  // the last rows, when no error left them behind
  void add(const std::string& row) {
    sql_ += rows_ == 0 ? head_ + " values" : std::string(",");
    sql_ += row;
    if (++rows_ == kRowsPerStatement) flush();
  }
  void flush() {
    if (rows_ == 0) return;
    db_.execute(sql_);
    sql_.clear();
    rows_ = 0;
  }

 private:
  static constexpr int kRowsPerStatement = 400;
  Connection& db_;
  std::string head_;
  std::string sql_;
  int rows_ = 0;
};

// The shape of the made institution per student.
struct Profile {
  int students;
  int subjectsPerStudent;  // studsub rows (and subject codes)
  int feeHeads;            // FEESTRV rows
  int receipts;            // per student; 0: a receipt for two students in three
  int smsPerStudent;       // 0: 40 messages in all
};

constexpr Profile kDemoProfile = {300, 2, 4, 0, 0};
constexpr Profile kUniversityProfile = {50000, 20, 8, 2, 2};

struct Generator {
  Connection& db;
  std::mt19937 random{20240305};
  Profile profile;
  std::string institution;
  bool large = profile.subjectsPerStudent > 2;

  std::string subjectCode(int i) const {
    static const char* kDemo[] = {"ENG", "MAT", "PHY"};
    return large ? fmt::format("S{:02d}", i + 1) : kDemo[i];
  }

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
        for (int i = 0; i < std::max(3, profile.subjectsPerStudent); ++i) {
          std::string sub = subjectCode(i);
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
    for (int h = 0; h < profile.feeHeads; ++h) {
      auto [code, desc] = kFeeHeads[h];
      db.execute(
          fmt::format("insert into mashead(fheadcode, fheaddesc, forder) values('{}', '{}', {})",
                      code, desc, order++));
    }
    for (int r = 1; r <= 4; ++r) {
      db.execute(
          fmt::format("insert into masroute(frtcode, frtname) values('R{}', 'Route {}')", r, r));
    }
  }

  static constexpr std::pair<const char*, const char*> kFeeHeads[] = {
      {"TUI", "Tuition fee"},    {"LIB", "Library fee"},    {"EXM", "Examination fee"},
      {"BUS", "Bus fee"},        {"LAB", "Laboratory fee"}, {"SPT", "Sports fee"},
      {"UNI", "University fee"}, {"CAU", "Caution deposit"}};
  static constexpr int kFeeAmounts[] = {15000, 1200, 800, 3000, 2500, 400, 650, 5000};

  void people() {
    if (large) return university();
    const char* first[] = {"Anu", "Rahul", "Meera", "Joseph", "Fathima", "Arjun", "Diya", "Noel"};
    const char* last[] = {"Thomas", "Nair", "D'Souza", "Menon", "Varghese", "Iyer", "Khan"};
    int receipt = 1;
    for (int i = 1; i <= profile.students; ++i) {
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
    for (int h = 0; h < 4; ++h) {
      db.execute(fmt::format(
          "insert into FEESTRV(FDEGREE, FADMNO, FHEADCODE, FFEE, FEXAMNO, FLASTDATE, FFINE, "
          "FYEAR, FMONTH) values({}, {}, '{}', {}, '1', '2024{:02d}30', 100, '2024', '')",
          q(degree), q(adm), kFeeHeads[h].first, kFeeAmounts[h], 6 + h));
    }
    if (pick(0, 2) == 0) return;  // a third of the students have paid nothing yet
    std::string recno = fmt::format("{:06d}", receipt++);
    int paid = kFeeAmounts[0] / pick(1, 2);
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

  // The large profile: the same tables, many more rows per student, text
  // with accents and quotes, and every row through a several-row insert.
  void university() {
    static const char* kFirst[] = {"Anu",    "José",  "Zoë",   "Renée",  "Fathima", "Arjun",
                                   "Anaïs",  "Noël",  "Chloé", "Joseph", "Meera",   "Björn",
                                   "Ángela", "Rahul", "Siân",  "Diya"};
    static const char* kLast[] = {"Thomas", "D'Souza", "O'Brien",  "Menon", "Fernandes",
                                  "Núñez",  "Iyer",    "D'Cruz",   "Khan",  "Varghese",
                                  "Müller", "Nair",    "Gonçalves"};
    static const char* kStreets[] = {"Opp. St. Mary's ChurchÂ¸ Mahatma Gandhi Road",
                                     "Behind \"Sree Krishna\" TempleÂ¸ Old Market Lane",
                                     "Near Govt. L.P. SchoolÂ¸ Kaloor-Kadavanthra Road",
                                     "Ground floorÂ¸ \"Café Résidence\"Â¸ Marine Drive"};
    RowBatch student(
        db,
        "insert into student(fadmno, fdegree, fexamno, fname, ffather, fmother, fdob, "
        "fmobile, femail, fsex, fbgroup, fcatcode, frtcode, fsection, factive, fyear, "
        "fregno, faddr1, faddr2, faddr3, faddr4, fpincode, fcollcode, fdoa, fdeleted)");
    RowBatch result(db,
                    "insert into result(fcollcode, fdegree, fexamno, fsection, fadmno, factive, "
                    "fyear, fexamtype, fclosed)");
    RowBatch studsub(db,
                     "insert into studsub(fcollcode, fdegree, fexamno, fsubcode, fadmno, fpass, "
                     "fpassmth, fmarks, fremarks)");
    RowBatch fee(db,
                 "insert into FEESTRV(FDEGREE, FADMNO, FHEADCODE, FFEE, FEXAMNO, FLASTDATE, FFINE, "
                 "FYEAR, FMONTH)");
    RowBatch head(db,
                  "insert into RECHEAD(FRECNO, FRECDATE, FRECTYPE, FRECCODE, FNAME, FTOTAL, "
                  "FDEGREE, FEXAMNO, FNETTOTAL, FDISCOUNT, FCASHAMOUNT, FCHQAMOUNT, FCHQNO, "
                  "FCHQDATE, FCHQBANKNAME, FDELETED)");
    RowBatch line(db, "insert into RECDETL(FRECNO, FHEADCODE, FAMOUNT)");
    RowBatch sms(db,
                 "insert into smslog(fdate, ftime, fusername, fmessage, fstatus, fguid, "
                 "fscreentype, fadmno, fdegree, fmobileno, fupload)");
    int receipt = 1;
    for (int i = 1; i <= profile.students; ++i) {
      std::string adm = fmt::format("U{:06d}", i);
      std::string degree = i % 2 ? "BSC" : "BCOM";
      std::string college = fmt::format("C0{}", 1 + i % 3);
      std::string first = kFirst[i % 16], last = kLast[(i / 16) % 13];
      std::string name = first + " " + last;
      student.add(fmt::format(
          "({}, {}, '1', {}, {}, {}, '200{}{:02d}{:02d}', '98460{:05d}', {}, '{}', 'O+', 'GEN', "
          "'R{}', 'A', 'Y', '2024', 'REG{:06d}', {}, {}, 'Ernakulam District', 'Kerala', "
          "'6820{:02d}', {}, '20240601', 'F')",
          q(adm), q(degree), q(name), q("Mr. " + std::string(kFirst[(i + 5) % 16]) + " " + last),
          q("Mrs. " + std::string(kFirst[(i + 9) % 16]) + " " + last), 4 + i % 5, 1 + i % 12,
          1 + i % 28, i % 100000, q(fmt::format("{}.{}{}@example.org", first, last, i)),
          i % 2 ? 'M' : 'F', 1 + i % 4, i,
          q(fmt::format("House No. {}/{}Â¸ \"Sree Nilayam\"", 100 + i % 900, i % 40)),
          q(kStreets[i % 4]), i % 40, q(college)));
      result.add(fmt::format("({}, {}, '1', 'A', {}, 'Y', '2024', '1', 'N')", q(college), q(degree),
                             q(adm)));
      for (int sub = 0; sub < profile.subjectsPerStudent; ++sub) {
        int marks = pick(20, 98);
        studsub.add(fmt::format("({}, {}, '1', '{}', {}, '{}', 'APR2024', {}.{}, {})", q(college),
                                q(degree), subjectCode(sub), q(adm), marks >= 40 ? "P" : "F", marks,
                                pick(0, 1) * 5,
                                marks >= 40 ? "NULL" : q("Re-appear in \"supplementary\" exam")));
      }
      for (int h = 0; h < profile.feeHeads; ++h) {
        fee.add(fmt::format("({}, {}, '{}', {}, '1', '2024{:02d}28', 100, '2024', '')", q(degree),
                            q(adm), kFeeHeads[h].first, kFeeAmounts[h], 1 + h));
      }
      for (int r = 0; r < profile.receipts; ++r) {
        std::string recno = fmt::format("{:07d}", receipt++);
        int paid = kFeeAmounts[r] / pick(1, 2);
        head.add(fmt::format(
            "('{}', '2024{:02d}{:02d}', 'S', {}, {}, {}, {}, '1', {}, 0, {}, 0, NULL, NULL, NULL, "
            "'F')",
            recno, 7 + r, 1 + i % 28, q(adm), q(name), paid + 400, q(degree), paid + 400,
            paid + 400));
        line.add(fmt::format("('{}', '{}', {})", recno, kFeeHeads[r].first, paid));
        line.add(fmt::format("('{}', 'SPT', 400)", recno));
      }
      for (int m = 0; m < profile.smsPerStudent; ++m) {
        sms.add(fmt::format(
            "('2024{:02d}{:02d}', '{:02d}:{:02d}', 'office', {}, '{}', 'guid-{:06d}-{}', 'FEE', "
            "{}, {}, '98460{:05d}', NULL)",
            7 + m, 1 + i % 28, 9 + i % 8, i % 60,
            q(fmt::format("Dear parent of {}, the {} of Rs. {} is due on {:02d}/0{}/2024. "
                          "Ignore if paid.",
                          name, kFeeHeads[m].second, kFeeAmounts[m], 1 + i % 28, 7 + m)),
            i % 50 ? "success" : "failed", i, m, q(adm), q(degree), i % 100000));
      }
    }
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
    if (large) return;
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
  std::string home, connect, database, institution = "P001", profileName = "demo";
  int students = 0;
  app.add_option("--home", home, "program folder (its platform.ini maps the drivers)")->required();
  app.add_option("--connect", connect, "local connection string")->required();
  app.add_option("--database", database, "local database")->required();
  app.add_option("--institution", institution, "institution code for control.funivcode");
  app.add_option("--students", students, "number of students (default: the profile's)");
  app.add_option("--profile", profileName, "demo (300 students) or university (50,000)")
      ->check(CLI::IsMember({"demo", "university"}));
  CLI11_PARSE(app, argc, argv);
  try {
    agent::PlatformConfig config = agent::PlatformConfig::load(home);
    agent::DriverConnection db(config.drivers);
    db.open(connect);
    db.setDefaultDatabase(database);
    db.execute("SET DATEFORMAT DMY");
    Profile profile = profileName == "university" ? kUniversityProfile : kDemoProfile;
    if (students > 0) profile.students = students;
    Generator generator{db, {}, profile, institution};
    db.execute("BEGIN TRAN");
    generator.masters();
    generator.people();
    generator.staffAndHostels();
    generator.smsLog();
    db.execute("COMMIT");
    std::printf("demo-data: %d students of institution %s in %s\n", profile.students,
                institution.c_str(), database.c_str());
    return 0;
  } catch (const agent::AgentError& e) {
    std::fprintf(stderr, "demo-data: %ld %s\n", e.number(), e.description().c_str());
    return 1;
  }
}
