// The staff and hostel tables: employees, hostels, room types (published as
// hostroomtype) and rooms. An existing employee keeps the fdesignation it
// was first loaded with; no merge update sets fdeleted.
#include "upload/mirror_description.h"
#include "upload/mirror_table.h"
#include "upload/table_stages.h"

namespace agent {

namespace {

using F = ExportField;

}  // namespace

std::span<const MirrorDescription> staffAndHostelDescriptions() {
  static const std::vector<MirrorDescription> kDescriptions = {
      {.sourceQuery = "select * from masemp order by fempcode",
       .exportFileName = "UPMASEMP.csv",
       .tableName = "masemp",
       .columnList = "fempcode, fempname, fmobile, femail, fdesignation, fdeleted",
       .fields = {F::source("fempcode"), F::source("fempname"), F::source("fmobile"),
                  F::source("femail"), F::source("fdegncode"), F::fixed("F")},
       .mergeUpdate =
           "update masemp x, tmpmasemp y set x.fempname = y.fempname, x.fmobile = y.fmobile, "
           "x.femail = y.femail where x.fempcode = y.fempcode",
       .variant = StagingVariant::DropBoth},

      {.sourceQuery = "select * from hosthead order by fhostcode",
       .exportFileName = "uphosthead.csv",
       .tableName = "hosthead",
       .columnList = "fhostcode, fhostname, ffloors, frooms, forder, fdeleted",
       .fields = {F::source("fhostcode"), F::source("fhostname"), F::source("ffloors"),
                  F::source("frooms"), F::source("forder"), F::fixed("F")},
       .mergeUpdate =
           "update hosthead x, tmphosthead y set x.fhostname = y.fhostname, x.ffloors = y.ffloors, "
           "x.frooms = y.frooms, x.forder = y.forder where x.fhostcode = y.fhostcode",
       .variant = StagingVariant::DropBoth},

      {.sourceQuery = "select * from roomtype order by froomtype",
       .exportFileName = "uproomtype.csv",
       .tableName = "hostroomtype",
       .columnList = "froomtype, fdescpn, forder, fdeleted",
       .fields = {F::source("froomtype"), F::source("fdescpn"), F::source("forder"), F::fixed("F")},
       .mergeUpdate = "update hostroomtype x, tmphostroomtype y set x.fdescpn = y.fdescpn, "
                      "x.forder = y.forder "
                      "where x.froomtype = y.froomtype",
       .variant = StagingVariant::DropBoth},

      {.sourceQuery = "select * from hostrooms order by fhostcode, froomno",
       .exportFileName = "uphostrooms.csv",
       .tableName = "hostrooms",
       .columnList =
           "fhostcode, froomno, froomdesc, ffloorno, froomtype, fcapacity, ffee, forder, fdeleted",
       .fields = {F::source("fhostcode"), F::source("froomno"), F::source("froomdesc"),
                  F::source("ffloorno"), F::source("froomtype"), F::source("fcapacity"),
                  F::source("ffee"), F::source("forder"), F::fixed("F")},
       .mergeUpdate =
           "update hostrooms x, tmphostrooms y set x.froomdesc = y.froomdesc, x.ffloorno = "
           "y.ffloorno, x.froomtype = y.froomtype, x.fcapacity = y.fcapacity, x.ffee = y.ffee, "
           "x.forder = y.forder where x.fhostcode = y.fhostcode and x.froomno = y.froomno",
       .variant = StagingVariant::DropBoth},
  };
  return kDescriptions;
}

std::size_t uploadEmployees(CycleContext& ctx) {
  return mirrorTable(ctx, staffAndHostelDescriptions(), "masemp");
}
std::size_t uploadHostels(CycleContext& ctx) {
  return mirrorTable(ctx, staffAndHostelDescriptions(), "hosthead");
}
std::size_t uploadRoomTypes(CycleContext& ctx) {
  return mirrorTable(ctx, staffAndHostelDescriptions(), "hostroomtype");
}
std::size_t uploadRooms(CycleContext& ctx) {
  return mirrorTable(ctx, staffAndHostelDescriptions(), "hostrooms");
}

}  // namespace agent
