// A MariaDB server of a test's own, for fault tests that stop or kill the
// server: never the shared server of the test run, which other tests use at
// the same time. Started with scripts/mariadb.sh (durable commits, as
// InnoDB's defaults have them) in a fresh data folder on a free port, with
// the test account of the shared server's user and password.
#ifndef AGENT_TESTS_SUPPORT_PRIVATE_SERVER_H_
#define AGENT_TESTS_SUPPORT_PRIVATE_SERVER_H_

#include <sys/types.h>

#include <string>

#include "tests/support/remote_server.h"
#include "tests/support/temp_dir.h"

namespace agent::testing {

class PrivateServer {
 public:
  // Bootstraps and starts the server. Throws std::runtime_error (with the
  // script's output) when it does not come up.
  PrivateServer();
  // Resumes a stopped server, then ends it.
  ~PrivateServer();
  PrivateServer(const PrivateServer&) = delete;
  PrivateServer& operator=(const PrivateServer&) = delete;

  // Coordinates as the shared server's are given (no socket).
  const RemoteServer& server() const { return server_; }
  // A [code] section of remote-accounts.ini for database on this server.
  std::string accountSection(const std::string& code, const std::string& database) const;

  void freeze();   // SIGSTOP: the server holds its connections but answers nothing
  void resume();   // SIGCONT
  void kill();     // SIGKILL, and waits until the process is gone
  void restart();  // starts the killed server again on its data folder and port

 private:
  void start();
  // Starts on data_ and server_.port; false (with the script's output)
  // when the server does not come up.
  bool startOnce(std::string* output);
  TempDir dir_;
  std::string data_;
  RemoteServer server_;
  pid_t pid_ = -1;
};

}  // namespace agent::testing

#endif  // AGENT_TESTS_SUPPORT_PRIVATE_SERVER_H_
