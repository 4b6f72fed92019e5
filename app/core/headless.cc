#include "app/core/headless.h"

#include <iostream>
#include <string_view>

#include "app/core/agent_state.h"
#include "app/core/exit_status.h"
#include "app/core/schedule.h"
#include "base/errors.h"
#include "cycle/cycle_summary.h"

namespace agent {

void LoggedMessages::show(const std::string& text, MessageIcon icon) {
  journal_.warning("message: " + text);
  if (!toStandardError_) return;
  std::cerr << (icon == MessageIcon::Exclamation ? "upload-agent: ! " : "upload-agent: ") << text
            << std::endl;
}

bool forSystemLog(Journal::Level level, const std::string& line) {
  if (level != Journal::Level::Info) return true;
  for (std::string_view prefix :
       {CycleSummary::kPrefix, std::string_view("upload-agent "),
        std::string_view("stop requested"), std::string_view("cycles ")}) {
    if (line.rfind(prefix, 0) == 0) return true;
  }
  return false;
}

Journal::Mirror systemdJournalMirror() {
  return [](Journal::Level level, const std::string& line) {
    if (!forSystemLog(level, line)) return;
    const char* prefix = level == Journal::Level::Error     ? "<3>"
                         : level == Journal::Level::Warning ? "<4>"
                                                            : "<6>";
    std::cerr << prefix << line << std::endl;
  };
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

int runHeadless(Agent& agent, MessageSink& messages, const Clock& clock, const Signal& stop,
                long long intervalSeconds, std::chrono::milliseconds tickInterval,
                const std::atomic<bool>* paused, const std::filesystem::path& publicStatus) {
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
    if (!publicStatus.empty())
      state.keepPublicCopy(publicStatus, journalFileIn(agent.config().logFolder));
    agent.ensureCsvFolder();
    agent.activate();
    state.follow(schedule, agent.journal());
    bool wasPaused = false;
    while (!stop.waitFor(tickInterval)) {
      const bool isPaused = paused != nullptr && paused->load();
      if (isPaused != wasPaused) {
        agent.journal().info(isPaused ? "cycles paused: timed cycles are skipped until continued"
                                      : "cycles continued");
        wasPaused = isPaused;
      }
      if (schedule.tick() && !isPaused) agent.runCycle();
      state.follow(schedule, agent.journal());
    }
    return exit_status::kSuccess;
  } catch (const ProgramEnd& end) {
    messages.show(end.message(), MessageIcon::Exclamation);
    return exit_status::kProgramEnded;
  }
}

}  // namespace agent
