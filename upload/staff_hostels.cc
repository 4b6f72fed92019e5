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
       .columns = {{"fempcode", F::source("fempcode")},
                   {"fempname", F::source("fempname")},
                   {"fmobile", F::source("fmobile")},
                   {"femail", F::source("femail")},
                   {"fdesignation", F::source("fdegncode")},
                   {"fdeleted", F::fixed("F")}},
       .merge = MergeUpdate{.set = {{"fempname"}, {"fmobile"}, {"femail"}},
                            .key = {"fempcode"},
                            .aliases = MergeAliases::XY},
       .variant = StagingVariant::DropBoth},

      {.sourceQuery = "select * from hosthead order by fhostcode",
       .exportFileName = "uphosthead.csv",
       .tableName = "hosthead",
       .columns = {{"fhostcode", F::source("fhostcode")},
                   {"fhostname", F::source("fhostname")},
                   {"ffloors", F::source("ffloors")},
                   {"frooms", F::source("frooms")},
                   {"forder", F::source("forder")},
                   {"fdeleted", F::fixed("F")}},
       .merge = MergeUpdate{.set = {{"fhostname"}, {"ffloors"}, {"frooms"}, {"forder"}},
                            .key = {"fhostcode"},
                            .aliases = MergeAliases::XY},
       .variant = StagingVariant::DropBoth},

      {.sourceQuery = "select * from roomtype order by froomtype",
       .exportFileName = "uproomtype.csv",
       .tableName = "hostroomtype",
       .columns = {{"froomtype", F::source("froomtype")},
                   {"fdescpn", F::source("fdescpn")},
                   {"forder", F::source("forder")},
                   {"fdeleted", F::fixed("F")}},
       .merge =
           MergeUpdate{
               .set = {{"fdescpn"}, {"forder"}}, .key = {"froomtype"}, .aliases = MergeAliases::XY},
       .variant = StagingVariant::DropBoth},

      {.sourceQuery = "select * from hostrooms order by fhostcode, froomno",
       .exportFileName = "uphostrooms.csv",
       .tableName = "hostrooms",
       .columns = {{"fhostcode", F::source("fhostcode")},
                   {"froomno", F::source("froomno")},
                   {"froomdesc", F::source("froomdesc")},
                   {"ffloorno", F::source("ffloorno")},
                   {"froomtype", F::source("froomtype")},
                   {"fcapacity", F::source("fcapacity")},
                   {"ffee", F::source("ffee")},
                   {"forder", F::source("forder")},
                   {"fdeleted", F::fixed("F")}},
       .merge = MergeUpdate{.set = {{"froomdesc"},
                                    {"ffloorno"},
                                    {"froomtype"},
                                    {"fcapacity"},
                                    {"ffee"},
                                    {"forder"}},
                            .key = {"fhostcode", "froomno"},
                            .aliases = MergeAliases::XY},
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
