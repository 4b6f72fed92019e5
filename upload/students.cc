// Students and their portal logins. One pass over the published students
// writes two files, UPSTUDENT.csv and UPMASUSER.csv; both are then merged.
// An existing student is brought wholly up to date, fdeleted included; an
// existing login only takes fdeleted, so a password changed on the portal
// is kept and the initial password reaches new logins only. The stage sets
// the remote connection's SQL mode for the rest of the cycle (no backslash
// escapes, the server's strictness kept).
#include <algorithm>

#include "db/remote_literal.h"
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
       .columns = {{"fadmno", F::source("fadmno")},
                   {"fdegree", F::source("fdegree")},
                   {"fexamno", F::source("fexamno")},
                   {"fname", F::source("fname")},
                   {"ffather", F::source("ffather")},
                   {"fmother", F::source("fmother")},
                   {"fdob", F::source("fdob", kDate)},
                   {"fmobile", F::source("fmobile")},
                   {"femail", F::source("femail")},
                   {"fgender", F::source("fsex")},
                   {"fbloodgrp", F::source("fbgroup")},
                   {"fcatcode", F::source("fcatcode")},
                   {"frtcode", F::source("frtcode")},
                   {"fsection", F::source("fsection")},
                   {"factive", F::source("factive")},
                   {"fyear", F::source("fyear")},
                   {"fregno", F::source("fregno")},
                   {"faddr1", F::source("faddr1", kComma)},
                   {"faddr2", F::source("faddr2", kComma)},
                   {"faddr3", F::source("faddr3", kComma)},
                   {"faddr4", F::source("faddr4", kComma)},
                   {"fpincode", F::source("fpincode", kComma)},
                   {"faddp1", F::source("faddp1", kComma)},
                   {"faddp2", F::source("faddp2", kComma)},
                   {"faddp3", F::source("faddp3", kComma)},
                   {"faddp4", F::source("faddp4", kComma)},
                   {"fpincodep", F::source("fpincodep", kComma)},
                   {"fcollcode", F::source("fcollcode", kComma)},
                   {"fdoa", F::source("fdoa", kDate)},
                   {"fhostcode", F::source("fhostcode", kComma)},
                   {"fhostjoindate", F::source("fhostjoindate", kDate)},
                   {"fmesscode", F::source("fmesscode", kComma)},
                   {"fcombcode", F::source("fcombcode", kComma)},
                   {"fmobilep", F::source("fmobilep", kComma)},
                   {"femailp", F::source("femailp", kComma)},
                   {"fhostblock", F::source("fhostblock", kComma)},
                   {"fhostroomno", F::source("fhostroomno", kComma)},
                   {"freligion", F::source("freligion", kComma)},
                   {"fcaste", F::source("fcaste", kComma)},
                   {"f1stlang", F::source("f1stlang", kComma)},
                   {"f2ndlang", F::source("f2ndlang", kComma)},
                   {"fseattype", F::source("fseattype", kComma)},
                   {"fseatstate", F::source("fseatstate", kComma)},
                   {"fplacecode", F::source("fplacecode", kComma)},
                   {"fdropplace", F::source("fdropplace", kComma)},
                   {"fdeleted", F::source("fdeleted")}},
       .merge =
           MergeUpdate{.set = {{"fname"},      {"ffather"},       {"fmother"},    {"fdob"},
                               {"fregno"},     {"faddr1"},        {"faddr2"},     {"faddr3"},
                               {"faddr4"},     {"fmobile"},       {"femail"},     {"fgender"},
                               {"fbloodgrp"},  {"fdegree"},       {"fexamno"},    {"fcatcode"},
                               {"frtcode"},    {"fsection"},      {"factive"},    {"fyear"},
                               {"fregno"},     {"faddr1"},        {"faddr2"},     {"faddr3"},
                               {"faddr4"},     {"fpincode"},      {"faddp1"},     {"faddp2"},
                               {"faddp3"},     {"faddp4"},        {"fcollcode"},  {"fdoa"},
                               {"fhostcode"},  {"fhostjoindate"}, {"fmesscode"},  {"fcombcode"},
                               {"fmobilep"},   {"femailp"},       {"fhostblock"}, {"fhostroomno"},
                               {"freligion"},  {"fcaste"},        {"f1stlang"},   {"f2ndlang"},
                               {"fseattype"},  {"fseatstate"},    {"fpincodep"},  {"fplacecode"},
                               {"fdropplace"}, {"fdeleted"}},
                       .key = {"fadmno"}},
       .variant = StagingVariant::DropAfter},

      // Every student login: user name the admission number, the initial
      // password newuser, user type and group S.
      {.sourceQuery = kStudentQuery,
       .exportFileName = "UPMASUSER.csv",
       .tableName = "masuser",
       .columns = {{"fusername", F::source("fadmno")},
                   {"fpasswd", F::fixed("newuser")},
                   {"fusertype", F::fixed("S")},
                   {"fusergrp", F::fixed("S")},
                   {"fdeleted", F::source("fdeleted")}},
       // Written "x1.fdeleted= x2.fdeleted", as the portal has always been
       // sent it.
       .merge = MergeUpdate{.set = {{.column = "fdeleted", .equals = "= "}}, .key = {"fusername"}},
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
  const MergePlan& studentPlan = students.plan();
  const MergePlan& loginPlan = logins.plan();
  auto head = [&](bool sendStudents, bool sendLogins) {
    std::vector<std::string> statements;
    if (sendStudents) statements.push_back(studentPlan.stagingDrop());
    if (sendLogins) statements.push_back(loginPlan.stagingDrop());
    if (sendStudents) statements.push_back(studentPlan.stagingCreate());
    statements.push_back(kSetSqlMode);
    statements.push_back(kRestoreStrictness);
    students.sendRemote(singleSteps(statements));
    // The server says what the mode now is; the flag only keeps its answer.
    ctx.portal.backslashEscapes = backslashEscapesOn(ctx.remote);
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
      const std::vector<std::string> staging = {studentPlan.stagingLoad()};
      rows = MirrorTable::exportRows(*source, {&students, &logins}, &staging);
    } else {
      rows = MirrorTable::exportRows(*source, {&students, &logins});
    }
  }

  bool sendStudents = students.sendsFile(), sendLogins = logins.sendsFile();
  if (!streamed) head(sendStudents, sendLogins);
  std::vector<std::string> statements;
  if (sendStudents) {
    if (!streamed) statements.push_back(studentPlan.stagingLoad());
    statements.insert(statements.end(), {studentPlan.mergeUpdate(), studentPlan.insertLoad()});
  }
  if (sendLogins) {
    statements.insert(statements.end(), {loginPlan.stagingCreate(), loginPlan.stagingLoad(),
                                         loginPlan.mergeUpdate(), loginPlan.insertLoad()});
  }
  if (sendStudents) statements.push_back(studentPlan.stagingDrop());
  if (sendLogins) statements.push_back(loginPlan.stagingDrop());
  students.sendRemote(singleSteps(statements));
  students.finishChanges();
  logins.finishChanges();
  return std::max(students.rowsSent(rows), logins.rowsSent(rows));
}

}  // namespace agent
