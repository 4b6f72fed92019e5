// Making a table's merge statements.
#include "upload/merge_plan.h"

#include <cassert>
#include <string_view>

#include "base/text.h"
#include "db/load_statement.h"
#include "db/remote_literal.h"

namespace agent {

RemoteStep singleStep(std::string sql) {
  RemoteStep step;
  step.statements.push_back(std::move(sql));
  return step;
}

RemoteSteps singleSteps(const std::vector<std::string>& statements) {
  RemoteSteps steps;
  for (const std::string& sql : statements) steps.push_back(singleStep(sql));
  return steps;
}

std::vector<std::string> statementsOf(const RemoteSteps& steps) {
  std::vector<std::string> statements;
  for (const RemoteStep& step : steps)
    statements.insert(statements.end(), step.statements.begin(), step.statements.end());
  return statements;
}

MergePlan::MergePlan(const CycleContext& ctx, const MirrorDescription& description,
                     std::filesystem::path exportPath)
    : ctx_(ctx), description_(description), exportPath_(std::move(exportPath)) {}

std::string MergePlan::stagingDrop() const {
  return "drop table if exists " + description_.stagingTable();
}

std::string MergePlan::stagingCreate() const {
  const bool ifNotExists = description_.variant != StagingVariant::DropBefore;
  // On a cluster node, the staging table of a portal table without a
  // primary key gets one of its own (a keyless table replicates badly), and
  // where the node requires keys (and so refuses LIKE) every staging table
  // is made from its table's definition.
  if (ctx_.portal.cluster.node) {
    auto definition =
        ctx_.portal.cluster.stagingDefinitions.find(toLowerAscii(description_.tableName));
    if (definition != ctx_.portal.cluster.stagingDefinitions.end()) {
      std::string create =
          stagingCreateFromDefinition(definition->second, description_.stagingTable(), ifNotExists);
      if (!create.empty()) return create;
    }
  }
  const char* create = ifNotExists ? "create table if not exists " : "create table ";
  return create + description_.stagingTable() + " like " + description_.tableName;
}

std::string MergePlan::loadInto(const std::string& table) const {
  return ctx_.remote.loadStatement(
      {exportPath_, table, description_.columnList(), {}, ctx_.portal.backslashEscapes});
}

std::string MergePlan::stagingLoad() const {
  return loadInto(description_.stagingTable());
}

std::string MergePlan::insertLoad() const {
  return loadInto(description_.tableName);
}

RemoteStep MergePlan::staging() const {
  return {.statements = {stagingDrop(), stagingCreate(), stagingLoad()}, .staging = true};
}

void MergePlan::appendStagedMerge(RemoteSteps& steps) const {
  steps.push_back(staging());
  steps.push_back(singleStep(mergeUpdate()));
  for (const std::string& sql : afterMerge_) steps.push_back(singleStep(sql));
}

RemoteSteps MergePlan::fullStatements() const {
  if (ownStatements_) return *ownStatements_;
  RemoteSteps steps;
  appendStagedMerge(steps);
  if (sweep_) {
    steps.push_back(singleStep(sweep_->sweep));
    steps.push_back(singleStep(sweep_->clearMarks));
  }
  steps.push_back(singleStep(insertLoad()));
  if (description_.variant != StagingVariant::DropBefore)
    steps.push_back(singleStep(stagingDrop()));
  return steps;
}

RemoteSteps MergePlan::changesOnlyStatements(bool wroteLines,
                                             const std::vector<std::string>& vanishedKeys,
                                             const std::vector<std::size_t>& keyFields,
                                             bool marksPresent) const {
  RemoteSteps steps;
  if (ownStatements_) {
    if (wroteLines) steps = *ownStatements_;
    return steps;
  }
  if (wroteLines) appendStagedMerge(steps);
  if (sweep_) {
    for (std::string& sql : deletesByKey(vanishedKeys, keyFields))
      steps.push_back(singleStep(std::move(sql)));
    // The full cycle's clear changes rows whenever there are marks: those
    // of this merge, or of rows the last run inserted.
    if (wroteLines || marksPresent) steps.push_back(singleStep(sweep_->clearMarks));
  }
  if (wroteLines) {
    steps.push_back(singleStep(insertLoad()));
    if (description_.variant != StagingVariant::DropBefore)
      steps.push_back(singleStep(stagingDrop()));
  }
  return steps;
}

std::vector<std::string> MergePlan::takeStaging(RemoteSteps& steps) {
  assert(!steps.empty() && steps.front().staging);
  std::vector<std::string> staging = std::move(steps.front().statements);
  steps.erase(steps.begin());
  return staging;
}

std::vector<std::string> MergePlan::deletesByKey(const std::vector<std::string>& rawKeys,
                                                 const std::vector<std::size_t>& keyFields) const {
  std::vector<std::string> statements;
  if (rawKeys.empty()) return statements;
  std::string head = "delete from " + description_.tableName + " where (";
  for (std::size_t i = 0; i < keyFields.size(); ++i)
    head += (i > 0 ? ", " : "") + description_.columns[keyFields[i]].name;
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
                          ctx_.portal.backslashEscapes);
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

}  // namespace agent
