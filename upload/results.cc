// Results and subject marks. Only results of an examination that the local
// degree table still holds are published; every subject mark is. Merge
// updates leave fdeleted as the remote row has it.
#include "upload/mirror_description.h"
#include "upload/mirror_table.h"
#include "upload/table_stages.h"

namespace agent {

namespace {

using F = ExportField;

}  // namespace

std::span<const MirrorDescription> resultDescriptions() {
  static const std::vector<MirrorDescription> kDescriptions = {
      {.sourceQuery =
           "select result.* from result, degree where result.fdegree = degree.fdegree and "
           "result.fexamno = degree.fexamno and result.fyear = degree.fyear and result.fexamtype = "
           "degree.fexamtype order by result.fcollcode, result.fdegree, result.fexamno, "
           "result.fadmno",
       .exportFileName = "RESULT.csv",
       .tableName = "result",
       .columns = {{"fcollcode", F::source("fcollcode")},
                   {"fdegree", F::source("fdegree")},
                   {"fexamno", F::source("fexamno")},
                   {"fsection", F::source("fsection")},
                   {"fadmno", F::source("fadmno")},
                   {"factive", F::source("factive")},
                   {"fyear", F::source("fyear")},
                   {"fexamtype", F::source("fexamtype")},
                   {"fclosed", F::source("fclosed")},
                   {"fdeleted", F::fixed("F")}},
       .merge =
           MergeUpdate{.set = {{"fsection"}, {"factive"}, {"fclosed"}},
                       .key = {"fcollcode", "fdegree", "fexamno", "fadmno", "fyear", "fexamtype"}},
       .variant = StagingVariant::DropAfter},

      {.sourceQuery =
           "select * from studsub order by fcollcode, fdegree, fexamno, fsubcode, fadmno",
       .exportFileName = "STUDSUB.csv",
       .tableName = "studsub",
       .columns = {{"fcollcode", F::source("fcollcode")},
                   {"fdegree", F::source("fdegree")},
                   {"fexamno", F::source("fexamno")},
                   {"fsubcode", F::source("fsubcode")},
                   {"fadmno", F::source("fadmno")},
                   {"fpass", F::source("fpass")},
                   {"fpassmth", F::source("fpassmth")},
                   {"fmarks", F::source("fmarks")},
                   {"fremarks", F::source("fremarks")},
                   {"fdeleted", F::fixed("F")}},
       .merge = MergeUpdate{.set = {{"fpass"}, {"fpassmth"}, {"fmarks"}, {"fremarks"}},
                            .key = {"fcollcode", "fdegree", "fexamno", "fsubcode", "fadmno"}},
       .variant = StagingVariant::DropAfter,
       .changesSourceQuery = "select * from studsub"},
  };
  return kDescriptions;
}

std::size_t uploadResults(CycleContext& ctx) {
  return mirrorTable(ctx, resultDescriptions(), "result");
}
std::size_t uploadSubjectMarks(CycleContext& ctx) {
  return mirrorTable(ctx, resultDescriptions(), "studsub");
}

}  // namespace agent
