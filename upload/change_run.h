// ChangeRun: one table's run under change detection. prepare() decides
// whether it is a full merge or changes-only (the state store knows nothing
// of the table, its last run did not finish, its last full merge is older
// than the configured hours, or the remote table's row count is not what
// the state expects: counted unless the table's last-change stamp shows
// nothing changed it since). take() and decide() let the export's lines
// through; commit() records the table's state once its statements
// succeeded and notes the run in the journal.
#ifndef AGENT_UPLOAD_CHANGE_RUN_H_
#define AGENT_UPLOAD_CHANGE_RUN_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "cycle/cycle_context.h"
#include "upload/change_state.h"
#include "upload/mirror_description.h"

namespace agent {

class ChangeRun {
 public:
  // What change detection keeps of a line between take() and decide().
  struct TakenLine {
    std::uint64_t keyHash = 0;
    std::uint64_t digest = 0;
    std::string raw;  // the key as exported
  };

  // keyFields: the export fields the table's lines are keyed by.
  // markColumn: the sweep's mark column (empty without a sweep). ctx (with
  // its change state) and description must outlive this object.
  ChangeRun(CycleContext& ctx, const MirrorDescription& description,
            std::vector<std::size_t> keyFields, std::string markColumn, bool sweeps);

  // Decides full or changes-only; reads the remote table's stamp or count.
  void prepare();
  bool full() const { return full_; }
  const std::vector<std::size_t>& keyFields() const { return keyFields_; }
  // Whether the state holds this fingerprint of the table's computed
  // source, so that its stored lines stand and nothing need be read.
  bool knowsSources(const std::string& sources) const;

  // Once the source holds rows: marks the run started, then begins it
  // (two steps, so that a stage of several tables marks them all first).
  void markStarted();
  void begin();
  // The stored lines stand: every one offered as unchanged.
  void offerStoredLines();

  void take(std::span<const std::string> fields, TakenLine& line);
  // Whether the taken line goes into the file; lines are decided in the
  // order they were taken.
  bool decide(const TakenLine& line);

  std::size_t sent() const { return sent_; }
  bool marksPresent() const { return marksPresent_; }
  // The keys the state knew that no line offered this run (with a sweep:
  // deleted remotely), taken from the state once.
  const std::vector<std::string>& vanishedKeys();
  // Whether the run's statements sent anything (a changes-only run that
  // sends nothing keeps the stamp the check before it vouched for).
  void noteStatements(bool any) { sendsStatements_ = any; }

  // After the statements succeeded: commits the table's state (sources:
  // the computed source's fingerprint, empty for a plain table).
  void commit(const std::string& sources);

 private:
  void checkRemoteTable();
  std::size_t valuesChangedByPortal() const;

  CycleContext& ctx_;
  const MirrorDescription& description_;
  std::vector<std::size_t> keyFields_;
  std::string markColumn_;
  bool sweeps_;

  bool full_ = false;
  std::string fullBecause_;
  long long remoteRows_ = -1;
  std::optional<ChangeState::TableState> known_;
  std::int64_t now_ = 0;
  std::size_t read_ = 0, sent_ = 0, newKeys_ = 0;
  std::optional<std::vector<std::string>> vanished_;
  bool storedLinesStand_ = false;  // nothing read: the source's rows are unchanged
  std::string checkedStamp_;       // a settled stamp the check before the run vouched for
  bool sendsStatements_ = false;
  bool marksPresent_ = false;      // the remote table holds marked rows
  bool countSkipped_ = false;      // the stamp vouched for the remote row count
  std::size_t changedBefore_ = 0;  // the table's values the portal changed before this run
};

}  // namespace agent

#endif  // AGENT_UPLOAD_CHANGE_RUN_H_
