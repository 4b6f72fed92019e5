#include "tests/support/hostile_portal.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <stdexcept>

#include "base/text.h"

namespace agent::testing {
namespace {

// Client capabilities the server offers: long password and flags, connect
// with a database, LOCAL FILES, protocol 4.1, transactions, secure
// connection, multi-statements and -results, plugin authentication. No TLS.
constexpr std::uint32_t kCapabilities =
    0x1 | 0x4 | 0x8 | 0x80 | 0x200 | 0x2000 | 0x8000 | (1u << 16) | (1u << 17) | (1u << 19);

struct Packet {
  std::uint8_t sequence = 0;
  std::string payload;
};

// Waits for data while the server runs (at most 5 s between pieces); false
// on end of stream, error, time-out or stop.
bool readExactly(int fd, char* out, std::size_t size, const std::atomic<bool>& stop) {
  std::size_t got = 0;
  while (got < size) {
    pollfd p{fd, POLLIN, 0};
    int waited = 0;
    int ready = 0;
    while (!stop && waited < 5000 && (ready = poll(&p, 1, 50)) == 0) waited += 50;
    if (ready <= 0) return false;
    ssize_t n = ::recv(fd, out + got, size - got, 0);
    if (n <= 0) return false;
    got += static_cast<std::size_t>(n);
  }
  return true;
}

bool readPacket(int fd, Packet* packet, std::string* log, const std::atomic<bool>& stop) {
  unsigned char header[4];
  if (!readExactly(fd, reinterpret_cast<char*>(header), 4, stop)) return false;
  std::size_t length = header[0] | (header[1] << 8) | (header[2] << 16);
  packet->sequence = header[3];
  packet->payload.assign(length, '\0');
  if (length > 0 && !readExactly(fd, packet->payload.data(), length, stop)) return false;
  log->append(reinterpret_cast<char*>(header), 4);
  log->append(packet->payload);
  return true;
}

void put16(std::string& s, std::uint32_t v) {
  s += static_cast<char>(v & 0xFF);
  s += static_cast<char>((v >> 8) & 0xFF);
}

void writePacket(int fd, std::uint8_t sequence, const std::string& payload) {
  std::string bytes;
  put16(bytes, payload.size() & 0xFFFF);
  bytes += static_cast<char>((payload.size() >> 16) & 0xFF);
  bytes += static_cast<char>(sequence);
  bytes += payload;
  (void)::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
}

std::string ok() {
  return std::string("\x00\x00\x00\x02\x00\x00\x00", 7);  // no rows, autocommit, no warnings
}

std::string lengthEncoded(const std::string& text) {
  return static_cast<char>(text.size()) + text;  // texts under 251 bytes
}

// A text result set of one column and one row holding value, as a server
// answers "select @@character_set_database" (classic EOF packets: the
// server does not offer CLIENT_DEPRECATE_EOF).
void writeOneValue(int fd, const std::string& value) {
  const std::string eof("\xFE\0\0\x02\0", 5);
  std::string column = lengthEncoded("def") + lengthEncoded("") + lengthEncoded("") +
                       lengthEncoded("") + lengthEncoded("v") + lengthEncoded("") + '\x0C';
  column += std::string("\x21\0\x40\0\0\0\xFD\0\0\0\0\0", 12);
  writePacket(fd, 1, std::string(1, '\x01'));
  writePacket(fd, 2, column);
  writePacket(fd, 3, eof);
  writePacket(fd, 4, lengthEncoded(value));
  writePacket(fd, 5, eof);
}

std::string handshake() {
  // Protocol 10, the version, connection id 7, the scramble's first part.
  std::string h(
      "\x0a"
      "5.5.5-10.11.0-portal\0"
      "\x07\0\0\0"
      "abcdefgh\0",
      35);
  put16(h, kCapabilities & 0xFFFF);
  h += '\x21';  // utf8
  put16(h, 0x0002);
  put16(h, kCapabilities >> 16);
  h += static_cast<char>(21);
  h += std::string(10, '\0');
  h += "ijklmnopqrst";  // scramble, second part
  h += '\0';
  h += std::string("mysql_native_password") + '\0';
  return h;
}

// The file name between the quotes after INFILE, as the server reads it.
std::string namedFile(const std::string& sql) {
  std::size_t q = sql.find('\'');
  if (q == std::string::npos) return "";
  std::string name;
  for (std::size_t i = q + 1; i < sql.size(); ++i) {
    if (sql[i] == '\\' && i + 1 < sql.size()) {
      name += sql[++i];
    } else if (sql[i] == '\'') {
      break;
    } else {
      name += sql[i];
    }
  }
  return name;
}

}  // namespace

HostilePortal::HostilePortal(Mode mode, std::string fileToAskFor)
    : mode_(mode), fileToAskFor_(std::move(fileToAskFor)) {
  listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      ::listen(listener_, 4) != 0 ||
      ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    throw std::runtime_error("hostile portal: cannot listen on 127.0.0.1");
  }
  port_ = ntohs(address.sin_port);
  thread_ = std::thread([this] { serve(); });
}

HostilePortal::~HostilePortal() {
  stop_ = true;
  thread_.join();
  ::close(listener_);
}

void HostilePortal::serve() {
  while (!stop_) {
    pollfd p{listener_, POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    session(fd);
    ::close(fd);
  }
}

void HostilePortal::session(int fd) {
  Packet packet;
  // Reads the next packet, keeping its bytes.
  auto next = [&] {
    std::string bytes;
    const bool got = readPacket(fd, &packet, &bytes, stop_);
    std::lock_guard<std::mutex> lock(mutex_);
    received_ += bytes;
    return got;
  };
  if (mode_ == Mode::Silent) {
    next();  // until the client gives up
    return;
  }
  writePacket(fd, 0, handshake());
  if (!next()) return;
  if (mode_ == Mode::ClearPasswordSwitch) {
    // Auth switch request: the client should answer with its password in
    // clear, which it must refuse on a link without TLS.
    writePacket(fd, packet.sequence + 1, std::string("\xFE") + "mysql_clear_password" + '\0');
    while (next()) writePacket(fd, packet.sequence + 1, ok());
    return;
  }
  writePacket(fd, packet.sequence + 1, ok());
  while (!stop_ && next()) {
    if (packet.payload.empty() || packet.payload[0] == 0x01) break;  // COM_QUIT
    if (packet.payload[0] != 0x03) {
      writePacket(fd, 1, ok());
      continue;
    }
    std::string sql = packet.payload.substr(1);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      statements_.push_back(sql);
    }
    if (sql == "select @@character_set_database") {
      writeOneValue(fd, "latin1");  // the character set the server reads files in
      continue;
    }
    if (toUpperAscii(sql.substr(0, 9)) != "LOAD DATA") {
      writePacket(fd, 1, ok());
      continue;
    }
    std::string file = namedFile(sql);
    if (mode_ == Mode::AskForAnotherFile && !askedOnce_) {
      file = fileToAskFor_;
      askedOnce_ = true;
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      asked_.push_back(file);
    }
    writePacket(fd, 1, "\xFB" + file);
    // The client sends the file in packets and ends with an empty one.
    std::uint8_t sequence = 2;
    while (next()) {
      sequence = packet.sequence + 1;
      if (packet.payload.empty()) break;
      std::lock_guard<std::mutex> lock(mutex_);
      fileBytes_ += packet.payload;
    }
    writePacket(fd, sequence, ok());
  }
}

template <typename T>
T HostilePortal::locked(const T& value) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return value;
}

std::string HostilePortal::received() const {
  return locked(received_);
}
std::string HostilePortal::fileBytes() const {
  return locked(fileBytes_);
}
std::vector<std::string> HostilePortal::filesAskedFor() const {
  return locked(asked_);
}
std::vector<std::string> HostilePortal::statements() const {
  return locked(statements_);
}

}  // namespace agent::testing
