#include "cycle/cycle.h"

#include <chrono>
#include <map>
#include <thread>
#include <utility>

#include <fmt/format.h>

#include "cycle/cluster_session.h"
#include "cycle/conflict_retry.h"
#include "cycle/cycle_summary.h"
#include "cycle/export_encoding.h"
#include "cycle/server_warnings.h"
#include "cycle/work_ahead.h"
#include "db/error.h"
#include "db/remote_literal.h"

namespace agent {

namespace {

constexpr const char* kStartStamp = "start stamp";
constexpr const char* kEndStamp = "end stamp";
constexpr const char* kExportCodePage = "export code page";
constexpr const char* kClusterSession = "cluster session";

void runStage(CycleContext& ctx, const Stage& stage, CycleSummary& summary) {
  if (!stageApplies(stage, ctx.univCode)) {
    ctx.journal.info(fmt::format("stage {}: not for institution \"{}\"", stage.name, ctx.univCode));
    return;
  }
  if (ctx.progress != nullptr) ctx.progress->stageStarted(stage.name);
  auto started = std::chrono::steady_clock::now();
  std::size_t rows = stage.run(ctx);
  std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - started;
  ctx.journal.info(fmt::format("stage {}: {} rows, {:.2f} s", stage.name, rows, seconds.count()));
  summary.addStage(stage.name, rows);
}

// The stage's turn, in the context while the stage runs (emptied after, on
// every path).
class StageScope {
 public:
  StageScope(CycleContext& ctx, StageTurn turn) : ctx_(ctx) { ctx.turn = std::move(turn); }
  ~StageScope() { ctx_.turn = {}; }
  StageScope(const StageScope&) = delete;
  StageScope& operator=(const StageScope&) = delete;

 private:
  CycleContext& ctx_;
};

// Stamps the cycle's start in the portal. Each cycle's start stamp differs
// from the one before: it is what tells change detection that the portal
// is the one it left (two cycles in one second wait for the next).
void stampStart(CycleContext& ctx) {
  std::string stamp = cycleStamp(ctx.clock.now(), ctx.config.regional);
  for (int i = 0; i < 12 && stamp == ctx.hooks.lastStartStamp; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    stamp = cycleStamp(ctx.clock.now(), ctx.config.regional);
  }
  runRetryingRefusals(ctx, "start stamp", [&] { ctx.remote.execute(startStampStatement(stamp)); });
  if (ctx.hooks.startStamped) ctx.hooks.startStamped(stamp);
}

// What the cycle learns of the portal before its first stage; stage as in
// runSteps.
PortalTraits learnPortal(const CycleContext& ctx, const char*& stage) {
  PortalTraits portal;
  stage = kExportCodePage;
  portal.exportCodePage = learnExportCodePage(ctx.remote, ctx.config, ctx.journal);
  portal.backslashEscapes = backslashEscapesOn(ctx.remote);
  stage = kClusterSession;
  portal.cluster = prepareClusterSession(ctx.remote, ctx.journal);
  return portal;
}

// stage: where the cycle is, for the handler's journal line.
void runSteps(CycleContext& ctx, StageList stages, CycleSummary& summary, const char*& stage) {
  stage = kStartStamp;
  stampStart(ctx);
  ctx.portal = learnPortal(ctx, stage);
  // In a cycle that merges its tables in full, the portal's server is what
  // the cycle waits for, and the two processors are busy with its loads and
  // the exports that feed them. Work ahead is then held until the stage just
  // before the first stage that has some waits for the server (its merge and
  // insert load, for which the cycle's thread is idle), and runs one piece
  // after the other from then, so that the server's load keeps a processor
  // of its own; whatever is still held runs from that stage's end.
  // Otherwise (changes only) the cycle's thread reads and compares while the
  // server idles: work ahead starts at once. Work still running when the
  // cycle ends early is cancelled with it.
  auto inputOf = [&ctx](const Stage& s) {
    if (s.aheadInput != nullptr) return s.aheadInput(ctx);
    AheadInput input;
    input.univCode = ctx.univCode;
    return input;
  };
  WorkAhead ahead(stages, ctx.univCode, ctx.hooks.connectLocalAgain, ctx.changes.mergesInFull,
                  inputOf, ctx.journal, ctx.watch);
  for (std::size_t i = 0; i < stages.size(); ++i) {
    stage = stages[i].name;
    {
      StageScope scope(ctx, ahead.turnFor(i, ctx));
      runStage(ctx, stages[i], summary);
    }
    ahead.stageEnded(i);
  }
  stage = kEndStamp;
  for (const auto& work : ctx.afterLastStage) work();
  const std::string end = endStampStatement(cycleStamp(ctx.clock.now(), ctx.config.regional));
  runRetryingRefusals(ctx, "end stamp", [&] { ctx.remote.execute(end); });
}

// "stage studfee, remote statement \"LOAD DATA local INFILE\"": where the
// cycle ended, without any of the statement's values.
std::string wherePart(const char* stage, const StatementWatch* watch) {
  std::string where = fmt::format("stage {}", stage);
  StatementWatch::Failure failed = watch != nullptr ? watch->failure() : StatementWatch::Failure{};
  if (!failed.side.empty()) {
    const std::string& database =
        failed.side == "local" ? watch->localDatabase : watch->remoteDatabase;
    where += fmt::format(", {} statement \"{}\"", failed.side, failed.statement);
    if (!database.empty()) where += fmt::format(" in database {}", database);
    // On a cluster the node matters: the next cycle may reach another.
    if (failed.side == "remote" && !watch->remoteNode.empty())
      where += fmt::format(" on {}", watch->remoteNode);
  }
  return where;
}

// The driver reports a remote read time-out as a lost connection (2013):
// say which time-out that may have been.
std::string timeOutNote(const AgentError& e, const CycleContext& ctx, const StatementWatch* watch) {
  const auto* db = dynamic_cast<const DbError*>(&e);
  // A note about the server only where the remote side failed (or nothing
  // says which side did).
  const bool remoteFailed = watch == nullptr || watch->failure().side == "remote";
  // 1205: the server ended a statement that waited for a lock (a row or a
  // table another session holds): the link itself is sound.
  if (db != nullptr && db->nativeCode() == 1205 && remoteFailed) {
    return fmt::format(
        " (a lock wait: another session held a lock this statement needed for the "
        "lock_wait_timeout of {} s; a cut link's left-over session keeps its locks until the "
        "server ends it, and the next cycle tries again)",
        ctx.config.lockWaitSeconds());
  }
  // A cluster node's refusals, left after the retries of work that may be
  // sent again, or met by work that may not.
  if (db != nullptr && remoteFailed) {
    if (db->nativeCode() == 1213)
      return " (server error 1213: the node refused the write for a conflict with another "
             "session's or another cluster node's; the next cycle tries again)";
    if (db->nativeCode() == 1047)
      return " (server error 1047: the node is outside the cluster's primary component; the next "
             "cycle starts on the first node that is ready)";
  }
  // 2013: lost connection; over TLS the driver may report the socket's
  // "Connection timed out" instead.
  const bool timedOut = db != nullptr && (db->nativeCode() == 2013 ||
                                          db->description().find("timed out") != std::string::npos);
  if (!timedOut) return "";
  if (!remoteFailed) return "";
  return fmt::format(" (the server went away, or did not answer within the read time-out of {} s)",
                     ctx.config.remote.readTimeout);
}

}  // namespace

std::string cycleStamp(const DateTime& dt, const RegionalSettings& regional) {
  return formatDateTime(dt, "dd/MM/yyyy hh:mm:ss tt", regional);
}

// The cycle inside its error handler; true when the end stamp was written.
static bool runStamped(CycleContext& ctx, StageList stages, CycleSummary& summary,
                       StatementWatch* watch) {
  const char* stage = kStartStamp;
  if (watch != nullptr) watch->clearFailure();
  try {
    runSteps(ctx, stages, summary, stage);
    ctx.journal.info("cycle end: stamped");
    return true;
  } catch (const StopRequested&) {
    ctx.journal.warning(fmt::format("cycle stopped on request in stage {}", stage));
  } catch (const CycleAbort& abort) {
    ctx.journal.error(fmt::format("cycle ended in stage {}: {}", stage, abort.what()));
  } catch (const AgentError& e) {
    if (watch != nullptr && watch->stopRequested()) {
      // The stop cancelled the running statement: that is why it failed.
      ctx.journal.warning(fmt::format("cycle stopped on request in {} (cancelled: {})",
                                      wherePart(stage, watch), e.description()));
    } else if (e.number() == error_number::kGenericFailure) {
      // The generic failure ends the cycle without a message; the journal
      // still says why.
      ctx.journal.error(fmt::format("cycle ended silently in {}: {} {}{}", wherePart(stage, watch),
                                    e.description(), e.number(), timeOutNote(e, ctx, watch)));
    } else {
      ctx.journal.error(fmt::format("cycle ended in {}: {} {}{}", wherePart(stage, watch),
                                    e.description(), e.number(), timeOutNote(e, ctx, watch)));
      ctx.messages.show(e.description() + " " + std::to_string(e.number()),
                        MessageIcon::Exclamation);
    }
  } catch (const std::exception& e) {
    // Anything that is not an agent error (out of memory, a library fault)
    // is still reported, never allowed to end the program.
    ctx.journal.error(
        fmt::format("cycle ended in stage {}: unexpected error: {}", stage, e.what()));
    ctx.messages.show(std::string(e.what()) + " " + std::to_string(error_number::kInternalError),
                      MessageIcon::Exclamation);
  }
  return false;
}

std::string startStampStatement(const std::string& stamp) {
  return "update control set flastupdstarttime = '" + stamp + "', flastupdendtime = null";
}

std::string endStampStatement(const std::string& stamp) {
  return "update control set flastupdendtime = '" + stamp + "'";
}

bool runUploadCycle(CycleContext& ctx, StageList stages, StatementWatch* watch) {
  CycleSummary summary(ctx.journal);
  bool stamped = runStamped(ctx, stages, summary, watch);
  const std::map<std::string, int> dropped =
      watch != nullptr ? watch->leftoversDropped() : std::map<std::string, int>{};
  if (!dropped.empty()) {
    std::string names;
    for (const auto& [name, times] : dropped) {
      names += (names.empty() ? "" : ", ") + name;
      if (times > 1) names += fmt::format(" ({} times)", times);
    }
    ctx.journal.info("housekeeping: local objects left by earlier runs dropped and made again: " +
                     names);
  }
  ctx.journal.info(summary.line(
      stamped, ctx.serverWarnings != nullptr ? ctx.serverWarnings->changedValues() : 0));
  return stamped;
}

}  // namespace agent
