// SHA-256 (FIPS 180-4), for the engine's HASHBYTES('SHA2_256', ...).
#ifndef AGENT_DB_EMBEDDED_SHA256_H_
#define AGENT_DB_EMBEDDED_SHA256_H_

#include <array>
#include <cstdint>
#include <string_view>

namespace agent::tsql {

using Sha256Digest = std::array<std::uint8_t, 32>;

// With the processor's SHA instructions where it has them.
Sha256Digest sha256(std::string_view data);
// Without them, whatever the processor (what sha256() falls back to).
Sha256Digest sha256Portable(std::string_view data);

}  // namespace agent::tsql

#endif  // AGENT_DB_EMBEDDED_SHA256_H_
