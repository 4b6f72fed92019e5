// The running agent's state file, agent.state in the program folder: its
// process id and the time of its next cycle, for `upload-agent --status`.
// The file is replaced whole (written beside, then renamed), so a reader
// never sees half of it; the agent removes it when it ends.
#ifndef AGENT_APP_CORE_AGENT_STATE_H_
#define AGENT_APP_CORE_AGENT_STATE_H_

#include <filesystem>
#include <optional>
#include <string>

#include "app/core/schedule.h"
#include "base/date_time.h"
#include "cycle/journal.h"

namespace agent {

inline constexpr const char* kAgentStateFileName = "agent.state";

struct AgentState {
  long long pid = 0;
  DateTime nextCycle;
  std::string journalFault;  // why the journal cannot be written; empty when it can
  // The last cycle's summary as --status shows it ("yyyy-mm-dd hh:mm:ss
  // <summary>"); kept only in a public copy (see keepPublicCopy()).
  std::string lastCycle = {};
};

// "pid=<n>" and "next_cycle=yyyy-mm-dd hh:mm:ss", one a line,
// "journal_fault=<text>" while the journal cannot be written, and
// "last_cycle=<summary>" where one is kept.
std::string formatAgentState(const AgentState& state);
// The state in text, or nullopt when a line is missing or malformed.
std::optional<AgentState> parseAgentState(const std::string& text);

// Reads <home>/agent.state; nullopt when it is missing or unreadable.
std::optional<AgentState> readAgentState(const std::filesystem::path& home);
// Reads a state file wherever it is (a public copy).
std::optional<AgentState> readAgentStateFile(const std::filesystem::path& file);

// yyyy-mm-dd hh:mm:ss, the journal's own form.
std::string isoDateTime(const DateTime& dt);

// The state file of this process: written by update(), removed by the
// destructor. A failed write goes to the journal of the caller, never
// stops the agent (the file is only for --status).
class AgentStateFile {
 public:
  explicit AgentStateFile(std::filesystem::path home);
  ~AgentStateFile();
  AgentStateFile(const AgentStateFile&) = delete;
  AgentStateFile& operator=(const AgentStateFile&) = delete;

  // Replaces the file with this process's id, nextCycle and the journal's
  // fault. Returns an error text, empty on success.
  std::string update(const DateTime& nextCycle, const std::string& journalFault = "");
  // Keeps the file in step with schedule and journal: rewrites it when the
  // next cycle or the journal's write fault has changed since the last
  // call. A failed write goes to journal.
  void follow(const Schedule& schedule, Journal& journal);
  // Also keeps a copy that users who may not read the program folder can
  // read (a Windows service's folder is its own): the same lines and the
  // last cycle's summary from the journal logFile, rewritten with the file.
  // Nothing secret is in it. The copy stays when the agent ends, so that
  // its last cycle can still be read.
  void keepPublicCopy(std::filesystem::path copy, std::filesystem::path logFile);

 private:
  std::filesystem::path path_;
  std::filesystem::path publicCopy_;
  std::filesystem::path logFile_;
  bool written_ = false;
  std::optional<DateTime> noted_;
  std::string notedFault_;
};

}  // namespace agent

#endif  // AGENT_APP_CORE_AGENT_STATE_H_
