// Running one table's mirror: the source query, the export file, the
// remote statements, with change detection when the cycle has it.
#include "upload/mirror_table.h"

#include "cycle/conflict_retry.h"
#include "upload/export_writer.h"

namespace agent {

MirrorTable::MirrorTable(CycleContext& ctx, const MirrorDescription& description)
    : ctx_(ctx),
      description_(description),
      exportPath_(ctx.csvFolder() / description.exportFileName),
      plan_(ctx, description, exportPath_),
      source_(&ctx.local) {}

void MirrorTable::setStatementsAfterMerge(std::vector<std::string> statements) {
  plan_.setStatementsAfterMerge(std::move(statements));
}

void MirrorTable::setSweep(Sweep sweep) {
  plan_.setSweep(std::move(sweep));
}

void MirrorTable::setChangeKey(std::vector<std::size_t> fields) {
  changeKey_ = std::move(fields);
}

void MirrorTable::setOwnStatements(RemoteSteps steps) {
  plan_.setOwnStatements(std::move(steps));
}

std::unique_ptr<Recordset> MirrorTable::openSource() const {
  // Under change detection a full run reads in stored order too: it is
  // the first cycle's longest export, and the order changes nothing
  // remotely. Without change detection the table is read as it always was.
  bool storedOrder = changes_ && !description_.changesSourceQuery.empty();
  return source_->query(storedOrder ? description_.changesSourceQuery : description_.sourceQuery,
                        Cursor::Forward);
}

void MirrorTable::sendRemote(const RemoteSteps& steps) const {
  if (!steps.empty() && ctx_.turn.waitingForServer) ctx_.turn.waitingForServer();
  // Every unit here may be sent again after a cluster node refused it: the
  // staging table's drop, create and load start it afresh, and the merge's
  // update, insert of missing keys, sweep and deletes by key leave the same
  // rows however often they run.
  for (const RemoteStep& step : steps) {
    runRetryingRefusals(ctx_, description_.tableName + (step.staging ? " staging" : " merge"), [&] {
      for (const std::string& sql : step.statements) ctx_.remote.execute(sql);
    });
  }
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
  return changes_ && changes_->knowsSources(sources_);
}

void MirrorTable::runStoredLines() {
  changes_->markStarted();
  changes_->begin();
  changes_->offerStoredLines();
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
  RemoteSteps statements;
  {
    std::unique_ptr<Recordset> source = openSource();
    if (hasNoRows(*source)) return 0;
    beginChanges({this});
    if (changes_->full()) {
      statements = plan_.fullStatements();
      exportFull(*source, statements);
    } else {
      exportRows(*source, {this});
      statements = runStatements();
    }
  }
  sendRemote(statements);
  finishChanges();
  return changes_->sent();
}

std::size_t MirrorTable::runFull() {
  std::size_t rows;
  RemoteSteps statements = plan_.fullStatements();
  {
    std::unique_ptr<Recordset> source = openSource();
    if (hasNoRows(*source)) return 0;
    rows = exportFull(*source, statements);
  }
  sendRemote(statements);
  return rows;
}

std::size_t MirrorTable::exportFull(Recordset& source, RemoteSteps& statements) {
  // A table with statements of its own has no staging load to overlap.
  if (plan_.hasOwnStatements() || !ctx_.remote.streamsLocalFiles())
    return exportRows(source, {this});
  std::vector<std::string> staging = MergePlan::takeStaging(statements);
  return exportRows(source, {this}, &staging);
}

bool MirrorTable::prepareChanges() {
  changes_.reset();
  if (ctx_.changes.state == nullptr) return false;
  std::optional<std::vector<std::size_t>> key = changeKey_ ? changeKey_ : description_.keyFields();
  if (!key) return false;
  changes_.emplace(ctx_, description_, std::move(*key), plan_.markColumn(), plan_.sweeps());
  changes_->prepare();
  return true;
}

void MirrorTable::beginChanges(std::initializer_list<MirrorTable*> tables) {
  for (MirrorTable* t : tables) {
    if (t->changes_) t->changes_->markStarted();
  }
  for (MirrorTable* t : tables) {
    if (t->changes_) t->changes_->begin();
  }
}

bool MirrorTable::offerLine(std::span<const std::string> fields) {
  if (!changes_) return true;
  changes_->take(fields, offered_);
  return changes_->decide(offered_);
}

void MirrorTable::take(std::span<const std::string> fields, TakenLine& line) {
  if (changes_) changes_->take(fields, line);
}

bool MirrorTable::decide(const TakenLine& line) {
  return !changes_ || changes_->decide(line);
}

bool MirrorTable::sendsFile() const {
  return runsFull() || changes_->sent() > 0;
}

RemoteSteps MirrorTable::runStatements() {
  if (!changes_ || changes_->full()) return plan_.fullStatements();
  static const std::vector<std::string> kNoKeys;
  const std::vector<std::string>& vanished =
      plan_.sweeps() && !plan_.hasOwnStatements() ? changes_->vanishedKeys() : kNoKeys;
  RemoteSteps statements = plan_.changesOnlyStatements(
      changes_->sent() > 0, vanished, changes_->keyFields(), changes_->marksPresent());
  changes_->noteStatements(!statements.empty());
  return statements;
}

void MirrorTable::finishChanges() {
  if (changes_) changes_->commit(sources_);
}

}  // namespace agent
