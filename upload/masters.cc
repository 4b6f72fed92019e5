// The academic master tables: colleges, degrees with their examinations,
// subjects, student categories, fee heads and routes. Merge updates never
// set fdeleted, so a row cancelled on the portal stays cancelled.
#include "upload/mirror_description.h"
#include "upload/mirror_table.h"
#include "upload/table_stages.h"

namespace agent {

namespace {

using F = ExportField;
constexpr Conversion kTrimmed = Conversion::Trimmed;

}  // namespace

std::span<const MirrorDescription> masterTableDescriptions() {
  static const std::vector<MirrorDescription> kDescriptions = {
      {.sourceQuery = "select * from college order by fcollcode",
       .exportFileName = "UPCOLLEGE.csv",
       .tableName = "college",
       .columnList = "fcollcode, fcollname, fadd1, fadd2, fadd3, fadd4, fattsession, fdeleted",
       .fields = {F::source("fcollcode"), F::source("fcollname"), F::source("fadd1"),
                  F::source("fadd2"), F::source("fadd3"), F::source("fadd4"),
                  F::source("fattsession"), F::fixed("F")},
       .mergeUpdate =
           "update college, tmpcollege set college.fcollname = tmpcollege.fcollname, college.fadd1 "
           "= "
           "tmpcollege.fadd1, college.fadd2 = tmpcollege.fadd2, college.fadd3 = tmpcollege.fadd3, "
           "college.fadd4 = tmpcollege.fadd4, college.fattsession = tmpcollege.fattsession where "
           "college.fcollcode = tmpcollege.fcollcode",
       .variant = StagingVariant::DropBefore},

      // fexamdate is written in the plain form, not as yyyy-mm-dd.
      {.sourceQuery = "select * from degree order by fdegree, fexamno",
       .exportFileName = "UPDEGREE.csv",
       .tableName = "degree",
       .columnList = "fdegree, fdescpn, fexamno, fexamname, fyear, fexamtype, fexamdate, fdeleted",
       .fields = {F::source("fdegree"), F::source("fdescpn"), F::source("fexamno"),
                  F::source("fexamname"), F::source("fyear"), F::source("fexamtype"),
                  F::source("fexamdate"), F::fixed("F")},
       .mergeUpdate =
           "update degree, tmpdegree set degree.fdescpn = tmpdegree.fdescpn, degree.fexamname = "
           "tmpdegree.fexamname, degree.fyear = tmpdegree.fyear, degree.fexamtype = "
           "tmpdegree.fexamtype where degree.fdegree = tmpdegree.fdegree and degree.fexamno = "
           "tmpdegree.fexamno",
       .variant = StagingVariant::DropAfter},

      // fcsubcode is fsubcode followed by fssubcode; the remote row is
      // matched on it. fmaxmarks and fsmaxmarks are not carried, and the
      // merge leaves them alone (the staging table holds only defaults).
      {.sourceQuery = "select * from subject order by fdegree, fexamno, fsubcode, fssubcode",
       .exportFileName = "UPSUBJECT.csv",
       .tableName = "subject",
       .columnList = "fdegree, fexamno, fsubcode, fsubname, fssubcode, fssubname, fcsubcode, "
                     "fattsub, fth, fia, "
                     "fretain, fcombclid, fdeleted",
       .fields = {F::source("fdegree"), F::source("fexamno"), F::source("fsubcode"),
                  F::source("fsubname"), F::source("fssubcode"), F::source("fssubname"),
                  F::joined("fsubcode", "fssubcode"), F::source("fattsub"),
                  F::source("fth", kTrimmed), F::source("fia", kTrimmed),
                  F::source("fretain", kTrimmed), F::source("fcombclid", kTrimmed), F::fixed("F")},
       .mergeUpdate =
           "update subject x1, tmpsubject x2 set x1.fsubname = x2.fsubname, x1.fssubname = "
           "x2.fssubname, x1.fth = x2.fth, x1.fia = x2.fia, x1.fretain = x2.fretain, x1.fattsub = "
           "x2.fattsub where x1.fdegree = x2.fdegree and x1.fexamno = x2.fexamno and x1.fcsubcode "
           "= "
           "x2.fcsubcode",
       .variant = StagingVariant::DropBoth},

      {.sourceQuery = "select * from mascat order by fcatcode",
       .exportFileName = "UPMASCAT.csv",
       .tableName = "mascat",
       .columnList = "fcatcode, fcatdesc, fdeleted",
       .fields = {F::source("fcatcode"), F::source("fcatdesc"), F::fixed("F")},
       .mergeUpdate =
           "update mascat x1, tmpmascat x2 set x1.fcatdesc = x2.fcatdesc where x1.fcatcode = "
           "x2.fcatcode",
       .variant = StagingVariant::DropAfter},

      {.sourceQuery = "select * from mashead order by fheadcode",
       .exportFileName = "UPMASHEAD.csv",
       .tableName = "mashead",
       .columnList = "fheadcode, fheaddesc, fdeleted",
       .fields = {F::source("fheadcode"), F::source("fheaddesc"), F::fixed("F")},
       .mergeUpdate =
           "update mashead x1, tmpmashead x2 set x1.fheaddesc = x2.fheaddesc where x1.fheadcode = "
           "x2.fheadcode",
       .variant = StagingVariant::DropAfter},

      {.sourceQuery = "select * from masroute order by frtcode",
       .exportFileName = "UPMASROUTE.csv",
       .tableName = "masroute",
       .columnList = "frtcode, frtname, fdeleted",
       .fields = {F::source("frtcode"), F::source("frtname"), F::fixed("F")},
       .mergeUpdate =
           "update masroute x1, tmpmasroute x2 set x1.frtname = x2.frtname where x1.frtcode = "
           "x2.frtcode",
       .variant = StagingVariant::DropAfter},
  };
  return kDescriptions;
}

std::size_t uploadColleges(CycleContext& ctx) {
  return mirrorTable(ctx, masterTableDescriptions(), "college");
}
std::size_t uploadDegrees(CycleContext& ctx) {
  return mirrorTable(ctx, masterTableDescriptions(), "degree");
}
std::size_t uploadSubjects(CycleContext& ctx) {
  return mirrorTable(ctx, masterTableDescriptions(), "subject");
}
std::size_t uploadCategories(CycleContext& ctx) {
  return mirrorTable(ctx, masterTableDescriptions(), "mascat");
}
std::size_t uploadFeeHeads(CycleContext& ctx) {
  return mirrorTable(ctx, masterTableDescriptions(), "mashead");
}
std::size_t uploadRoutes(CycleContext& ctx) {
  return mirrorTable(ctx, masterTableDescriptions(), "masroute");
}

}  // namespace agent
