// Running remote work again after a cluster node refused it. On a Galera
// cluster a statement may be refused for reasons that say nothing about the
// statement: a write set that conflicted with another node's at commit
// (1213, reported as a deadlock; the server has rolled the statement back
// whole) or a node that is, for the moment, outside the primary component
// (1047, "WSREP has not yet prepared node for application use"; nothing
// ran). Such work is sent again, as it was, a few times with a short pause.
//
// Only work whose second run cannot double anything goes through here: a
// staging table's drop, create and load (run again as one unit), the merge
// statements (an update from the staging table, an insert of the keys not
// there yet, deletes by key), the mark of a payment (it only changes a row
// still pending) and the control stamps. Anything else meets the refusal as
// any other error and ends the cycle.
#ifndef AGENT_CYCLE_CONFLICT_RETRY_H_
#define AGENT_CYCLE_CONFLICT_RETRY_H_

#include <chrono>
#include <functional>
#include <string_view>

#include "base/errors.h"
#include "cycle/cycle_context.h"

namespace agent {

// The first run and up to three more.
inline constexpr int kConflictRuns = 4;
// The pause before the second run; each later pause doubles it.
inline constexpr std::chrono::milliseconds kConflictPause{500};

// Whether error is a node's refusal after which the same work may simply be
// sent again: a database error with native code 1213 or 1047.
bool isClusterRefusal(const AgentError& error);

// Runs unit; while it throws a cluster refusal and fewer than kConflictRuns
// runs have failed, says so in the journal (what, the node, the error),
// pauses and runs it again. The last refusal, any other error and a stop
// request propagate. earlier: a cluster refusal of a run already made
// elsewhere (a load on a thread of its own), counted as the first failed
// run; null when there was none.
void runRetryingRefusals(CycleContext& ctx, std::string_view what,
                         const std::function<void()>& unit, const AgentError* earlier = nullptr);

}  // namespace agent

#endif  // AGENT_CYCLE_CONFLICT_RETRY_H_
