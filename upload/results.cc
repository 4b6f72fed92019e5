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
       .columnList =
           "fcollcode, fdegree, fexamno, fsection, fadmno, factive, fyear, fexamtype, fclosed, "
           "fdeleted",
       .fields = {F::source("fcollcode"), F::source("fdegree"), F::source("fexamno"),
                  F::source("fsection"), F::source("fadmno"), F::source("factive"),
                  F::source("fyear"), F::source("fexamtype"), F::source("fclosed"), F::fixed("F")},
       .mergeUpdate =
           "update result x1, tmpresult x2 set x1.fsection = x2.fsection, x1.factive = x2.factive, "
           "x1.fclosed = x2.fclosed where x1.fcollcode = x2.fcollcode and x1.fdegree = x2.fdegree "
           "and "
           "x1.fexamno = x2.fexamno and x1.fadmno = x2.fadmno and x1.fyear = x2.fyear and "
           "x1.fexamtype = x2.fexamtype",
       .variant = StagingVariant::DropAfter},

      {.sourceQuery =
           "select * from studsub order by fcollcode, fdegree, fexamno, fsubcode, fadmno",
       .exportFileName = "STUDSUB.csv",
       .tableName = "studsub",
       .columnList =
           "fcollcode, fdegree, fexamno, fsubcode, fadmno, fpass, fpassmth, fmarks, fremarks, "
           "fdeleted",
       .fields = {F::source("fcollcode"), F::source("fdegree"), F::source("fexamno"),
                  F::source("fsubcode"), F::source("fadmno"), F::source("fpass"),
                  F::source("fpassmth"), F::source("fmarks"), F::source("fremarks"), F::fixed("F")},
       .mergeUpdate =
           "update studsub x1, tmpstudsub x2 set x1.fpass = x2.fpass, x1.fpassmth = x2.fpassmth, "
           "x1.fmarks = x2.fmarks, x1.fremarks = x2.fremarks where x1.fcollcode = x2.fcollcode and "
           "x1.fdegree = x2.fdegree and x1.fexamno = x2.fexamno and x1.fsubcode = x2.fsubcode and "
           "x1.fadmno = x2.fadmno",
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
