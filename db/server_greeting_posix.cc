// The greeting's socket on POSIX: getaddrinfo, a non-blocking connect and
// poll(2) against the deadline.
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "db/error.h"
#include "db/server_greeting.h"

namespace agent {
namespace {

int millisecondsUntil(ReadingSocket::Deadline deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  return left.count() <= 0 ? 0 : static_cast<int>(left.count());
}

// Waits until fd is ready for events; false on the deadline.
bool waitFor(int fd, short events, ReadingSocket::Deadline deadline) {
  pollfd p{fd, events, 0};
  for (;;) {
    int rc = ::poll(&p, 1, millisecondsUntil(deadline));
    if (rc >= 0) return rc > 0;
    if (errno != EINTR) return false;
  }
}

// A connected socket to address, or -1 with errno set.
int connectTo(const addrinfo& address, ReadingSocket::Deadline deadline) {
  int fd = ::socket(address.ai_family, address.ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK,
                    address.ai_protocol);
  if (fd < 0) return -1;
  if (::connect(fd, address.ai_addr, address.ai_addrlen) == 0) return fd;
  if (errno == EINPROGRESS && waitFor(fd, POLLOUT, deadline)) {
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0) return fd;
    errno = error;
  } else if (errno == EINPROGRESS) {
    errno = ETIMEDOUT;
  }
  int saved = errno;
  ::close(fd);
  errno = saved;
  return -1;
}

}  // namespace

ReadingSocket::ReadingSocket(const std::string& host, unsigned int port, Deadline deadline)
    : socket_(-1), where_(host + ":" + std::to_string(port)) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  int rc = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
  if (rc != 0) {
    throw DbError("08001", 2005, "Unknown server host '" + host + "' (" + gai_strerror(rc) + ")");
  }
  std::string why = "no address";
  for (addrinfo* a = found; a != nullptr && socket_ < 0; a = a->ai_next) {
    int fd = connectTo(*a, deadline);
    if (fd >= 0) {
      socket_ = fd;
    } else {
      why = std::strerror(errno);
    }
  }
  ::freeaddrinfo(found);
  if (socket_ < 0)
    throw DbError("08001", 2002, "Can't connect to server on " + where_ + " (" + why + ")");
}

ReadingSocket::~ReadingSocket() {
  ::close(static_cast<int>(socket_));
}

std::size_t ReadingSocket::readSome(char* buffer, std::size_t length, Deadline deadline) {
  for (;;) {
    if (!waitFor(static_cast<int>(socket_), POLLIN, deadline)) {
      throw DbError("08S01", 2013, "the server on " + where_ + " did not greet in time");
    }
    ssize_t n = ::recv(static_cast<int>(socket_), buffer, length, 0);
    if (n >= 0) return static_cast<std::size_t>(n);
    if (errno != EINTR && errno != EAGAIN) {
      throw DbError("08S01", 2013, "reading from " + where_ + ": " + std::strerror(errno));
    }
  }
}

}  // namespace agent
