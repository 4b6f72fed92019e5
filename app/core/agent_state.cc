#include "app/core/agent_state.h"

#include <cstdio>
#include <fstream>
#include <sstream>

#include <fmt/format.h>

#include "app/core/status.h"
#include "base/private_file.h"
#include "base/process.h"

namespace agent {

std::string isoDateTime(const DateTime& dt) {
  return fmt::format("{:04}-{:02}-{:02} {:02}:{:02}:{:02}", dt.year, dt.month, dt.day, dt.hour,
                     dt.minute, dt.second);
}

std::string formatAgentState(const AgentState& state) {
  std::string text =
      fmt::format("pid={}\nnext_cycle={}\n", state.pid, isoDateTime(state.nextCycle));
  // One line whatever the fault's text holds.
  if (!state.journalFault.empty()) {
    std::string fault = state.journalFault;
    for (char& c : fault) {
      if (c == '\n' || c == '\r') c = ' ';
    }
    text += "journal_fault=" + fault + "\n";
  }
  if (!state.lastCycle.empty()) text += "last_cycle=" + state.lastCycle + "\n";
  return text;
}

std::optional<AgentState> parseAgentState(const std::string& text) {
  AgentState state;
  bool havePid = false, haveNext = false;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("pid=", 0) == 0) {
      havePid = std::sscanf(line.c_str() + 4, "%lld", &state.pid) == 1 && state.pid > 0;
    } else if (line.rfind("journal_fault=", 0) == 0) {
      state.journalFault = line.substr(14);
    } else if (line.rfind("last_cycle=", 0) == 0) {
      state.lastCycle = line.substr(11);
    } else if (line.rfind("next_cycle=", 0) == 0) {
      DateTime& d = state.nextCycle;
      haveNext = std::sscanf(line.c_str() + 11, "%d-%d-%d %d:%d:%d", &d.year, &d.month, &d.day,
                             &d.hour, &d.minute, &d.second) == 6;
    }
  }
  if (!havePid || !haveNext) return std::nullopt;
  return state;
}

std::optional<AgentState> readAgentState(const std::filesystem::path& home) {
  return readAgentStateFile(home / kAgentStateFileName);
}

std::optional<AgentState> readAgentStateFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  return parseAgentState(text.str());
}

AgentStateFile::AgentStateFile(std::filesystem::path home)
    : path_(std::move(home) / kAgentStateFileName) {}

AgentStateFile::~AgentStateFile() {
  if (!written_) return;
  // Only our own file: another agent on the same folder may have replaced it.
  std::optional<AgentState> state = readAgentState(path_.parent_path());
  if (state && state->pid == currentProcessId()) {
    std::error_code ec;
    std::filesystem::remove(path_, ec);
  }
}

std::string AgentStateFile::update(const DateTime& nextCycle, const std::string& journalFault) {
  AgentState state{currentProcessId(), nextCycle, journalFault};
  std::string error = replaceFileWhole(path_, formatAgentState(state));
  if (error.empty()) written_ = true;
  if (!publicCopy_.empty() && error.empty()) {
    std::vector<std::string> last = lastCycleSummaries(logFile_, 1);
    if (!last.empty()) state.lastCycle = last.back();
    std::error_code ec;
    std::filesystem::create_directories(publicCopy_.parent_path(), ec);
    error = replaceFileWhole(publicCopy_, formatAgentState(state));
  }
  return error;
}

void AgentStateFile::keepPublicCopy(std::filesystem::path copy, std::filesystem::path logFile) {
  publicCopy_ = std::move(copy);
  logFile_ = std::move(logFile);
}

void AgentStateFile::follow(const Schedule& schedule, Journal& journal) {
  std::string fault = journal.writeFault();
  if (noted_ == schedule.nextRunTime() && fault == notedFault_) return;
  noted_ = schedule.nextRunTime();
  notedFault_ = std::move(fault);
  std::string error = update(*noted_, notedFault_);
  if (!error.empty()) journal.warning(error);
}

}  // namespace agent
