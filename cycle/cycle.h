// One upload cycle on connections that are already made: the start stamp in
// the remote control table, every stage of the list whose gate holds, the
// end stamp, and the error handler that ends the cycle — silently for the
// generic failure, with a message for any other error.
#ifndef AGENT_CYCLE_CYCLE_H_
#define AGENT_CYCLE_CYCLE_H_

#include <string>

#include "base/regional.h"
#include "cycle/cycle_context.h"
#include "cycle/stage.h"
#include "cycle/statement_watch.h"

namespace agent {

// A stamp: "dd/mm/yyyy hh:mm:ss AM" with the regional date and time
// separators.
std::string cycleStamp(const DateTime& dt, const RegionalSettings& regional);

// The remote statements that stamp a cycle's start (clearing the end) and
// its end in the portal's control table.
std::string startStampStatement(const std::string& stamp);
std::string endStampStatement(const std::string& stamp);

// Runs the cycle's statements and stages on ctx (whose connections already
// recover from leftover objects). Never throws an AgentError; returns true
// when the end stamp was written. The journal line of a cycle that ends
// early names the stage and, when watch is the one ctx's connections note
// into, the side and the first words of the failed statement. A stop asked
// for through watch ends the cycle before the next stage or statement,
// with a journal line and no message.
bool runUploadCycle(CycleContext& ctx, StageList stages, StatementWatch* watch = nullptr);

}  // namespace agent

#endif  // AGENT_CYCLE_CYCLE_H_
