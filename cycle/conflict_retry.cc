#include "cycle/conflict_retry.h"

#include <thread>

#include <fmt/format.h>

#include "db/error.h"

namespace agent {

namespace {

// 1213: the write set failed certification against another node's (the
// server names it a deadlock and has rolled the statement back). 1047: the
// node is not in the primary component and ran nothing.
constexpr long kCertificationConflict = 1213;
constexpr long kNodeNotReady = 1047;

std::string nodeName(const CycleContext& ctx) {
  if (ctx.watch == nullptr || ctx.watch->remoteNode.empty()) return "the portal's server";
  return ctx.watch->remoteNode;
}

// Journals the refusal of run `failed` and pauses before the next run.
void pauseAfter(const CycleContext& ctx, std::string_view what, const AgentError& refusal,
                int failed) {
  const auto pause = kConflictPause * (1 << (failed - 1));
  ctx.journal.warning(fmt::format(
      "{}: refused by {} ({} {}); run again in {:.2f} s (run {} of {})", what, nodeName(ctx),
      refusal.description(), dynamic_cast<const DbError&>(refusal).nativeCode(),
      std::chrono::duration<double>(pause).count(), failed + 1, kConflictRuns));
  if (ctx.watch != nullptr && ctx.watch->stopRequested()) throw StopRequested();
  std::this_thread::sleep_for(pause);
}

}  // namespace

bool isClusterRefusal(const AgentError& error) {
  const auto* db = dynamic_cast<const DbError*>(&error);
  return db != nullptr &&
         (db->nativeCode() == kCertificationConflict || db->nativeCode() == kNodeNotReady);
}

void runRetryingRefusals(CycleContext& ctx, std::string_view what,
                         const std::function<void()>& unit, const AgentError* earlier) {
  int failed = 0;
  if (earlier != nullptr) pauseAfter(ctx, what, *earlier, ++failed);
  for (;;) {
    try {
      unit();
      // The refused run's failure is no longer where the cycle stands.
      if (failed > 0 && ctx.watch != nullptr) ctx.watch->clearFailure();
      return;
    } catch (const AgentError& e) {
      if (!isClusterRefusal(e) || ++failed >= kConflictRuns) throw;
      pauseAfter(ctx, what, e, failed);
    }
  }
}

}  // namespace agent
