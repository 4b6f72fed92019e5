// What the window asks of the agent: make the CSV folder at start-up, run
// the activation, run one timed cycle, say where the running cycle is, stop
// it. The window drives these calls and nothing else, so its event handling
// can be exercised with a cycle that stands in for a real one (for example
// one that opens a message box or waits for the test).
#ifndef AGENT_APP_CORE_AGENT_CALLS_H_
#define AGENT_APP_CORE_AGENT_CALLS_H_

#include "cycle/cycle_progress.h"

namespace agent {

class Agent;

class AgentCalls {
 public:
  virtual ~AgentCalls() = default;
  // Start-up step. Throws ProgramEnd when the folder cannot be made.
  virtual void ensureCsvFolder() = 0;
  // The activation: local connection, then one cycle. Throws ProgramEnd
  // where the program must end.
  virtual void activate() = 0;
  // One timed cycle; handles its own errors.
  virtual void runCycle() = 0;
  // Where the running cycle is; read from the window's thread while
  // activate() or runCycle() runs on another.
  virtual const CycleProgress& progress() const = 0;
  // Asks the running cycle to end soon (the program is going away); safe
  // from any thread.
  virtual void requestStop() = 0;
};

// The calls answered by the real agent. agent must outlive it.
class AgentCallsOf final : public AgentCalls {
 public:
  explicit AgentCallsOf(Agent& agent) : agent_(agent) {}
  void ensureCsvFolder() override;
  void activate() override;
  void runCycle() override;
  const CycleProgress& progress() const override;
  void requestStop() override;

 private:
  Agent& agent_;
};

}  // namespace agent

#endif  // AGENT_APP_CORE_AGENT_CALLS_H_
