// Change detection's run of one table in memory: the digest and key hash
// of a line, the directory that finds a key among the stored lines, and
// the offers that decide which lines are sent.
#include <algorithm>
#include <cstring>

#include "upload/change_state.h"
#include "upload/raw_keys.h"

namespace agent {

namespace {

// Lines per chunk of a full run (1 MiB).
constexpr std::size_t kChunkLines = 65536;

constexpr std::uint64_t kFnvOffset = 14695981039346656037ull;
constexpr std::uint64_t kFnvPrime = 1099511628211ull;

}  // namespace

std::uint64_t lineDigest(std::span<const std::string> fields) {
  std::uint64_t h = kFnvOffset;
  auto mix = [&h](unsigned char c) {
    h ^= c;
    h *= kFnvPrime;
  };
  for (const std::string& field : fields) {
    for (char c : field) mix(static_cast<unsigned char>(c));
    mix(0x1F);
  }
  return h;
}

std::uint64_t keyHash(std::string_view raw) {
  std::uint64_t h = kFnvOffset;
  auto mix = [&h](unsigned char c) {
    h ^= c;
    h *= kFnvPrime;
  };
  std::size_t start = 0;
  for (;;) {
    std::size_t end = raw.find('\x1F', start);
    std::string_view part = raw.substr(start, end == std::string_view::npos ? end : end - start);
    while (!part.empty() && part.back() == ' ') part.remove_suffix(1);
    for (char c : part) mix(static_cast<unsigned char>((c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c));
    if (end == std::string_view::npos) break;
    mix(0x1F);
    start = end + 1;
  }
  // A final mix spreads FNV's weak high bits over the word, which the
  // sorted array's order and the odds of a shared hash rely on.
  h ^= h >> 33;
  h *= 0xff51afd7ed558ccdull;
  h ^= h >> 33;
  return h;
}

void ChangeState::begin(const std::string& name, bool full, bool keepRawKeys) {
  if (runs_.empty()) endStaleRun();
  Run& r = runs_[name];
  r = Run();
  r.full = full;
  r.keepRaw = keepRawKeys;
  if (!full) {
    r.lines = loadLines(name);
    r.directory.build(r.lines);
    r.seen.assign(r.lines.size(), 0);
  }
}

void ChangeState::LineDirectory::build(const std::vector<Entry>& lines) {
  // About 64 lines a bucket: the directory (a sixteenth of a byte a line)
  // stays in the processor's cache.
  bits_ = 0;
  while (bits_ < 30 && (std::size_t{128} << bits_) <= lines.size()) ++bits_;
  std::size_t buckets = std::size_t{1} << bits_;
  first_.assign(buckets + 1, 0);
  std::size_t i = 0;
  for (std::size_t b = 0; b < buckets; ++b) {
    while (i < lines.size() && bucket(lines[i].key) < b) ++i;
    first_[b] = static_cast<std::uint32_t>(i);
  }
  first_[buckets] = static_cast<std::uint32_t>(lines.size());
}

std::size_t ChangeState::LineDirectory::estimate(std::uint64_t key) const {
  if (first_.empty()) return 0;
  std::size_t b = bucket(key);
  std::size_t lo = first_[b], hi = first_[b + 1];
  // The keys of a bucket are spread evenly over its range: where the key
  // would lie.
  std::uint64_t within = bits_ == 0 ? key : key << bits_;
  return lo + static_cast<std::size_t>((static_cast<unsigned __int128>(within) * (hi - lo)) >> 64);
}

std::size_t ChangeState::LineDirectory::lowerBound(const std::vector<Entry>& lines,
                                                   std::uint64_t key) const {
  if (first_.empty()) return 0;
  std::size_t b = bucket(key);
  std::size_t lo = first_[b], hi = first_[b + 1];
  // Step from the estimate to the key: a few lines, in one or two cache
  // lines.
  std::size_t at = estimate(key);
  while (at < hi && lines[at].key < key) ++at;
  while (at > lo && lines[at - 1].key >= key) --at;
  return at;
}

void ChangeState::prefetch(const std::string& name, std::uint64_t key) {
  Run& r = run(name);
  if (r.full || r.lines.empty()) return;
  std::size_t at = std::min(r.directory.estimate(key), r.lines.size() - 1);
  __builtin_prefetch(&r.lines[at]);
  __builtin_prefetch(&r.seen[at]);
}

ChangeState::Offer ChangeState::offer(const std::string& name, std::uint64_t key,
                                      std::string_view rawKey, std::uint64_t digest) {
  Run& r = run(name);
  if (r.full) {
    // Repeated keys are sorted out at commit(); a full run sends every line.
    // Fixed-size chunks: the array never doubles (a copy and a half of it
    // at the moment it grows).
    if (r.chunks.empty() || r.chunks.back().size() == kChunkLines) {
      r.chunks.emplace_back().reserve(kChunkLines);
    }
    r.chunks.back().push_back({key, digest});
    if (r.keepRaw) appendRaw(r.raws, key, rawKey);
    return Offer::SendNew;
  }
  std::size_t index = r.directory.lowerBound(r.lines, key);
  if (index < r.lines.size() && r.lines[index].key == key) {
    Entry* at = &r.lines[index];
    // The remote load keeps the first line of a key; so does the state.
    std::uint8_t& seen = r.seen[index];
    if (seen) return Offer::RepeatedKey;
    seen = 1;
    if (at->digest == digest) return Offer::Unchanged;
    at->digest = digest;
    r.changed = true;
    return Offer::SendChanged;
  }
  if (!r.addedKeys.insert(key).second) return Offer::RepeatedKey;
  r.added.push_back({key, digest});
  if (r.keepRaw) appendRaw(r.raws, key, rawKey);
  return Offer::SendNew;
}

std::size_t ChangeState::offerStoredUnchanged(const std::string& name) {
  Run& r = run(name);
  if (r.full) fail("a full run of " + name + " offers its lines");
  std::fill(r.seen.begin(), r.seen.end(), std::uint8_t{1});
  return r.lines.size();
}

std::vector<std::string> ChangeState::vanishedKeys(const std::string& name) {
  Run& r = run(name);
  std::vector<std::string> keys;
  if (r.full) return keys;
  r.vanished.clear();
  for (std::size_t i = 0; i < r.lines.size(); ++i) {
    if (!r.seen[i]) r.vanished.push_back(r.lines[i].key);
  }
  if (r.vanished.empty()) return keys;
  bool present = false;
  std::string raws = loadRaws(name, &present);
  std::vector<std::uint64_t> found;
  bool whole = forEachRaw(raws, [&](std::uint64_t key, std::string_view text) {
    if (holds(r.vanished, key) && !holds(found, key)) {
      keys.emplace_back(text);
      found.insert(std::upper_bound(found.begin(), found.end(), key), key);
    }
  });
  // A key without its text cannot be deleted remotely: the table is then
  // merged in full next time (commit() leaves it unfinished).
  r.rawMissing = !present || !whole || found.size() != r.vanished.size();
  return keys;
}

}  // namespace agent
