// The table mirror procedure.
#include "upload/mirror_table.h"

#include "upload/export_row.h"
#include "upload/export_writer.h"
#include "upload/load_statement.h"

namespace agent {

MirrorTable::MirrorTable(CycleContext& ctx, const MirrorDescription& description)
    : ctx_(ctx),
      description_(description),
      exportPath_(ctx.csvFolder() / description.exportFileName) {}

void MirrorTable::setStatementsAfterMerge(std::vector<std::string> statements) {
  afterMerge_ = std::move(statements);
}

std::unique_ptr<Recordset> MirrorTable::openSource() const {
  return ctx_.local.query(description_.sourceQuery, Cursor::Forward);
}

std::string MirrorTable::stagingDrop() const {
  return "drop table if exists " + description_.stagingTable();
}

std::string MirrorTable::stagingCreate() const {
  const char* create = description_.variant == StagingVariant::DropBefore
                           ? "create table "
                           : "create table if not exists ";
  return create + description_.stagingTable() + " like " + description_.tableName;
}

std::string MirrorTable::stagingLoad() const {
  return loadStatement(exportPath_.string(), description_.stagingTable(), description_.columnList);
}

std::string MirrorTable::insertLoad() const {
  return loadStatement(exportPath_.string(), description_.tableName, description_.columnList);
}

std::vector<std::string> MirrorTable::remoteStatements() const {
  std::vector<std::string> statements;
  if (description_.variant != StagingVariant::DropAfter) statements.push_back(stagingDrop());
  statements.push_back(stagingCreate());
  statements.push_back(stagingLoad());
  statements.push_back(mergeUpdate());
  statements.insert(statements.end(), afterMerge_.begin(), afterMerge_.end());
  statements.push_back(insertLoad());
  if (description_.variant != StagingVariant::DropBefore) statements.push_back(stagingDrop());
  return statements;
}

void MirrorTable::sendRemote(const std::vector<std::string>& statements) const {
  for (const std::string& sql : statements) ctx_.remote.execute(sql);
}

std::size_t MirrorTable::run() {
  std::size_t rows;
  {
    std::unique_ptr<Recordset> source = openSource();
    if (hasNoRows(*source)) return 0;
    rows = exportRows(*source, {this});
  }
  sendRemote(remoteStatements());
  return rows;
}

std::size_t MirrorTable::exportRows(Recordset& rows,
                                    std::initializer_list<const MirrorTable*> tables) {
  struct Output {
    const MirrorTable* table;
    ExportRow row;
    ExportFile file;
  };
  std::vector<std::unique_ptr<Output>> outputs;
  for (const MirrorTable* table : tables) {
    const RegionalSettings& regional = table->ctx_.config.regional;
    outputs.push_back(std::unique_ptr<Output>(
        new Output{table, ExportRow(table->description_, rows, regional),
                   ExportFile(table->exportPath_, table->ctx_.config.exportCodePage)}));
  }
  std::size_t written = 0;
  for (; !rows.eof(); rows.moveNext()) {
    for (auto& out : outputs) out->file.writeLine(out->row.build());
    ++written;
  }
  for (auto& out : outputs) {
    out->file.close();
    noteReplacedCharacters(out->table->ctx_.journal, out->table->description_.tableName, out->file);
  }
  return written;
}

std::size_t mirrorTable(CycleContext& ctx, std::span<const MirrorDescription> group,
                        std::string_view table) {
  return MirrorTable(ctx, findMirrorDescription(group, table)).run();
}

void noteReplacedCharacters(Journal& journal, std::string_view table, const ExportFile& file) {
  if (std::size_t replaced = file.replacedCharacters(); replaced > 0) {
    journal.warning(std::string(table) + ": " + std::to_string(replaced) +
                    " character(s) the export code page cannot hold were written as \"?\"");
  }
}

}  // namespace agent
