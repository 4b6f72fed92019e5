// Students and their portal logins. One pass over the published students
// writes two files, UPSTUDENT.csv and UPMASUSER.csv; both are then merged.
// An existing student is brought wholly up to date, fdeleted included; an
// existing login only takes fdeleted, so a password changed on the portal
// is kept and the initial password reaches new logins only. The stage sets
// the remote connection's SQL mode for the rest of the cycle (no backslash
// escapes, the server's strictness kept).
#include <algorithm>

#include "upload/mirror_catalog.h"
#include "upload/mirror_description.h"
#include "upload/mirror_table.h"
#include "upload/table_stages.h"

namespace agent {

namespace {

using F = ExportField;
constexpr Conversion kDate = Conversion::Date;
constexpr Conversion kComma = Conversion::CommaRestored;

// Students without a degree (XX or Null) or without a date of admission
// are not published.
constexpr const char* kStudentQuery =
    "select * from student where fdegree <> 'XX' and fdoa is not null order by fadmno";

constexpr const char* kSetSqlMode = "SET sql_mode='NO_BACKSLASH_ESCAPES'";
// The mode above is set for its escapes, but it also drops the strictness
// the session had, and the statements of the rest of the cycle (marks,
// merges) would then store a value that does not fit clipped, with only a
// warning. The strict flags the server gives a session are added back; the
// session's other flags stay off, as the later statements always ran.
constexpr const char* kRestoreStrictness =
    "SET sql_mode = concat_ws(',', @@session.sql_mode, "
    "if(find_in_set('STRICT_TRANS_TABLES', @@global.sql_mode), 'STRICT_TRANS_TABLES', null), "
    "if(find_in_set('STRICT_ALL_TABLES', @@global.sql_mode), 'STRICT_ALL_TABLES', null))";

const std::vector<MirrorDescription>& descriptions() {
  static const std::vector<MirrorDescription> kDescriptions = {
      {.sourceQuery = kStudentQuery,
       .exportFileName = "UPSTUDENT.csv",
       .tableName = "student",
       .columnList =
           "fadmno, fdegree, fexamno, fname, ffather, fmother, fdob, fmobile, femail, fgender, "
           "fbloodgrp, fcatcode, frtcode, fsection, factive, fyear, fregno, faddr1, faddr2, "
           "faddr3, "
           "faddr4, fpincode, faddp1, faddp2, faddp3, faddp4, fpincodep, fcollcode, fdoa, "
           "fhostcode, "
           "fhostjoindate, fmesscode, fcombcode, fmobilep, femailp, fhostblock, fhostroomno, "
           "freligion, fcaste, f1stlang, f2ndlang, fseattype, fseatstate, fplacecode, fdropplace, "
           "fdeleted",
       .fields = {F::source("fadmno"),
                  F::source("fdegree"),
                  F::source("fexamno"),
                  F::source("fname"),
                  F::source("ffather"),
                  F::source("fmother"),
                  F::source("fdob", kDate),
                  F::source("fmobile"),
                  F::source("femail"),
                  F::source("fsex"),
                  F::source("fbgroup"),
                  F::source("fcatcode"),
                  F::source("frtcode"),
                  F::source("fsection"),
                  F::source("factive"),
                  F::source("fyear"),
                  F::source("fregno"),
                  F::source("faddr1", kComma),
                  F::source("faddr2", kComma),
                  F::source("faddr3", kComma),
                  F::source("faddr4", kComma),
                  F::source("fpincode", kComma),
                  F::source("faddp1", kComma),
                  F::source("faddp2", kComma),
                  F::source("faddp3", kComma),
                  F::source("faddp4", kComma),
                  F::source("fpincodep", kComma),
                  F::source("fcollcode", kComma),
                  F::source("fdoa", kDate),
                  F::source("fhostcode", kComma),
                  F::source("fhostjoindate", kDate),
                  F::source("fmesscode", kComma),
                  F::source("fcombcode", kComma),
                  F::source("fmobilep", kComma),
                  F::source("femailp", kComma),
                  F::source("fhostblock", kComma),
                  F::source("fhostroomno", kComma),
                  F::source("freligion", kComma),
                  F::source("fcaste", kComma),
                  F::source("f1stlang", kComma),
                  F::source("f2ndlang", kComma),
                  F::source("fseattype", kComma),
                  F::source("fseatstate", kComma),
                  F::source("fplacecode", kComma),
                  F::source("fdropplace", kComma),
                  F::source("fdeleted")},
       .mergeUpdate =
           "update student x1, tmpstudent x2 set x1.fname = x2.fname, x1.ffather = x2.ffather, "
           "x1.fmother = x2.fmother, x1.fdob = x2.fdob, x1.fregno = x2.fregno, x1.faddr1 = "
           "x2.faddr1, x1.faddr2 = x2.faddr2, x1.faddr3 = x2.faddr3, x1.faddr4 = x2.faddr4, "
           "x1.fmobile = x2.fmobile, x1.femail = x2.femail, x1.fgender = x2.fgender, x1.fbloodgrp "
           "= "
           "x2.fbloodgrp, x1.fdegree = x2.fdegree, x1.fexamno = x2.fexamno, x1.fcatcode = "
           "x2.fcatcode, x1.frtcode = x2.frtcode, x1.fsection = x2.fsection, x1.factive = "
           "x2.factive, x1.fyear = x2.fyear, x1.fregno = x2.fregno, x1.faddr1 = x2.faddr1, "
           "x1.faddr2 = x2.faddr2, x1.faddr3 = x2.faddr3, x1.faddr4 = x2.faddr4, x1.fpincode = "
           "x2.fpincode, x1.faddp1 = x2.faddp1, x1.faddp2 = x2.faddp2, x1.faddp3 = x2.faddp3, "
           "x1.faddp4 = x2.faddp4, x1.fcollcode = x2.fcollcode, x1.fdoa = x2.fdoa, x1.fhostcode = "
           "x2.fhostcode, x1.fhostjoindate = x2.fhostjoindate, x1.fmesscode = x2.fmesscode, "
           "x1.fcombcode = x2.fcombcode, x1.fmobilep = x2.fmobilep, x1.femailp = x2.femailp, "
           "x1.fhostblock = x2.fhostblock, x1.fhostroomno = x2.fhostroomno, x1.freligion = "
           "x2.freligion, x1.fcaste = x2.fcaste, x1.f1stlang = x2.f1stlang, x1.f2ndlang = "
           "x2.f2ndlang, x1.fseattype = x2.fseattype, x1.fseatstate = x2.fseatstate, x1.fpincodep "
           "= "
           "x2.fpincodep, x1.fplacecode = x2.fplacecode, x1.fdropplace = x2.fdropplace, "
           "x1.fdeleted "
           "= x2.fdeleted where x1.fadmno = x2.fadmno",
       .variant = StagingVariant::DropAfter},

      // Every student login: user name the admission number, the initial
      // password newuser, user type and group S.
      {.sourceQuery = kStudentQuery,
       .exportFileName = "UPMASUSER.csv",
       .tableName = "masuser",
       .columnList = "fusername, fpasswd, fusertype, fusergrp, fdeleted",
       .fields = {F::source("fadmno"), F::fixed("newuser"), F::fixed("S"), F::fixed("S"),
                  F::source("fdeleted")},
       .mergeUpdate =
           "update masuser x1, tmpmasuser x2 set x1.fdeleted= x2.fdeleted where x1.fusername = "
           "x2.fusername",
       .variant = StagingVariant::DropAfter},
  };
  return kDescriptions;
}

}  // namespace

std::span<const MirrorDescription> studentAndLoginDescriptions() {
  return descriptions();
}

std::size_t uploadStudentsAndLogins(CycleContext& ctx) {
  MirrorTable students(ctx, findMirrorDescription(descriptions(), "student"));
  MirrorTable logins(ctx, findMirrorDescription(descriptions(), "masuser"));
  students.prepareChanges();
  logins.prepareChanges();

  // Both staging drops come after both insert loads; each table's staging
  // table is also dropped first, so that rows left by an interrupted cycle
  // are not merged. With change detection a table whose file holds nothing
  // new sends none of its statements; the SQL mode, which holds for the
  // rest of the cycle, is always set. The load statements are built once
  // the mode is set, so their paths are written for it.
  auto head = [&](bool sendStudents, bool sendLogins) {
    std::vector<std::string> statements;
    if (sendStudents) statements.push_back(students.stagingDrop());
    if (sendLogins) statements.push_back(logins.stagingDrop());
    if (sendStudents) statements.push_back(students.stagingCreate());
    statements.push_back(kSetSqlMode);
    statements.push_back(kRestoreStrictness);
    students.sendRemote(statements);
    ctx.remoteBackslashEscapes = false;
  };
  // When both tables are merged in full on a connection that streams
  // local files, the statements up to the students' staging load go
  // first, and that load reads the file while it is written.
  bool streamed = students.runsFull() && logins.runsFull() && ctx.remote.streamsLocalFiles();
  std::size_t rows;
  {
    std::unique_ptr<Recordset> source = students.openSource();
    if (hasNoRows(*source)) return 0;
    MirrorTable::beginChanges({&students, &logins});
    if (streamed) {
      head(true, true);
      const std::vector<std::string> staging = {students.stagingLoad()};
      rows = MirrorTable::exportRows(*source, {&students, &logins}, &staging);
    } else {
      rows = MirrorTable::exportRows(*source, {&students, &logins});
    }
  }

  bool sendStudents = students.sendsFile(), sendLogins = logins.sendsFile();
  if (!streamed) head(sendStudents, sendLogins);
  std::vector<std::string> statements;
  if (sendStudents) {
    if (!streamed) statements.push_back(students.stagingLoad());
    statements.insert(statements.end(), {students.mergeUpdate(), students.insertLoad()});
  }
  if (sendLogins) {
    statements.insert(statements.end(), {logins.stagingCreate(), logins.stagingLoad(),
                                         logins.mergeUpdate(), logins.insertLoad()});
  }
  if (sendStudents) statements.push_back(students.stagingDrop());
  if (sendLogins) statements.push_back(logins.stagingDrop());
  students.sendRemote(statements);
  students.finishChanges();
  logins.finishChanges();
  return std::max(students.rowsSent(rows), logins.rowsSent(rows));
}

}  // namespace agent
