#include "tests/support/agent_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <stdexcept>
#include <thread>

#include "tests/support/temp_dir.h"

namespace agent::testing {

namespace {

std::filesystem::path outputPath() {
  static std::atomic<int> counter{0};
  return std::filesystem::temp_directory_path() /
         ("agent-process-" + std::to_string(::getpid()) + "-" + std::to_string(++counter) + ".out");
}

}  // namespace

AgentProcess::AgentProcess(const std::filesystem::path& home, const std::vector<std::string>& args)
    : outputFile_(outputPath()) {
  const std::string program = std::string(AGENT_BINARY_DIR) + "/bin/upload-agent";
  std::vector<std::string> argv = {program, "--home", home.string()};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> raw;
  for (std::string& a : argv) raw.push_back(a.data());
  raw.push_back(nullptr);
  const int out = ::open(outputFile_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (out < 0) throw std::runtime_error("cannot create " + outputFile_.string());
  pid_ = ::fork();
  if (pid_ == 0) {
    ::dup2(out, 1);
    ::dup2(out, 2);
    ::execv(program.c_str(), raw.data());
    ::_exit(127);
  }
  ::close(out);
  if (pid_ < 0) throw std::runtime_error("cannot start " + program);
}

AgentProcess::~AgentProcess() {
  if (pid_ > 0 && !status_) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  std::error_code ec;
  std::filesystem::remove(outputFile_, ec);
}

void AgentProcess::signal(int sig) const {
  if (pid_ > 0 && !status_) ::kill(pid_, sig);
}

std::optional<int> AgentProcess::wait(std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!status_) {
    int raw = 0;
    pid_t done = ::waitpid(pid_, &raw, WNOHANG);
    if (done == pid_) {
      status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
      break;
    }
    if (std::chrono::steady_clock::now() >= deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return status_;
}

std::string AgentProcess::output() const {
  std::error_code ec;
  if (!std::filesystem::exists(outputFile_, ec)) return "";
  return readFile(outputFile_);
}

}  // namespace agent::testing
