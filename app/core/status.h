// `upload-agent --status`: what an administrator asks of an agent that runs
// unattended — is it running, when is its next cycle, and what did the last
// cycles do. Reads the state file and the journal; writes nothing.
#ifndef AGENT_APP_CORE_STATUS_H_
#define AGENT_APP_CORE_STATUS_H_

#include <cstddef>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

namespace agent {

// The summary lines of the last cycles in the journal logFile and its
// rotated predecessors (agent.1.log, ...), oldest first, at most count;
// each as "<time>  <summary>", the summary without its prefix.
std::vector<std::string> lastCycleSummaries(const std::filesystem::path& logFile,
                                            std::size_t count);

// Prints the agent's state and the last cycles of the program folder home.
// Returns the exit status: 0, or 2 when platform.ini is unusable.
int printStatus(const std::filesystem::path& home, std::ostream& out, std::size_t count = 5);

}  // namespace agent

#endif  // AGENT_APP_CORE_STATUS_H_
