// The built upload-agent program run as a child process, for tests that
// need the whole program: its lock, its signals, its exit status. Output
// (standard output and error) goes to a file read back by output().
#ifndef AGENT_TESTS_SUPPORT_AGENT_PROCESS_H_
#define AGENT_TESTS_SUPPORT_AGENT_PROCESS_H_

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace agent::testing {

class AgentProcess {
 public:
  // Starts <build>/bin/upload-agent --home home args...; throws when it cannot.
  AgentProcess(const std::filesystem::path& home, const std::vector<std::string>& args);
  ~AgentProcess();  // kills a program still running (a test failed midway)
  AgentProcess(const AgentProcess&) = delete;
  AgentProcess& operator=(const AgentProcess&) = delete;

  void signal(int sig) const;
  // The exit status once the program has ended, waiting at most limit;
  // nullopt when it still runs then. A death by a signal gives 128 + signal.
  std::optional<int> wait(std::chrono::milliseconds limit);
  std::string output() const;

 private:
  pid_t pid_ = -1;
  std::optional<int> status_;
  std::filesystem::path outputFile_;
};

}  // namespace agent::testing

#endif  // AGENT_TESTS_SUPPORT_AGENT_PROCESS_H_
