// A hostile portal server on loopback: just enough of the MySQL protocol
// (handshake v10 without TLS, login accepted, every statement answered OK,
// the character set files are read in answered "latin1")
// to play an attacker who controls the portal's server or the network. It
// is the one fake server of the tests, and only ever plays the attacker;
// every other remote test runs against the real MariaDB server.
#ifndef AGENT_TESTS_SUPPORT_HOSTILE_PORTAL_H_
#define AGENT_TESTS_SUPPORT_HOSTILE_PORTAL_H_

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace agent::testing {

class HostilePortal {
 public:
  enum class Mode {
    // Answers the first LOAD DATA LOCAL INFILE with a request for another
    // file (fileToAskFor) instead of the one the statement names.
    AskForAnotherFile,
    // Answers every LOAD DATA LOCAL INFILE with a request for the file the
    // statement names, as a real server does (the control case).
    AskForNamedFile,
    // Asks the client, during login, to switch to mysql_clear_password.
    ClearPasswordSwitch,
    // Accepts the connection and never speaks: no greeting comes.
    Silent,
  };

  // Listens on 127.0.0.1 on a free port and serves one client at a time
  // until destroyed.
  HostilePortal(Mode mode, std::string fileToAskFor = "");
  ~HostilePortal();
  HostilePortal(const HostilePortal&) = delete;
  HostilePortal& operator=(const HostilePortal&) = delete;

  int port() const { return port_; }
  // Every byte the clients sent, in order (login packets included).
  std::string received() const;
  // The bytes sent in answer to local-file requests (the file's contents,
  // or nothing when the client refused).
  std::string fileBytes() const;
  // The file names this server asked for.
  std::vector<std::string> filesAskedFor() const;
  // The statements the clients sent.
  std::vector<std::string> statements() const;

 private:
  void serve();
  void session(int fd);
  template <typename T>
  T locked(const T& value) const;

  Mode mode_;
  std::string fileToAskFor_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  bool askedOnce_ = false;
  mutable std::mutex mutex_;
  std::string received_;
  std::string fileBytes_;
  std::vector<std::string> asked_;
  std::vector<std::string> statements_;
  std::thread thread_;
};

}  // namespace agent::testing

#endif  // AGENT_TESTS_SUPPORT_HOSTILE_PORTAL_H_
