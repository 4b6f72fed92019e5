#include "tests/support/private_server.h"

#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <thread>

namespace agent::testing {

namespace {

int freePort() {
  int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  socklen_t len = sizeof addr;
  ::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len);
  ::close(s);
  return ntohs(addr.sin_port);
}

// A process is gone when /proc has no entry for it or shows it a zombie.
bool gone(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  if (!stat) return true;
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  std::size_t close = text.rfind(')');
  return close != std::string::npos && close + 2 < text.size() && text[close + 2] == 'Z';
}

}  // namespace

PrivateServer::PrivateServer() : dir_("private-server") {
  RemoteServer shared = RemoteServer::fromEnvironment();
  server_.host = "127.0.0.1";
  server_.port = std::to_string(freePort());
  server_.user = shared.user;
  server_.password = shared.password;
  // It serves TLS with the shared server's certificate (made for 127.0.0.1
  // and localhost by the same test CA), as a portal does.
  server_.tlsCa = shared.tlsCa;
  start();
}

PrivateServer::~PrivateServer() {
  if (pid_ > 0 && !gone(pid_)) {
    ::kill(pid_, SIGCONT);
    kill();
  }
}

void PrivateServer::start() {
  // A bootstrap can fail on a busy machine (and the port can be taken
  // between the probe and the start): try again in a fresh data folder.
  std::string failures;
  for (int attempt = 1; attempt <= 3; ++attempt) {
    if (data_.empty() || attempt > 1) {
      data_ = (dir_ / ("data" + std::to_string(attempt))).string();
      if (attempt > 1) server_.port = std::to_string(freePort());
    }
    std::string output;
    if (startOnce(&output)) return;
    failures += output;
    data_.clear();
  }
  throw std::runtime_error("private server did not start: " + failures);
}

bool PrivateServer::startOnce(std::string* output) {
  // The TLS files are the shared test server's.
  const std::string tlsFolder = std::filesystem::path(server_.tlsCa).parent_path().string();
  const std::string& data = data_;
  const std::string command =
      "bash -c 'source \"$1\"; MARIADB_TLS_DIR=\"$6\"; "
      "mariadb_start \"$2\" \"$3\" \"$2.sock\" || exit 1; "
      "mariadb_create_account \"$4\" \"$5\" || exit 1; echo $MARIADB_PID > \"$2.pid\"' _ '" +
      std::string(AGENT_SOURCE_DIR) + "/scripts/mariadb.sh' '" + data + "' " + server_.port + " '" +
      server_.user + "' '" + server_.password + "' '" + tlsFolder + "' 2>&1";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) throw std::runtime_error("cannot run scripts/mariadb.sh");
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) *output += buffer;
  if (::pclose(pipe) != 0) return false;
  std::ifstream pidFile(data + ".pid");
  pidFile >> pid_;
  return pid_ > 0;
}

std::string PrivateServer::accountSection(const std::string& code,
                                          const std::string& database) const {
  return "[" + code + "]\nuser = " + server_.user + "\npassword = " + server_.password +
         "\nserver = " + server_.host + "\ndatabase = " + database + "\nport = " + server_.port +
         "\ntls_ca = " + server_.tlsCa + "\n";
}

void PrivateServer::freeze() {
  ::kill(pid_, SIGSTOP);
}
void PrivateServer::resume() {
  ::kill(pid_, SIGCONT);
}

void PrivateServer::kill() {
  ::kill(pid_, SIGKILL);
  for (int i = 0; i < 1000 && !gone(pid_); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

void PrivateServer::restart() {
  std::string output;
  if (!startOnce(&output)) throw std::runtime_error("private server did not restart: " + output);
}

}  // namespace agent::testing
