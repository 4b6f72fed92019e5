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
// when the end stamp was written.
bool runUploadCycle(CycleContext& ctx, StageList stages);

}  // namespace agent

#endif  // AGENT_CYCLE_CYCLE_H_
