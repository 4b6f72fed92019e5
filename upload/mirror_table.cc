// The table mirror procedure.
#include "upload/mirror_table.h"

#include "upload/export_row.h"
#include "upload/export_writer.h"
#include "upload/load_statement.h"

namespace agent {

MirrorTable::MirrorTable(CycleContext& ctx, const MirrorSpec& spec)
    : ctx_(ctx), spec_(spec), exportPath_(ctx.csvFolder() / spec.exportFileName) {}

void MirrorTable::setStatementsAfterMerge(std::vector<std::string> statements) {
  afterMerge_ = std::move(statements);
}

std::unique_ptr<Recordset> MirrorTable::openSource() const {
  return ctx_.local.query(spec_.sourceQuery, Cursor::Forward);
}

std::string MirrorTable::stagingDrop() const {
  return "drop table if exists " + spec_.stagingTable();
}

std::string MirrorTable::stagingCreate() const {
  const char* create =
      spec_.variant == StagingVariant::DropBefore ? "create table " : "create table if not exists ";
  return create + spec_.stagingTable() + " like " + spec_.tableName;
}

std::string MirrorTable::stagingLoad() const {
  return loadStatement(exportPath_.string(), spec_.stagingTable(), spec_.columnList, {},
                       ctx_.remoteBackslashEscapes);
}

std::string MirrorTable::insertLoad() const {
  return loadStatement(exportPath_.string(), spec_.tableName, spec_.columnList, {},
                       ctx_.remoteBackslashEscapes);
}

std::vector<std::string> MirrorTable::remoteStatements() const {
  std::vector<std::string> statements;
  if (spec_.variant != StagingVariant::DropAfter) statements.push_back(stagingDrop());
  statements.push_back(stagingCreate());
  statements.push_back(stagingLoad());
  statements.push_back(mergeUpdate());
  statements.insert(statements.end(), afterMerge_.begin(), afterMerge_.end());
  statements.push_back(insertLoad());
  if (spec_.variant != StagingVariant::DropBefore) statements.push_back(stagingDrop());
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
        new Output{table, ExportRow(table->spec_, rows, regional),
                   ExportFile(table->exportPath_, table->ctx_.config.exportCodePage)}));
  }
  std::size_t written = 0;
  for (; !rows.eof(); rows.moveNext()) {
    for (auto& out : outputs) out->file.writeLine(out->row.build());
    ++written;
  }
  for (auto& out : outputs) {
    out->file.close();
    if (std::size_t replaced = out->file.replacedCharacters(); replaced > 0) {
      out->table->ctx_.journal.warning(out->table->spec_.tableName + ": " +
                                       std::to_string(replaced) +
                                       " character(s) the export code page cannot hold were "
                                       "written as \"?\"");
    }
  }
  return written;
}

}  // namespace agent
