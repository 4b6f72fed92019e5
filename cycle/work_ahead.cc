#include "cycle/work_ahead.h"

#include <cassert>
#include <utility>

#include <fmt/format.h>

#include "base/errors.h"

namespace agent {

namespace {

// A later stage's early part, done while the running stage waits: its own
// work ahead stands in the turn for the while, and the running stage's is
// put back after, on every path. The turn's calls stay as they are (one of
// them is running this).
class EarlyPartScope {
 public:
  EarlyPartScope(CycleContext& ctx, LocalAhead* ahead)
      : ctx_(ctx),
        ahead_(std::exchange(ctx.turn.ahead, ahead)),
        early_(std::exchange(ctx.turn.early, nullptr)) {}
  ~EarlyPartScope() {
    ctx_.turn.ahead = ahead_;
    ctx_.turn.early = early_;
  }
  EarlyPartScope(const EarlyPartScope&) = delete;
  EarlyPartScope& operator=(const EarlyPartScope&) = delete;

 private:
  CycleContext& ctx_;
  LocalAhead* ahead_;
  EarlyPart* early_;
};

}  // namespace

WorkAhead::WorkAhead(StageList stages, const std::string& univCode, const LocalConnector& connect,
                     bool held, const AheadInputMaker& inputOf, Journal& journal,
                     StatementWatch* watch)
    : stages_(stages),
      univCode_(univCode),
      held_(held),
      journal_(journal),
      watch_(watch),
      ahead_(stages.size()),
      early_(stages.size()),
      tried_(stages.size()) {
  if (connect) {
    for (std::size_t i = 0; i < stages_.size(); ++i) {
      const Stage& s = stages_[i];
      if (!stageApplies(s, univCode_)) continue;
      if (s.writesLocal) break;
      if (s.ahead != nullptr)
        ahead_[i] = std::make_unique<LocalAhead>(connect, s.ahead, inputOf(s), held_);
    }
  }
  releasing_ = releasingStage();
  if (!releasing_) releaseAll();
  // Held work runs one piece after the other once released.
  const LocalAhead* earlier = nullptr;
  for (const auto& work : ahead_) {
    if (!work) continue;
    if (earlier != nullptr) work->releaseAfter(*earlier);
    earlier = work.get();
  }
}

StageTurn WorkAhead::turnFor(std::size_t i, CycleContext& ctx) {
  assert(owner_.calledOnOwner());
  StageTurn turn{.ahead = ahead_[i].get(),
                 .early = early_[i].get(),
                 .whileWaiting = [this, &ctx, i] { doEarlyPart(ctx, i); },
                 .waitingForServer = {}};
  if (held_ && releasing_ == i) turn.waitingForServer = [this] { releaseFirst(); };
  return turn;
}

void WorkAhead::stageEnded(std::size_t i) {
  assert(owner_.calledOnOwner());
  if (releasing_ == i) releaseAll();
}

std::optional<std::size_t> WorkAhead::releasingStage() const {
  std::optional<std::size_t> before;
  for (std::size_t i = 0; i < stages_.size(); ++i) {
    if (ahead_[i]) return before;
    if (stageApplies(stages_[i], univCode_)) before = i;
  }
  return std::nullopt;
}

void WorkAhead::releaseFirst() {
  assert(owner_.calledOnOwner());
  for (const auto& work : ahead_) {
    if (work) return work->release();
  }
}

void WorkAhead::releaseAll() {
  for (const auto& work : ahead_) {
    if (work) work->release();
  }
}

// Work ahead starts only before the first stage that writes the local
// database, so no such stage lies between the waiting stage and the one
// whose part is done.
void WorkAhead::doEarlyPart(CycleContext& ctx, std::size_t waiting) {
  assert(owner_.calledOnOwner());
  for (std::size_t j = waiting + 1; j < stages_.size(); ++j) {
    if (stages_[j].early == nullptr || !ahead_[j] || tried_[j]) continue;
    if (!ahead_[j]->ended()) return;
    tried_[j] = true;
    EarlyPartScope scope(ctx, ahead_[j].get());
    try {
      early_[j] = stages_[j].early(ctx);
    } catch (const AgentError& e) {
      if (watch_ != nullptr && watch_->stopRequested()) throw;
      if (watch_ != nullptr) watch_->clearFailure();
      journal_.info(fmt::format("stage {}: its early part failed ({}); it is done in its turn",
                                stages_[j].name, e.description()));
      return;
    }
    journal_.info(
        fmt::format("stage {}: local part done while stage {} waited for its work "
                    "ahead",
                    stages_[j].name, stages_[waiting].name));
    return;
  }
}

}  // namespace agent
