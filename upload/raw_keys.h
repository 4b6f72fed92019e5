// The raw-key records a table that deletes by key keeps beside its lines:
// [key hash, 8 bytes][length, 4 bytes][the key as exported], in no order,
// in the machine's byte order. Shared by the run that gathers them and
// the store that keeps them.
#ifndef AGENT_UPLOAD_RAW_KEYS_H_
#define AGENT_UPLOAD_RAW_KEYS_H_

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace agent {

// Appends the record of key and its text to raws.
inline void appendRaw(std::string& raws, std::uint64_t key, std::string_view text) {
  char head[12];
  auto length = static_cast<std::uint32_t>(text.size());
  std::memcpy(head, &key, 8);
  std::memcpy(head + 8, &length, 4);
  raws.append(head, sizeof head);
  raws.append(text);
}

// Calls f(key, text) for every record of raws; false when a record is cut.
template <typename F>
bool forEachRaw(std::string_view raws, F f) {
  while (!raws.empty()) {
    if (raws.size() < 12) return false;
    std::uint64_t key;
    std::uint32_t length;
    std::memcpy(&key, raws.data(), 8);
    std::memcpy(&length, raws.data() + 8, 4);
    if (raws.size() - 12 < length) return false;
    f(key, raws.substr(12, length));
    raws.remove_prefix(12 + length);
  }
  return true;
}

// Whether sorted holds key.
inline bool holds(const std::vector<std::uint64_t>& sorted, std::uint64_t key) {
  return std::binary_search(sorted.begin(), sorted.end(), key);
}

}  // namespace agent

#endif  // AGENT_UPLOAD_RAW_KEYS_H_
