#include "app/core/status.h"

#include <deque>
#include <fstream>

#include "app/core/agent_state.h"
#include "base/process.h"
#include "config/platform_config.h"
#include "cycle/cycle_summary.h"
#include "cycle/journal.h"
#include "db/error.h"

namespace agent {

namespace {

// The journal's rotated files, oldest first, then the current one. The
// journal rotates through five files (agent.1.log is the newest old one).
std::vector<std::filesystem::path> journalFiles(const std::filesystem::path& logFile) {
  std::vector<std::filesystem::path> files;
  const std::string stem = logFile.stem().string();
  const std::string ext = logFile.extension().string();
  for (int i = 5; i >= 1; --i) {
    files.push_back(logFile.parent_path() / (stem + "." + std::to_string(i) + ext));
  }
  files.push_back(logFile);
  return files;
}

}  // namespace

std::vector<std::string> lastCycleSummaries(const std::filesystem::path& logFile,
                                            std::size_t count) {
  // A journal line: "yyyy-mm-dd hh:mm:ss INFO cycle summary: ...".
  const std::string marker = "INFO " + std::string(CycleSummary::kPrefix);
  constexpr std::size_t kTimeLength = 19;
  std::deque<std::string> kept;
  for (const std::filesystem::path& file : journalFiles(logFile)) {
    std::ifstream in(file, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.size() <= kTimeLength + 1 || line.compare(kTimeLength + 1, marker.size(), marker))
        continue;
      kept.push_back(line.substr(0, kTimeLength) + "  " +
                     line.substr(kTimeLength + 1 + marker.size()));
      if (kept.size() > count) kept.pop_front();
    }
  }
  return {kept.begin(), kept.end()};
}

int printStatus(const std::filesystem::path& home, std::ostream& out, std::size_t count) {
  PlatformConfig config;
  try {
    config = PlatformConfig::load(home);
  } catch (const AgentError& e) {
    out << "upload-agent: " << e.description() << "\n";
    return 2;
  }
  out << "program folder: " << home.string() << "\n";
  std::optional<AgentState> state = readAgentState(home);
  if (!state) {
    out << "agent: not running here (no " << kAgentStateFileName << ")\n";
  } else if (!processAlive(state->pid)) {
    out << "agent: not running (" << kAgentStateFileName << " is left from process " << state->pid
        << ", which has ended)\n";
  } else {
    out << "agent: running as process " << state->pid << ", next cycle at "
        << isoDateTime(state->nextCycle) << "\n";
    if (!state->journalFault.empty()) {
      out << "journal: CANNOT BE WRITTEN (" << state->journalFault
          << "); the cycles below may not be the last ones\n";
    }
  }
  const std::filesystem::path logFile = journalFileIn(config.logFolder);
  std::vector<std::string> summaries = lastCycleSummaries(logFile, count);
  if (summaries.empty()) {
    out << "last cycles: none in " << logFile.string() << "\n";
  } else {
    out << "last cycles (" << logFile.string() << "):\n";
    for (const std::string& s : summaries) out << "  " << s << "\n";
  }
  return 0;
}

}  // namespace agent
