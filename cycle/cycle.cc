#include "cycle/cycle.h"

#include <chrono>

#include <fmt/format.h>

#include "cycle/cycle_summary.h"
#include "db/error.h"

namespace agent {

namespace {

void runStage(CycleContext& ctx, const Stage& stage, CycleSummary& summary) {
  if (!stageApplies(stage, ctx.univCode)) {
    ctx.journal.info(fmt::format("stage {}: not for institution \"{}\"", stage.name, ctx.univCode));
    return;
  }
  auto started = std::chrono::steady_clock::now();
  std::size_t rows = stage.run(ctx);
  std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - started;
  ctx.journal.info(fmt::format("stage {}: {} rows, {:.2f} s", stage.name, rows, seconds.count()));
  summary.addStage(stage.name, rows);
}

void runSteps(CycleContext& ctx, StageList stages, CycleSummary& summary) {
  ctx.remote.execute(startStampStatement(cycleStamp(ctx.clock.now(), ctx.config.regional)));
  for (const Stage& stage : stages) runStage(ctx, stage, summary);
  ctx.remote.execute(endStampStatement(cycleStamp(ctx.clock.now(), ctx.config.regional)));
}

}  // namespace

std::string cycleStamp(const DateTime& dt, const RegionalSettings& regional) {
  return formatDateTime(dt, "dd/MM/yyyy hh:mm:ss tt", regional);
}

// The cycle inside its error handler; true when the end stamp was written.
static bool runStamped(CycleContext& ctx, StageList stages, CycleSummary& summary) {
  try {
    runSteps(ctx, stages, summary);
    ctx.journal.info("cycle end: stamped");
    return true;
  } catch (const CycleAbort& abort) {
    ctx.journal.error(std::string("cycle ended: ") + abort.what());
  } catch (const AgentError& e) {
    if (e.number() == error_number::kGenericFailure) {
      // The generic failure ends the cycle without a message; the journal
      // still says why.
      ctx.journal.error(fmt::format("cycle ended silently: {} {}", e.description(), e.number()));
    } else {
      ctx.journal.error(fmt::format("cycle ended: {} {}", e.description(), e.number()));
      ctx.messages.show(e.description() + " " + std::to_string(e.number()),
                        MessageIcon::Exclamation);
    }
  } catch (const std::exception& e) {
    // Anything that is not an agent error (out of memory, a library fault)
    // is still reported, never allowed to end the program.
    ctx.journal.error(std::string("cycle ended: unexpected error: ") + e.what());
    ctx.messages.show(std::string(e.what()) + " 51", MessageIcon::Exclamation);
  }
  return false;
}

std::string startStampStatement(const std::string& stamp) {
  return "update control set flastupdstarttime = '" + stamp + "', flastupdendtime = null";
}

std::string endStampStatement(const std::string& stamp) {
  return "update control set flastupdendtime = '" + stamp + "'";
}

bool runUploadCycle(CycleContext& ctx, StageList stages) {
  CycleSummary summary(ctx.journal);
  bool stamped = runStamped(ctx, stages, summary);
  ctx.journal.info(summary.line(stamped));
  return stamped;
}

}  // namespace agent
