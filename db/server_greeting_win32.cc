// The greeting's socket on Windows: Winsock's getaddrinfo, a non-blocking
// connect and select() against the deadline.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <mutex>

#include "db/error.h"
#include "db/server_greeting.h"

namespace agent {
namespace {

void startWinsock() {
  static std::once_flag once;
  std::call_once(once, [] {
    WSADATA data;
    ::WSAStartup(MAKEWORD(2, 2), &data);
  });
}

timeval timeUntil(ReadingSocket::Deadline deadline) {
  auto left = std::chrono::duration_cast<std::chrono::microseconds>(
      deadline - std::chrono::steady_clock::now());
  long long us = left.count() <= 0 ? 0 : left.count();
  return timeval{static_cast<long>(us / 1000000), static_cast<long>(us % 1000000)};
}

// Waits until s is readable (or, writing, connected); false on the deadline.
bool waitFor(SOCKET s, bool writing, ReadingSocket::Deadline deadline) {
  fd_set ready, failed;
  FD_ZERO(&ready);
  FD_ZERO(&failed);
  FD_SET(s, &ready);
  FD_SET(s, &failed);
  timeval wait = timeUntil(deadline);
  int rc = ::select(0, writing ? nullptr : &ready, writing ? &ready : nullptr, &failed, &wait);
  return rc > 0 && FD_ISSET(s, &ready);
}

std::string errorText(int code) {
  return std::system_category().message(code);
}

}  // namespace

ReadingSocket::ReadingSocket(const std::string& host, unsigned int port, Deadline deadline)
    : socket_(static_cast<std::intptr_t>(INVALID_SOCKET)),
      where_(host + ":" + std::to_string(port)) {
  startWinsock();
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  int rc = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
  if (rc != 0)
    throw DbError("08001", 2005, "Unknown server host '" + host + "' (" + errorText(rc) + ")");
  std::string why = "no address";
  for (addrinfo* a = found; a != nullptr; a = a->ai_next) {
    SOCKET s = ::socket(a->ai_family, a->ai_socktype, a->ai_protocol);
    if (s == INVALID_SOCKET) continue;
    u_long nonBlocking = 1;
    ::ioctlsocket(s, FIONBIO, &nonBlocking);
    if (::connect(s, a->ai_addr, static_cast<int>(a->ai_addrlen)) == 0 ||
        (::WSAGetLastError() == WSAEWOULDBLOCK && waitFor(s, true, deadline))) {
      socket_ = static_cast<std::intptr_t>(s);
      break;
    }
    why = errorText(::WSAGetLastError());
    ::closesocket(s);
  }
  ::freeaddrinfo(found);
  if (static_cast<SOCKET>(socket_) == INVALID_SOCKET) {
    throw DbError("08001", 2002, "Can't connect to server on " + where_ + " (" + why + ")");
  }
}

ReadingSocket::~ReadingSocket() {
  ::closesocket(static_cast<SOCKET>(socket_));
}

std::size_t ReadingSocket::readSome(char* buffer, std::size_t length, Deadline deadline) {
  SOCKET s = static_cast<SOCKET>(socket_);
  if (!waitFor(s, false, deadline)) {
    throw DbError("08S01", 2013, "the server on " + where_ + " did not greet in time");
  }
  int n = ::recv(s, buffer, static_cast<int>(length), 0);
  if (n < 0) {
    throw DbError("08S01", 2013, "reading from " + where_ + ": " + errorText(::WSAGetLastError()));
  }
  return static_cast<std::size_t>(n);
}

}  // namespace agent
