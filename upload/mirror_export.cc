// The export pass: one pass over a source's rows writes a line of each
// table's file, with change detection deciding each line, and on a
// connection that streams local files the first table's staging load runs
// while its file is written.
#include <memory>

#include "cycle/conflict_retry.h"
#include "cycle/statement_watch.h"
#include "upload/export_row.h"
#include "upload/export_writer.h"
#include "upload/mirror_table.h"
#include "upload/statement_thread.h"

namespace agent {

std::size_t MirrorTable::exportRows(Recordset& rows, std::initializer_list<MirrorTable*> tables) {
  return exportRows(rows, tables, nullptr);
}

std::size_t MirrorTable::exportRows(Recordset& rows, std::initializer_list<MirrorTable*> tables,
                                    const std::vector<std::string>* staging) {
  // Each table's line is taken while the row is current and decided once
  // the next row's is taken, so that change detection's lookup of a line
  // finds its memory fetched: two export rows take turns, each holding its
  // texts until its next row.
  struct Output {
    MirrorTable* table;
    ExportRow rows[2];
    ExportFile file;
    std::span<const std::string> fields[2];
    MirrorTable::TakenLine lines[2];

    void finish(std::size_t turn) {
      if (table->decide(lines[turn])) file.writeLine(fields[turn]);
    }
  };
  // Made before the files, so that it is joined after they are gone.
  StagingStream stream;
  std::vector<std::unique_ptr<Output>> outputs;
  for (MirrorTable* table : tables) {
    const RegionalSettings& regional = table->ctx_.config.regional;
    outputs.push_back(std::unique_ptr<Output>(
        new Output{table,
                   {ExportRow(table->description_, rows, regional),
                    ExportRow(table->description_, rows, regional)},
                   ExportFile(table->exportPath_, table->ctx_.portal.exportCodePage),
                   {},
                   {}}));
  }
  if (staging != nullptr) stream.start(*outputs.front()->table, outputs.front()->file, *staging);
  std::size_t written = 0;
  try {
    for (; !rows.eof(); rows.moveNext()) {
      std::size_t turn = written % 2;
      for (auto& out : outputs) {
        out->fields[turn] = out->rows[turn].build();
        out->table->take(out->fields[turn], out->lines[turn]);
        if (written > 0) out->finish(1 - turn);
      }
      ++written;
      if (!outputs.empty()) outputs.front()->table->ctx_.rowDone();
    }
    if (written > 0) {
      for (auto& out : outputs) out->finish((written - 1) % 2);
    }
    for (auto& out : outputs) out->file.close();
  } catch (...) {
    if (stream.started()) {
      outputs.clear();
      stream.joinAfterExportFailed(tables.begin()[0]->ctx_);
    }
    throw;
  }
  for (auto& out : outputs) {
    handOverExport(out->table->ctx_, out->table->description_.tableName, out->file,
                   stream.started() && out == outputs.front());
  }
  stream.join();
  return written;
}

void MirrorTable::StagingStream::start(MirrorTable& table, ExportFile& file,
                                       const std::vector<std::string>& staging) {
  auto growing = std::make_shared<GrowingFile>();
  file.reportTo(growing);
  table.ctx_.remote.allowLocalFile({table.exportPath_, file.identity(), growing});
  ctx_ = &table.ctx_;
  table_ = table.description_.tableName;
  staging_ = staging;
  load_.emplace(table.ctx_.remote, staging, growing);
}

void MirrorTable::StagingStream::join() {
  if (!load_) return;
  try {
    load_->join();
  } catch (const AgentError& e) {
    // The journal belongs to the cycle's thread: a refusal met on the
    // load's thread is retried here, where the file is whole by now.
    if (!isClusterRefusal(e)) throw;
    runRetryingRefusals(
        *ctx_, table_ + " staging",
        [this] {
          for (const std::string& sql : staging_) ctx_->remote.execute(sql);
        },
        &e);
  }
}

void MirrorTable::StagingStream::joinAfterExportFailed(CycleContext& ctx) {
  if (!load_) return;
  load_->joinAfterExportFailed();
  if (ctx.watch != nullptr) ctx.watch->clearFailure();
}

std::size_t mirrorTable(CycleContext& ctx, std::span<const MirrorDescription> group,
                        std::string_view table) {
  return MirrorTable(ctx, findMirrorDescription(group, table)).run();
}

void handOverExport(CycleContext& ctx, std::string_view table, const ExportFile& file,
                    bool streamed) {
  if (!streamed) ctx.remote.allowLocalFile({file.path(), file.identity()});
  if (std::size_t replaced = file.replacedCharacters(); replaced > 0) {
    ctx.journal.warning(std::string(table) + ": " + std::to_string(replaced) +
                        " character(s) the export code page cannot hold were written as \"?\"");
  }
}

}  // namespace agent
