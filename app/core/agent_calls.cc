// The window's calls answered by the real agent.
#include "app/core/agent_calls.h"

#include "app/core/agent.h"

namespace agent {

void AgentCallsOf::ensureCsvFolder() {
  agent_.ensureCsvFolder();
}
void AgentCallsOf::activate() {
  agent_.activate();
}
void AgentCallsOf::runCycle() {
  agent_.runCycle();
}

const CycleProgress& AgentCallsOf::progress() const {
  return agent_.progress();
}
void AgentCallsOf::requestStop() {
  agent_.requestStop();
}

}  // namespace agent
