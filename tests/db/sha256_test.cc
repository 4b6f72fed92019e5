// The engine's SHA-256 against the standard's test messages, on the
// processor's SHA instructions where it has them and without them alike.
#include "db/embedded/sha256.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace agent::tsql {
namespace {

std::string hex(const Sha256Digest& digest) {
  std::string out;
  char byte[3];
  for (std::uint8_t b : digest) {
    std::snprintf(byte, sizeof byte, "%02x", b);
    out += byte;
  }
  return out;
}

TEST(Sha256, GivesTheStandardsDigestsWithAndWithoutShaInstructions) {
  struct Case {
    std::string message;
    const char* digest;
  };
  const Case cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      // 56 bytes: the length no longer fits the last block.
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000000, 'a'),
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(hex(sha256(c.message)), c.digest) << c.message.size() << " bytes";
    EXPECT_EQ(hex(sha256Portable(c.message)), c.digest) << c.message.size() << " bytes";
  }
  // Every length around the block boundaries, both ways alike.
  std::string message;
  for (int length = 0; length < 300; ++length) {
    EXPECT_EQ(sha256(message), sha256Portable(message)) << length << " bytes";
    message += static_cast<char>('!' + (length * 37) % 90);
  }
}

}  // namespace
}  // namespace agent::tsql
