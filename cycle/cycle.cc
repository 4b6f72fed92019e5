#include "cycle/cycle.h"

#include <chrono>

#include <fmt/format.h>

#include "db/error.h"

namespace agent {

namespace {

void runStage(CycleContext& ctx, const Stage& stage) {
  if (!stageApplies(stage, ctx.univCode)) {
    ctx.journal.info(fmt::format("stage {}: not for institution \"{}\"", stage.name, ctx.univCode));
    return;
  }
  auto started = std::chrono::steady_clock::now();
  std::size_t rows = stage.run(ctx);
  std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - started;
  ctx.journal.info(fmt::format("stage {}: {} rows, {:.2f} s", stage.name, rows, seconds.count()));
}

void runSteps(CycleContext& ctx, StageList stages) {
  ctx.remote.execute("update control set flastupdstarttime = '" +
                     cycleStamp(ctx.clock.now(), ctx.config.regional) +
                     "', flastupdendtime = null");
  for (const Stage& stage : stages) runStage(ctx, stage);
  ctx.remote.execute("update control set flastupdendtime = '" +
                     cycleStamp(ctx.clock.now(), ctx.config.regional) + "'");
}

}  // namespace

std::string cycleStamp(const DateTime& dt, const RegionalSettings& regional) {
  return formatDateTime(dt, "dd/MM/yyyy hh:mm:ss tt", regional);
}

bool runUploadCycle(CycleContext& ctx, StageList stages) {
  try {
    runSteps(ctx, stages);
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
    ctx.messages.show(std::string(e.what()) + " " + std::to_string(error_number::kInternalError),
                      MessageIcon::Exclamation);
  }
  return false;
}

}  // namespace agent
