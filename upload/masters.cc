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
       .columns = {{"fcollcode", F::source("fcollcode")},
                   {"fcollname", F::source("fcollname")},
                   {"fadd1", F::source("fadd1")},
                   {"fadd2", F::source("fadd2")},
                   {"fadd3", F::source("fadd3")},
                   {"fadd4", F::source("fadd4")},
                   {"fattsession", F::source("fattsession")},
                   {"fdeleted", F::fixed("F")}},
       .merge =
           MergeUpdate{
               .set = {{"fcollname"}, {"fadd1"}, {"fadd2"}, {"fadd3"}, {"fadd4"}, {"fattsession"}},
               .key = {"fcollcode"},
               .aliases = MergeAliases::TableNames},
       .variant = StagingVariant::DropBefore},

      // fexamdate is written in the plain form, not as yyyy-mm-dd.
      {.sourceQuery = "select * from degree order by fdegree, fexamno",
       .exportFileName = "UPDEGREE.csv",
       .tableName = "degree",
       .columns = {{"fdegree", F::source("fdegree")},
                   {"fdescpn", F::source("fdescpn")},
                   {"fexamno", F::source("fexamno")},
                   {"fexamname", F::source("fexamname")},
                   {"fyear", F::source("fyear")},
                   {"fexamtype", F::source("fexamtype")},
                   {"fexamdate", F::source("fexamdate")},
                   {"fdeleted", F::fixed("F")}},
       .merge = MergeUpdate{.set = {{"fdescpn"}, {"fexamname"}, {"fyear"}, {"fexamtype"}},
                            .key = {"fdegree", "fexamno"},
                            .aliases = MergeAliases::TableNames},
       .variant = StagingVariant::DropAfter},

      // fcsubcode is fsubcode followed by fssubcode; the remote row is
      // matched on it. fmaxmarks and fsmaxmarks are not carried, and the
      // merge leaves them alone (the staging table holds only defaults).
      {.sourceQuery = "select * from subject order by fdegree, fexamno, fsubcode, fssubcode",
       .exportFileName = "UPSUBJECT.csv",
       .tableName = "subject",
       .columns = {{"fdegree", F::source("fdegree")},
                   {"fexamno", F::source("fexamno")},
                   {"fsubcode", F::source("fsubcode")},
                   {"fsubname", F::source("fsubname")},
                   {"fssubcode", F::source("fssubcode")},
                   {"fssubname", F::source("fssubname")},
                   {"fcsubcode", F::joined("fsubcode", "fssubcode")},
                   {"fattsub", F::source("fattsub")},
                   {"fth", F::source("fth", kTrimmed)},
                   {"fia", F::source("fia", kTrimmed)},
                   {"fretain", F::source("fretain", kTrimmed)},
                   {"fcombclid", F::source("fcombclid", kTrimmed)},
                   {"fdeleted", F::fixed("F")}},
       .merge =
           MergeUpdate{
               .set = {{"fsubname"}, {"fssubname"}, {"fth"}, {"fia"}, {"fretain"}, {"fattsub"}},
               .key = {"fdegree", "fexamno", "fcsubcode"}},
       .variant = StagingVariant::DropBoth},

      {.sourceQuery = "select * from mascat order by fcatcode",
       .exportFileName = "UPMASCAT.csv",
       .tableName = "mascat",
       .columns = {{"fcatcode", F::source("fcatcode")},
                   {"fcatdesc", F::source("fcatdesc")},
                   {"fdeleted", F::fixed("F")}},
       .merge = MergeUpdate{.set = {{"fcatdesc"}}, .key = {"fcatcode"}},
       .variant = StagingVariant::DropAfter},

      {.sourceQuery = "select * from mashead order by fheadcode",
       .exportFileName = "UPMASHEAD.csv",
       .tableName = "mashead",
       .columns = {{"fheadcode", F::source("fheadcode")},
                   {"fheaddesc", F::source("fheaddesc")},
                   {"fdeleted", F::fixed("F")}},
       .merge = MergeUpdate{.set = {{"fheaddesc"}}, .key = {"fheadcode"}},
       .variant = StagingVariant::DropAfter},

      {.sourceQuery = "select * from masroute order by frtcode",
       .exportFileName = "UPMASROUTE.csv",
       .tableName = "masroute",
       .columns = {{"frtcode", F::source("frtcode")},
                   {"frtname", F::source("frtname")},
                   {"fdeleted", F::fixed("F")}},
       .merge = MergeUpdate{.set = {{"frtname"}}, .key = {"frtcode"}},
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
