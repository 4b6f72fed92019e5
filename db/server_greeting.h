// What a MySQL-protocol server says of itself before anyone logs in: its
// first packet (the handshake), read on a connection of its own that sends
// nothing. The native driver reads it first when TLS is asked for without
// a certificate check that the library enforces before the login, so that
// a server (or a relay) that offers no TLS is refused before the password's
// challenge-response could be relayed.
#ifndef AGENT_DB_SERVER_GREETING_H_
#define AGENT_DB_SERVER_GREETING_H_

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace agent {

struct ServerGreeting {
  bool offersTls = false;
  std::string version;  // the server's version text
};

// Parses a handshake packet's payload (protocol version 10). Throws DbError
// when the payload is an error packet (its text) or no handshake.
ServerGreeting parseServerGreeting(std::string_view payload);

// Connects to host:port, reads the server's first packet and closes, all
// within timeoutSeconds; sends nothing. Throws DbError naming the host when
// the server cannot be reached or says no handshake.
ServerGreeting readServerGreeting(const std::string& host, unsigned int port, int timeoutSeconds);

// A TCP connection that only reads, closed by its destructor; one platform
// file each (server_greeting_posix.cc, server_greeting_win32.cc).
class ReadingSocket {
 public:
  using Deadline = std::chrono::steady_clock::time_point;
  // Connects to the first address of host that answers before deadline.
  // Throws DbError naming host and port.
  ReadingSocket(const std::string& host, unsigned int port, Deadline deadline);
  ~ReadingSocket();
  ReadingSocket(const ReadingSocket&) = delete;
  ReadingSocket& operator=(const ReadingSocket&) = delete;

  // Up to length bytes, at least one, before deadline; 0 when the server
  // closed the connection. Throws DbError on a time-out or a failure.
  std::size_t readSome(char* buffer, std::size_t length, Deadline deadline);

 private:
  std::intptr_t socket_;
  std::string where_;  // "host:port", for messages
};

}  // namespace agent

#endif  // AGENT_DB_SERVER_GREETING_H_
