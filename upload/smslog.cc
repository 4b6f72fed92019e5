// The SMS log: text messages sent successfully and not uploaded before, at
// most 9999 of the newest per cycle, loaded into a staging table, added to
// the remote smslog where it holds no such row yet (never updated), and
// then marked uploaded locally. Every field
// of the export file is enclosed in double quotes; the load names the same
// enclosure, escape and line terminator as the writer, so a quote, a "|" or
// a line break inside a message cannot shift or swallow lines. Rows are
// marked only after the load went through; a row without fguid cannot be
// marked and is sent again in every cycle (and not added again). #tmpsmslog stays with the local
// connection for the next cycle's leftover recovery.
#include <string>
#include <vector>

#include "base/file_names.h"
#include "base/text.h"
#include "db/load_statement.h"
#include "upload/clean_string.h"
#include "upload/export_row.h"
#include "upload/export_writer.h"
#include "upload/mirror_catalog.h"
#include "upload/mirror_description.h"
#include "upload/mirror_table.h"
#include "upload/table_stages.h"

namespace agent {

namespace {

using F = ExportField;

constexpr const char* kDueMessages =
    "select top 9999 * into #tmpsmslog from smslog where fstatus = 'success' and fupload is null "
    "order by fdate desc";

constexpr const char* kMarkUploaded =
    "update smslog set fupload = 'T' from #tmpsmslog where smslog.fguid = #tmpsmslog.fguid and "
    "isnull(smslog.fguid,'') <> '' and smslog.fupload is null";

constexpr ExportFormat kSmsFormat{'|', '"'};

// The message (cleaned) and the degree ("." when empty) are finished by
// the stage after the conversions.
constexpr std::size_t kMessageField = 3;
constexpr std::size_t kDegreeField = 8;
constexpr const char* kNoDegree = ".";

const MirrorDescription& smslogDescription() {
  static const MirrorDescription kDescription = {
      .sourceQuery = "select * from #tmpsmslog order by fdate, fmobileno",
      .exportFileName = "UPSMS.csv",
      .tableName = "smslog",
      .columns = {{"fdate", F::source("fdate", Conversion::Date)},
                  {"ftime", F::source("ftime")},
                  {"fusername", F::source("fusername")},
                  {"fmessage", F::source("fmessage")},
                  {"fstatus", F::source("fstatus")},
                  {"fguid", F::source("fguid")},
                  {"fscreentype", F::source("fscreentype")},
                  {"fadmno", F::source("fadmno")},
                  {"fdegree", F::source("fdegree")},
                  {"fmobile", F::source("fmobileno")},
                  {"fdeleted", F::fixed("F")}},
      .variant = StagingVariant::DropAfter};
  return kDescription;
}

// Writes every row of rows as one enclosed line of the export file.
std::size_t exportMessages(CycleContext& ctx, Recordset& rows, const MirrorTable& table) {
  ExportRow row(smslogDescription(), rows, ctx.config.regional);
  ExportFile file(table.exportPath(), ctx.portal.exportCodePage, kSmsFormat);
  std::vector<std::string> fields;
  for (; !rows.eof(); rows.moveNext()) {
    std::span<const std::string> texts = row.build();
    fields.assign(texts.begin(), texts.end());
    fields[kMessageField] = cleanString(fields[kMessageField]);
    if (fields[kDegreeField].empty()) fields[kDegreeField] = kNoDegree;
    file.writeLine(fields);
    ctx.rowDone();
  }
  file.close();
  handOverExport(ctx, "smslog", file);
  return file.linesWritten();
}

// The staged messages the portal does not hold yet. A cycle that ended
// after the portal took its messages but before they were marked locally
// (a kill, a lost connection) sends them again; a message is added only
// when no row holds the same value in every column (NULL as a value: the
// portal's unique key lets rows with a NULL through).
std::string newMessagesInsert(const MirrorDescription& description) {
  std::string same;
  for (const MirrorColumn& column : description.columns) {
    const std::string& c = column.name;
    same += (same.empty() ? "" : " and ") + ("t." + c + " <=> s." + c);
  }
  std::string columns = description.columnList();
  std::string sourceColumns = "s." + replaceAll(columns, ", ", ", s.");
  return "insert ignore into " + description.tableName + " (" + columns + ") select " +
         sourceColumns + " from " + description.stagingTable() + " s where not exists (select 1 " +
         "from " + description.tableName + " t where " + same + ")";
}

}  // namespace

std::span<const MirrorDescription> smsLogDescriptions() {
  return {&smslogDescription(), 1};
}

std::size_t uploadSmsLog(CycleContext& ctx) {
  ctx.local.execute(kDueMessages);

  MirrorTable table(ctx, smslogDescription());
  std::size_t rows;
  {
    std::unique_ptr<Recordset> source = table.openSource();
    if (hasNoRows(*source)) return 0;
    rows = exportMessages(ctx, *source, table);
  }

  // Each unit may be sent again after a cluster node refused it: the
  // staging table is made afresh before its load, and the insert takes
  // only messages the portal does not hold yet.
  const MirrorDescription& description = smslogDescription();
  const MergePlan& plan = table.plan();
  table.sendRemote(
      {{.statements = {plan.stagingDrop(), plan.stagingCreate(),
                       ctx.remote.loadStatement({table.exportPath(), description.stagingTable(),
                                                 description.columnList(), kSmsFormat,
                                                 ctx.portal.backslashEscapes})},
        .staging = true},
       singleStep(newMessagesInsert(description)),
       singleStep(plan.stagingDrop())});
  ctx.local.execute(kMarkUploaded);
  return rows;
}

}  // namespace agent
