// MergePlan: the statements that merge one table's export file into its
// remote table, made from the table's description: the staging table's
// drop, create and load, the merge update and what follows it, a sweep,
// the insert load, and the deletes by key of a changes-only run. It makes
// statements only, in units (RemoteStep) that MirrorTable sends.
#ifndef AGENT_UPLOAD_MERGE_PLAN_H_
#define AGENT_UPLOAD_MERGE_PLAN_H_

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "cycle/cycle_context.h"
#include "upload/mirror_description.h"

namespace agent {

// A mark-and-sweep around the merge: the merge update marks every row it
// matched, sweep deletes the unmarked rows (those the file no longer holds)
// and clearMarks clears the marks; both run between the merge update and
// the insert load, after the statements that follow the merge.
struct MergeSweep {
  std::string sweep;
  std::string clearMarks;
  std::string markColumn;  // NULL in a row that carries no mark
};

// Remote statements sent as one unit: after a cluster node refused one of
// them, the unit is sent again from its first statement.
struct RemoteStep {
  std::vector<std::string> statements;
  // A staging table's drop, create and load: the load runs again only
  // behind its drop and create, so that no row is loaded twice.
  bool staging = false;
};
using RemoteSteps = std::vector<RemoteStep>;

// A unit of one statement.
RemoteStep singleStep(std::string sql);
// Each statement a unit of its own, in order.
RemoteSteps singleSteps(const std::vector<std::string>& statements);
// The statements of steps, in order.
std::vector<std::string> statementsOf(const RemoteSteps& steps);

class MergePlan {
 public:
  // ctx and description must outlive this object. exportPath is the file
  // the loads read.
  MergePlan(const CycleContext& ctx, const MirrorDescription& description,
            std::filesystem::path exportPath);

  // Statements of the table's own, sent in order between the merge update
  // and the insert load.
  void setStatementsAfterMerge(std::vector<std::string> statements) {
    afterMerge_ = std::move(statements);
  }
  void setSweep(MergeSweep sweep) { sweep_ = std::move(sweep); }
  // A table that only gains rows: its whole statement list, in place of
  // the ordinary ones.
  void setOwnStatements(RemoteSteps steps) { ownStatements_ = std::move(steps); }
  bool hasOwnStatements() const { return ownStatements_.has_value(); }
  bool sweeps() const { return sweep_.has_value(); }
  // The sweep's mark column; empty without a sweep.
  std::string markColumn() const { return sweep_ ? sweep_->markColumn : std::string(); }

  std::string stagingDrop() const;
  std::string stagingCreate() const;
  // The loads name the file as the remote connection reads it, written for
  // the session's SQL mode at the time they are made.
  std::string stagingLoad() const;
  std::string mergeUpdate() const { return description_.mergeUpdate(); }
  std::string insertLoad() const;
  // The staging drop, create and load as one unit.
  RemoteStep staging() const;

  // Every statement of a full merge, in order (the table's own list when
  // it has one). Every variant starts from an empty staging table: nothing
  // left by an interrupted cycle is merged.
  RemoteSteps fullStatements() const;
  // The statements of a changes-only run: the staged merge and the insert
  // load when it wrote lines; with a sweep, deletes of the vanished keys
  // (raw keys as exported, fields joined by \x1F) and the clear of marks
  // when there are any.
  RemoteSteps changesOnlyStatements(bool wroteLines, const std::vector<std::string>& vanishedKeys,
                                    const std::vector<std::size_t>& keyFields,
                                    bool marksPresent) const;
  // Takes the staging unit off the head of a full run's statements, for a
  // load while the file is written; returns its statements.
  static std::vector<std::string> takeStaging(RemoteSteps& steps);

 private:
  // The load of the export file into table.
  std::string loadInto(const std::string& table) const;
  void appendStagedMerge(RemoteSteps& steps) const;
  std::vector<std::string> deletesByKey(const std::vector<std::string>& rawKeys,
                                        const std::vector<std::size_t>& keyFields) const;

  const CycleContext& ctx_;
  const MirrorDescription& description_;
  std::filesystem::path exportPath_;
  std::vector<std::string> afterMerge_;
  std::optional<MergeSweep> sweep_;
  std::optional<RemoteSteps> ownStatements_;
};

}  // namespace agent

#endif  // AGENT_UPLOAD_MERGE_PLAN_H_
