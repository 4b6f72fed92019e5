#include "app/core/agent_state.h"

#ifdef _WIN32
#include <process.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include <fmt/format.h>

namespace agent {

namespace {

long long ownPid() {
#ifdef _WIN32
  return static_cast<long long>(::_getpid());
#else
  return static_cast<long long>(::getpid());
#endif
}

// Writes text beside path and renames it over path, so that a reader sees
// the old file or the new one, never a part. Returns an error text.
std::string replaceFile(const std::filesystem::path& path, const std::string& text) {
  const std::filesystem::path temp = path.string() + ".new";
#ifdef _WIN32
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out << text;
    out.flush();
    if (!out) return "cannot write " + temp.string();
  }
  if (!::MoveFileExW(temp.wstring().c_str(), path.wstring().c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    std::error_code ec;
    std::filesystem::remove(temp, ec);
    return "cannot replace " + path.string();
  }
  return {};
#else
  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return fmt::format("cannot write {}: {}", temp.string(), std::strerror(errno));
  bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  ok = ::fsync(fd) == 0 && ok;
  ok = ::close(fd) == 0 && ok;
  if (!ok || ::rename(temp.c_str(), path.c_str()) != 0) {
    std::string why = std::strerror(errno);
    ::unlink(temp.c_str());
    return fmt::format("cannot write {}: {}", path.string(), why);
  }
  return {};
#endif
}

}  // namespace

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
  std::ifstream in(home / kAgentStateFileName, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  return parseAgentState(text.str());
}

bool processAlive(long long pid) {
  if (pid <= 0) return false;
#ifdef _WIN32
  HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
  if (!process) return ::GetLastError() == ERROR_ACCESS_DENIED;
  DWORD code = 0;
  bool alive = ::GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
  ::CloseHandle(process);
  return alive;
#else
  // EPERM: the process exists but belongs to another user.
  return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
#endif
}

AgentStateFile::AgentStateFile(std::filesystem::path home)
    : path_(std::move(home) / kAgentStateFileName) {}

AgentStateFile::~AgentStateFile() {
  if (!written_) return;
  // Only our own file: another agent on the same folder may have replaced it.
  std::optional<AgentState> state = readAgentState(path_.parent_path());
  if (state && state->pid == ownPid()) {
    std::error_code ec;
    std::filesystem::remove(path_, ec);
  }
}

std::string AgentStateFile::update(const DateTime& nextCycle, const std::string& journalFault) {
  std::string error = replaceFile(path_, formatAgentState({ownPid(), nextCycle, journalFault}));
  if (error.empty()) written_ = true;
  return error;
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
