#include "db/server_greeting.h"

#include <algorithm>
#include <cstdint>

#include "db/error.h"

namespace agent {
namespace {

constexpr std::uint32_t kClientSsl = 0x800;  // CLIENT_SSL in the capability flags

DbError noHandshake(const std::string& why) {
  return DbError("08001", 2013, "the portal's server sent no valid handshake: " + why);
}

}  // namespace

ServerGreeting parseServerGreeting(std::string_view payload) {
  if (payload.empty()) throw noHandshake("an empty packet");
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(payload[i]); };
  if (byte(0) == 0xff) {
    // An error packet: code (2 bytes), then "#" and the SQLSTATE, or the text.
    std::size_t text = payload.size() > 3 && payload[3] == '#' ? 9 : 3;
    long code = payload.size() >= 3 ? byte(1) | (byte(2) << 8) : 0;
    throw DbError("08004", code, text < payload.size() ? std::string(payload.substr(text)) : "");
  }
  if (byte(0) != 10) throw noHandshake("protocol version " + std::to_string(byte(0)));
  std::size_t nul = payload.find('\0', 1);
  // Version text, thread id (4), scramble (8), filler (1), capabilities (2).
  if (nul == std::string_view::npos || nul + 1 + 4 + 8 + 1 + 2 > payload.size()) {
    throw noHandshake("a packet too short");
  }
  ServerGreeting greeting;
  greeting.version = std::string(payload.substr(1, nul - 1));
  std::size_t flags = nul + 1 + 4 + 8 + 1;
  std::uint32_t capabilities = byte(flags) | (byte(flags + 1) << 8);
  greeting.offersTls = (capabilities & kClientSsl) != 0;
  return greeting;
}

ServerGreeting readServerGreeting(const std::string& host, unsigned int port, int timeoutSeconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
  ReadingSocket socket(host, port, deadline);
  std::string packet;
  // The header's first three bytes give the payload's length.
  std::size_t wanted = 4;
  char buffer[512];
  while (packet.size() < wanted) {
    std::size_t n =
        socket.readSome(buffer, std::min(sizeof buffer, wanted - packet.size()), deadline);
    if (n == 0) throw noHandshake("the connection was closed");
    packet.append(buffer, n);
    if (wanted == 4 && packet.size() == 4) {
      const auto b = [&](int i) {
        return static_cast<std::size_t>(static_cast<unsigned char>(packet[i]));
      };
      wanted += b(0) | (b(1) << 8) | (b(2) << 16);
    }
  }
  return parseServerGreeting(std::string_view(packet).substr(4));
}

}  // namespace agent
