// The table mirror procedure.
#include "upload/mirror_table.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <thread>

#include <fmt/format.h>

#include "base/file_names.h"
#include "cycle/server_warnings.h"
#include "db/remote_literal.h"
#include "upload/change_state.h"
#include "upload/export_row.h"
#include "upload/export_writer.h"
#include "upload/load_statement.h"
#include "upload/statement_thread.h"

namespace agent {

MirrorTable::MirrorTable(CycleContext& ctx, const MirrorDescription& description)
    : ctx_(ctx),
      description_(description),
      exportPath_(ctx.csvFolder() / description.exportFileName),
      source_(&ctx.local) {}

void MirrorTable::setStatementsAfterMerge(std::vector<std::string> statements) {
  afterMerge_ = std::move(statements);
}

void MirrorTable::setSweep(Sweep sweep) {
  sweep_ = std::move(sweep);
}

void MirrorTable::setChangeKey(std::vector<std::size_t> fields) {
  changeKey_ = std::move(fields);
}

void MirrorTable::setOwnStatements(std::vector<std::string> statements) {
  ownStatements_ = std::move(statements);
}

std::unique_ptr<Recordset> MirrorTable::openSource() const {
  // Under change detection a full run reads in stored order too: it is
  // the first cycle's longest export, and the order changes nothing
  // remotely. Without change detection the table is read as it always was.
  bool storedOrder = changes_ && !description_.changesSourceQuery.empty();
  return source_->query(storedOrder ? description_.changesSourceQuery : description_.sourceQuery,
                        Cursor::Forward);
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
  return loadStatement(ctx_.remote.localFileName(exportPath_), description_.stagingTable(),
                       description_.columnList(), {}, ctx_.remoteBackslashEscapes);
}

std::string MirrorTable::insertLoad() const {
  return loadStatement(ctx_.remote.localFileName(exportPath_), description_.tableName,
                       description_.columnList(), {}, ctx_.remoteBackslashEscapes);
}

void MirrorTable::appendStagedMerge(std::vector<std::string>& statements) const {
  statements.push_back(stagingDrop());
  statements.push_back(stagingCreate());
  statements.push_back(stagingLoad());
  statements.push_back(mergeUpdate());
  statements.insert(statements.end(), afterMerge_.begin(), afterMerge_.end());
}

std::vector<std::string> MirrorTable::remoteStatements() const {
  if (ownStatements_) return *ownStatements_;
  // Every variant starts from an empty staging table: nothing left by an
  // interrupted cycle is merged.
  std::vector<std::string> statements;
  appendStagedMerge(statements);
  if (sweep_) {
    statements.push_back(sweep_->sweep);
    statements.push_back(sweep_->clearMarks);
  }
  statements.push_back(insertLoad());
  if (description_.variant != StagingVariant::DropBefore) statements.push_back(stagingDrop());
  return statements;
}

void MirrorTable::sendRemote(const std::vector<std::string>& statements) const {
  if (!statements.empty() && ctx_.waitingForServer) ctx_.waitingForServer();
  for (const std::string& sql : statements) ctx_.remote.execute(sql);
}

void MirrorTable::setComputedSource(std::string fingerprint, std::function<std::string()> make) {
  sources_ = std::move(fingerprint);
  makeSource_ = std::move(make);
}

void MirrorTable::makeSource() {
  if (!makeSource_) return;
  sources_ = makeSource_();
  makeSource_ = nullptr;
}

bool MirrorTable::keepsStoredLines() const {
  return changes_ && !changes_->full && !sources_.empty() && changes_->known &&
         changes_->known->sources == sources_;
}

void MirrorTable::runStoredLines() {
  Changes& c = *changes_;
  c.storedLinesStand = true;
  beginChanges({this});
  c.read = ctx_.changes->offerStoredUnchanged(description_.tableName);
  sendRemote(runStatements());
  finishChanges();
}

std::size_t MirrorTable::run() {
  if (!prepareChanges()) {
    makeSource();
    return runFull();
  }
  if (keepsStoredLines()) {
    runStoredLines();
    return 0;
  }
  makeSource();
  // A changes-only run knows its statements once the file is written.
  std::vector<std::string> statements;
  {
    std::unique_ptr<Recordset> source = openSource();
    if (hasNoRows(*source)) return 0;
    beginChanges({this});
    if (changes_->full) {
      statements = remoteStatements();
      exportFull(*source, statements);
    } else {
      exportRows(*source, {this});
      statements = runStatements();
    }
  }
  sendRemote(statements);
  finishChanges();
  return changes_->sent;
}

std::size_t MirrorTable::runFull() {
  std::size_t rows;
  std::vector<std::string> statements = remoteStatements();
  {
    std::unique_ptr<Recordset> source = openSource();
    if (hasNoRows(*source)) return 0;
    rows = exportFull(*source, statements);
  }
  sendRemote(statements);
  return rows;
}

std::size_t MirrorTable::exportFull(Recordset& source, std::vector<std::string>& statements) {
  // A table with statements of its own has no staging load to overlap.
  if (ownStatements_ || !ctx_.remote.streamsLocalFiles()) return exportRows(source, {this});
  std::vector<std::string> staging = takeStaging(statements);
  return exportRows(source, {this}, &staging);
}

std::vector<std::string> MirrorTable::takeStaging(std::vector<std::string>& statements) {
  auto loaded = statements.begin() + 3;  // staging drop, create, load
  std::vector<std::string> staging(statements.begin(), loaded);
  statements.erase(statements.begin(), loaded);
  return staging;
}

namespace {

// The rows from which a full run has its stamp settled after the last stage.
constexpr std::size_t kSettleStampRows = 10000;

struct RemoteStamp {
  std::string time;      // the remote table's last-change time; empty: none
  bool settled = false;  // the server's clock had moved past it
  int millisecond = 0;   // of the server's clock when read
};

RemoteStamp readRemoteStamp(Connection& remote, const std::string& table) {
  // InnoDB keeps per table the time of the last transaction that changed
  // it (to the second; NULL after a server restart or once the table left
  // the dictionary cache). A stamp read when the server's clock has moved
  // past it is settled: any later change gives a later time.
  std::unique_ptr<Recordset> rs = remote.query(
      "select ifnull(date_format(update_time, '%Y-%m-%d %H:%i:%s'), ''), "
      "ifnull(update_time < now(), 0), microsecond(now(6)) div 1000 from "
      "information_schema.tables where table_schema = "
      "database() and table_name = '" +
          table + "'",
      Cursor::Forward);
  RemoteStamp stamp;
  if (rs->eof()) return stamp;
  stamp.time = rs->field(0).textValue();
  const Value& settled = rs->field(1);
  stamp.settled = !stamp.time.empty() &&
                  (settled.isNumber() ? settled.numberValue() != 0 : settled.textValue() == "1");
  const Value& ms = rs->field(2);
  stamp.millisecond = std::clamp(
      static_cast<int>(ms.isNumber() ? ms.numberValue() : std::atoi(ms.textValue().c_str())), 0,
      999);
  return stamp;
}

struct RemoteCount {
  long long rows = -1;
  long long marked = 0;  // rows whose mark column is not NULL (tables with a sweep)
};

RemoteCount countRemoteRows(Connection& remote, const std::string& table,
                            const std::string& markColumn) {
  // A table with file marks counts its marked rows in the same pass: a
  // clear is only needed when there are any.
  std::string sql = "select count(*), " +
                    (markColumn.empty() ? std::string("0") : "count(" + markColumn + ")") +
                    " from " + table;
  std::unique_ptr<Recordset> rs = remote.query(sql, Cursor::Forward);
  RemoteCount count;
  if (rs->eof()) return count;
  auto number = [](const Value& v) {
    return v.isNumber() ? static_cast<long long>(v.numberValue())
                        : std::atoll(v.textValue().c_str());
  };
  count.rows = number(rs->field(0));
  count.marked = number(rs->field(1));
  return count;
}

// After a full run the rows were counted, but the stamp read with them
// named the second of the run's own statements, which vouches for nothing.
// After the last stage, once the server's clock has left that second (one
// wait serves every table), a settled stamp is read and the rows counted
// again; the stamp is recorded only when the count is still the recorded
// one, so the next cycle can skip the count.
void settleStampAfterLastStage(CycleContext& ctx, std::string table, std::string markColumn,
                               long long expectedRows) {
  ctx.afterLastStage.push_back([&remote = ctx.remote, &journal = ctx.journal, changes = ctx.changes,
                                table = std::move(table), markColumn = std::move(markColumn),
                                expectedRows] {
    try {
      RemoteStamp stamp = readRemoteStamp(remote, table);
      if (!stamp.settled && !stamp.time.empty()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1000 - stamp.millisecond));
        stamp = readRemoteStamp(remote, table);
      }
      if (!stamp.settled) return;
      if (countRemoteRows(remote, table, markColumn).rows != expectedRows) return;
      changes->recordStamp(table, stamp.time, expectedRows);
    } catch (const AgentError& e) {
      // Without a stamp the next cycle counts the rows: nothing is lost.
      journal.warning(
          fmt::format("{}: last-change stamp not recorded: {}", table, e.description()));
    }
  });
}

}  // namespace

std::vector<std::string> MirrorTable::deletesByKey(
    const std::vector<std::string>& rawKeys, const std::vector<std::size_t>& keyFields) const {
  std::vector<std::string> statements;
  if (rawKeys.empty()) return statements;
  std::vector<std::string> names;
  for (std::size_t f : keyFields) names.push_back(description_.columns[f].name);
  std::string head = "delete from " + description_.tableName + " where (";
  for (std::size_t i = 0; i < names.size(); ++i) head += (i > 0 ? ", " : "") + names[i];
  head += ") in (";
  constexpr std::size_t kKeysPerStatement = 500;
  std::string sql;
  std::size_t inStatement = 0;
  for (const std::string& raw : rawKeys) {
    sql += inStatement == 0 ? head : std::string(", ");
    sql += "(";
    std::size_t start = 0;
    for (std::size_t i = 0; i < keyFields.size(); ++i) {
      std::size_t end = raw.find('\x1F', start);
      if (i > 0) sql += ", ";
      sql += remoteQuoted(std::string_view(raw).substr(start, end - start),
                          ctx_.remoteBackslashEscapes);
      start = end + 1;
    }
    sql += ")";
    if (++inStatement == kKeysPerStatement) {
      statements.push_back(sql + ")");
      sql.clear();
      inStatement = 0;
    }
  }
  if (inStatement > 0) statements.push_back(sql + ")");
  return statements;
}

bool MirrorTable::prepareChanges() {
  changes_.reset();
  if (ctx_.changes == nullptr) return false;
  std::optional<std::vector<std::size_t>> key = changeKey_ ? changeKey_ : description_.keyFields();
  if (!key) return false;
  Changes& c = changes_.emplace();
  c.keyFields = std::move(*key);
  c.changedBefore = valuesChangedByPortal();
  // Ages run on the steady clock: a clock set back or forward while the
  // agent runs neither ages a full merge nor makes it younger.
  c.now = ctx_.clock.steadyEpochSeconds();
  c.known = ctx_.changes->table(description_.tableName);
  if (!c.known) {
    c.fullBecause = "no state of it";
  } else if (!c.known->finished) {
    c.fullBecause = "its last run did not finish";
  } else if (c.now < c.known->lastFullSeconds) {
    // Stamped by an earlier run of the agent while the clock was ahead of
    // today's (or set back since): its age is unknown, and a full merge
    // starts the count again.
    c.fullBecause = "the clock is behind its last full merge (set back since?)";
  } else if (c.now - c.known->lastFullSeconds >= ctx_.config.fullEveryHours * 3600LL) {
    c.fullBecause = fmt::format("last full merge over {} h ago", ctx_.config.fullEveryHours);
  } else {
    // The remote table must still hold what the state expects. Counting
    // its rows reads every one of them (InnoDB keeps no row count), so the
    // count is skipped while the table's last-change stamp is the one
    // recorded with the last count that matched and the server's clock had
    // moved past it when it was read: a change after that read gives
    // another stamp; one before it was in the count. A stamp read in the
    // second it names vouches for nothing (a later change in that second
    // gives the same one). Without a stamp (a restarted server, a table
    // no one changed since it was opened) or with another one, the rows
    // are counted.
    RemoteStamp stamp = readRemoteStamp(ctx_.remote, description_.tableName);
    const std::string& known = c.known->remoteStamp;
    if (stamp.settled && !known.empty() && known == stamp.time) {
      c.remoteRows = c.known->expectedRows;
      c.marksPresent = c.known->marksLeft;
      c.checkedStamp = stamp.time;
      c.countSkipped = true;
    } else if (RemoteCount count =
                   countRemoteRows(ctx_.remote, description_.tableName, markColumn());
               count.rows != c.known->expectedRows) {
      c.remoteRows = count.rows;
      c.fullBecause = fmt::format("the remote table holds {} rows, {} expected", count.rows,
                                  c.known->expectedRows);
    } else {
      c.remoteRows = count.rows;
      c.marksPresent = count.marked != 0;
      // Read before the count: a change after it gives another stamp.
      if (stamp.settled) c.checkedStamp = stamp.time;
    }
  }
  c.full = !c.fullBecause.empty();
  return true;
}

void MirrorTable::beginChanges(std::initializer_list<MirrorTable*> tables) {
  for (MirrorTable* t : tables) {
    if (t->changes_) t->ctx_.changes->markStarted(t->description_.tableName);
  }
  for (MirrorTable* t : tables) {
    if (t->changes_) {
      t->ctx_.changes->begin(t->description_.tableName, t->changes_->full, t->sweep_.has_value());
    }
  }
}

bool MirrorTable::offerLine(std::span<const std::string> fields) {
  if (!changes_) return true;
  take(fields, changes_->line);
  return decide(changes_->line);
}

void MirrorTable::take(std::span<const std::string> fields, TakenLine& line) {
  if (!changes_) return;
  const Changes& c = *changes_;
  line.raw.clear();
  for (std::size_t i = 0; i < c.keyFields.size(); ++i) {
    if (i > 0) line.raw += '\x1F';
    line.raw += fields[c.keyFields[i]];
  }
  line.keyHash = keyHash(line.raw);
  ctx_.changes->prefetch(description_.tableName, line.keyHash);
  line.digest = lineDigest(fields);
}

bool MirrorTable::decide(const TakenLine& line) {
  if (!changes_) return true;
  Changes& c = *changes_;
  ++c.read;
  ChangeState::Offer offer =
      ctx_.changes->offer(description_.tableName, line.keyHash, line.raw, line.digest);
  if (offer == ChangeState::Offer::SendNew) ++c.newKeys;
  // A full merge writes every line, repeated keys too, as it always did.
  bool send =
      c.full || offer == ChangeState::Offer::SendNew || offer == ChangeState::Offer::SendChanged;
  if (send) ++c.sent;
  return send;
}

bool MirrorTable::sendsFile() const {
  return runsFull() || changes_->sent > 0;
}

std::vector<std::string> MirrorTable::runStatements() {
  if (!changes_ || changes_->full) return remoteStatements();
  Changes& c = *changes_;
  std::vector<std::string> statements;
  if (ownStatements_) {
    if (c.sent > 0) statements = *ownStatements_;
    c.sendsStatements = !statements.empty();
    return statements;
  }
  if (c.sent > 0) appendStagedMerge(statements);
  if (sweep_) {
    c.vanished = ctx_.changes->vanishedKeys(description_.tableName);
    std::vector<std::string> deletes = deletesByKey(c.vanished, c.keyFields);
    statements.insert(statements.end(), deletes.begin(), deletes.end());
    // The full cycle's clear changes rows whenever there are marks: those
    // of this merge, or of rows the last run inserted.
    if (c.sent > 0 || c.marksPresent) statements.push_back(sweep_->clearMarks);
  }
  if (c.sent > 0) {
    statements.push_back(insertLoad());
    if (description_.variant != StagingVariant::DropBefore) statements.push_back(stagingDrop());
  }
  c.sendsStatements = !statements.empty();
  return statements;
}

std::size_t MirrorTable::valuesChangedByPortal() const {
  return ctx_.serverWarnings != nullptr ? ctx_.serverWarnings->changedValues(description_.tableName)
                                        : 0;
}

void MirrorTable::finishChanges() {
  if (!changes_) return;
  Changes& c = *changes_;
  const std::string& table = description_.tableName;
  if (valuesChangedByPortal() != c.changedBefore) {
    // The portal holds values unlike the lines this run would record: the
    // state does not vouch for them, and once the portal's column is
    // widened the next full merge puts them right.
    ctx_.changes->abandon(table);
    ctx_.journal.warning(fmt::format(
        "{}: the portal's server changed values of it; change detection does not vouch for it, "
        "the next cycle merges it in full",
        table));
    return;
  }
  ChangeState::TableState next;
  next.sources = sources_;
  bool settleLater = false;
  if (c.full) {
    // A full run counts the remote rows after its statements; a settled
    // stamp read just before that count vouches for it. A stamp of the
    // run's own second is settled after the last stage for a large table
    // (whose count the next cycle would otherwise repeat).
    RemoteStamp stamp = readRemoteStamp(ctx_.remote, table);
    if (stamp.settled) next.remoteStamp = stamp.time;
    settleLater = !stamp.settled && !stamp.time.empty() && c.read >= kSettleStampRows;
  } else if (!c.sendsStatements) {
    next.remoteStamp = c.checkedStamp;
  }
  // A changes-only run that sent statements records no stamp: its expected
  // row count is computed, not counted, so the next run counts.
  if (c.full) {
    next.lastFullSeconds = c.now;
    next.expectedRows = countRemoteRows(ctx_.remote, table, markColumn()).rows;
    // Rows the insert load added carry the file's mark until a clear.
    next.marksLeft = sweep_.has_value();
  } else {
    next.lastFullSeconds = c.known->lastFullSeconds;
    next.expectedRows = c.remoteRows + static_cast<long long>(c.newKeys) -
                        static_cast<long long>(c.vanished.size());
    next.marksLeft = sweep_.has_value() && c.newKeys > 0;
  }
  ctx_.changes->commit(table, next, !c.vanished.empty());
  if (settleLater) settleStampAfterLastStage(ctx_, table, markColumn(), next.expectedRows);
  if (c.full) {
    ctx_.journal.info(
        fmt::format("{}: full merge ({}), {} rows sent", table, c.fullBecause, c.sent));
  } else {
    ctx_.journal.info(fmt::format(
        "{}: changes only, {} of {} rows sent, {} deleted{}{}", table, c.sent, c.read,
        c.vanished.size(), c.countSkipped ? " (remote table unchanged since the last run)" : "",
        c.storedLinesStand ? " (its local sources unchanged: nothing read)" : ""));
  }
}

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
                   ExportFile(table->exportPath_, table->ctx_.exportCodePage),
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
  load_.emplace(table.ctx_.remote, staging, growing);
}

void MirrorTable::StagingStream::join() {
  if (load_) load_->join();
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
