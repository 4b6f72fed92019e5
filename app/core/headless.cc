#include "app/core/headless.h"

#include <iostream>
#include <thread>

#include "app/core/agent_state.h"
#include "app/core/exit_status.h"
#include "app/core/schedule.h"
#include "base/errors.h"

namespace agent {

void LoggedMessages::show(const std::string& text, MessageIcon icon) {
  journal_.warning("message: " + text);
  std::cerr << (icon == MessageIcon::Exclamation ? "upload-agent: ! " : "upload-agent: ") << text
            << std::endl;
}

int runOnce(Agent& agent, MessageSink& messages) {
  try {
    agent.ensureCsvFolder();
    // The cycle opens the local connection first (or fails when it cannot).
    return agent.runCycle() ? exit_status::kSuccess : exit_status::kCycleEndedEarly;
  } catch (const ProgramEnd& end) {
    messages.show(end.message(), MessageIcon::Exclamation);
    return exit_status::kProgramEnded;
  }
}

int runHeadless(Agent& agent, MessageSink& messages, const Clock& clock,
                const std::atomic<bool>& stop, long long intervalSeconds,
                std::chrono::milliseconds tickInterval) {
  try {
    Schedule schedule(clock, intervalSeconds, &agent.journal());
    // Followed until the schedule goes away.
    struct Following {
      Agent& agent;
      ~Following() { agent.followSchedule(nullptr); }
    } following{agent};
    agent.followSchedule(&schedule);
    // For --status: this process and its next cycle, rewritten whenever it
    // moves (a due tick, a change of the date and time).
    AgentStateFile state(agent.home());
    agent.ensureCsvFolder();
    agent.activate();
    state.follow(schedule, agent.journal());
    while (!stop.load()) {
      std::this_thread::sleep_for(tickInterval);
      if (schedule.tick()) agent.runCycle();
      state.follow(schedule, agent.journal());
    }
    return exit_status::kSuccess;
  } catch (const ProgramEnd& end) {
    messages.show(end.message(), MessageIcon::Exclamation);
    return exit_status::kProgramEnded;
  }
}

}  // namespace agent
