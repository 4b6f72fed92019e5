// WorkAhead: the one owner of the work a cycle's stages have done ahead of
// their turns. It alone starts that work (each piece a LocalAhead on a
// second local connection), decides when held work is released, does a
// later stage's early part while a stage waits, and hands each stage its
// turn. Made, used and destroyed on the cycle's thread only (checked).
#ifndef AGENT_CYCLE_WORK_AHEAD_H_
#define AGENT_CYCLE_WORK_AHEAD_H_

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/thread_checker.h"
#include "cycle/cycle_context.h"
#include "cycle/early_part.h"
#include "cycle/journal.h"
#include "cycle/local_ahead.h"
#include "cycle/stage.h"
#include "cycle/statement_watch.h"

namespace agent {

// Makes a stage's input for its work ahead, on the cycle's thread as the
// work starts.
using AheadInputMaker = std::function<AheadInput(const Stage&)>;

class WorkAhead {
 public:
  // Starts the work of each stage of stages that runs for univCode and has
  // some, up to the first stage that runs and writes the local database
  // (work started after it could miss what it writes); none when connect
  // is empty. held: each piece waits for its release (a cycle of full
  // merges, see releasingStage_); otherwise all run at once. journal and
  // watch (may be null) serve the early parts; both outlive this.
  WorkAhead(StageList stages, const std::string& univCode, const LocalConnector& connect, bool held,
            const AheadInputMaker& inputOf, Journal& journal, StatementWatch* watch);
  // Cancels work no stage took and waits for it to end.
  ~WorkAhead() = default;
  WorkAhead(const WorkAhead&) = delete;
  WorkAhead& operator=(const WorkAhead&) = delete;

  // What stage i is handed for its turn: its work ahead, its early part if
  // one was done, and the calls by which it lets the cycle use its waits
  // (which run on ctx, the context the stage runs with, and must be made
  // on this thread before stageEnded(i)).
  StageTurn turnFor(std::size_t i, CycleContext& ctx);
  // After stage i's turn: releases whatever is still held when i is the
  // stage during which it is released.
  void stageEnded(std::size_t i);

 private:
  // The stage during which held work is released: the last stage that
  // runs before the first stage with work ahead; nullopt when there is
  // none (the work is released at once).
  std::optional<std::size_t> releasingStage() const;
  void releaseFirst();
  void releaseAll();
  // While stage `waiting` waits for its own work ahead: the early part of
  // the next stage that has one, once that stage's work ahead has ended.
  void doEarlyPart(CycleContext& ctx, std::size_t waiting);

  ThreadChecker owner_;
  const StageList stages_;
  const std::string univCode_;
  const bool held_;
  Journal& journal_;
  StatementWatch* const watch_;
  // Indexed as stages_; null where nothing runs ahead.
  std::vector<std::unique_ptr<LocalAhead>> ahead_;
  std::optional<std::size_t> releasing_;
  // Indexed as stages_; null where no early part was done. Destroyed
  // before ahead_, as in a cycle that ended early.
  std::vector<std::unique_ptr<EarlyPart>> early_;
  // Early parts are tried once; one that failed is left to its stage.
  std::vector<bool> tried_;
};

}  // namespace agent

#endif  // AGENT_CYCLE_WORK_AHEAD_H_
