// ChangeState: what the remote database holds of each mirrored table as far
// as this agent sent it — per table and key, a digest of the export line
// last merged — kept in a SQLite file in the program folder so that a cycle
// can send only the lines that changed. Also per table: when it was last
// merged in full, how many rows the remote table should hold, whether the
// last run of the table finished, whether rows the last run inserted still
// carry their file marks, and the remote table's last-change stamp that
// vouches for it (see MirrorTable::prepareChanges()).
//
// A table's lines are one sorted array of (key hash, digest) pairs, 16
// bytes a line, stored as one blob: a run loads it, looks each exported
// line up (a directory of key prefixes, then a short search) and writes it
// back in one pass. Raw key texts,
// which a delete by key needs, are kept only for the tables that ask.
//
// A table's new digests are gathered while its export is written and
// become the state only by commit(), which the caller makes after the
// table's remote statements succeeded: a failed or killed cycle leaves the
// old digests, so the same changes are sent again.
#ifndef AGENT_UPLOAD_CHANGE_STATE_H_
#define AGENT_UPLOAD_CHANGE_STATE_H_

#include <sqlite3.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "base/sqlite_handle.h"

namespace agent {

class ChangeState {
 public:
  // The store's file name inside the program folder.
  static constexpr const char* kFileName = "upload-state.sqlite";

  // Opens or creates the store at file. Throws AgentError(kFileError)
  // naming the file when it cannot be opened or made. A store of an older
  // layout is emptied (every table is then merged in full once).
  explicit ChangeState(const std::filesystem::path& file);

  // Whether the store can serve a cycle: it takes a write (a store made
  // read-only, or on a full disk, fails here rather than in a stage) and,
  // when thorough, reads every page (a damaged file). Throws AgentError
  // naming what failed.
  void checkUsable(bool thorough);
  // True once an operation failed: the store may be damaged or unwritable,
  // and is checked before it serves another cycle.
  bool failed() const { return failed_; }

  // Ties the store to the remote database identity names, at the start of
  // a cycle (a run the last cycle left open is dropped). A store that
  // belongs to another remote database (or none yet) is emptied: every
  // table is then merged in full.
  void bindRemote(const std::string& identity);

  // The start stamp the last cycle wrote in the portal's control row, as
  // recorded by recordPortalMark(); empty when none was. A portal that
  // carries another one went back in time (restored from a backup), or the
  // store did (an older copy put back): it does not vouch for any table.
  std::string portalMark();
  void recordPortalMark(const std::string& mark);
  // Empties the store's tables (every table is then merged in full); the
  // remote database it belongs to stays.
  void forgetTables();

  struct TableState {
    std::int64_t lastFullSeconds = 0;  // Unix time of the last full merge
    std::int64_t expectedRows = 0;     // remote rows after the last run
    bool finished = false;             // the last run's statements all succeeded
    bool marksLeft = false;            // the last run inserted rows that carry file marks
    // The remote table's last-change time as the server reported it once
    // nothing could change the table within that second any more, or as
    // read right after this agent's statements in their second (marked by
    // the caller); empty when none vouches for the table.
    std::string remoteStamp;
    // For a table the cycle computes from other local rows: the fingerprint
    // of the rows its stored lines were made from (empty when none vouches).
    std::string sources;
  };
  // The table's state; nullopt when the store knows nothing of it.
  std::optional<TableState> table(const std::string& name);
  // Whether the store knows no table at all (a first cycle, or the first
  // against another remote database): every table is merged in full.
  bool knowsNoTable();

  // Records that a run of the table is under way (committed at once, so
  // called before begin()), so that a cycle that ends before commit()
  // leaves the table unfinished.
  void markStarted(const std::string& name);

  // One run's lines: begin, then offer every line of the export in file
  // order; offer() says whether the line must be sent. Several tables may
  // run at once (one pass writing several files). keepRawKeys: the table
  // deletes remotely by key, so its raw key texts are kept.
  void begin(const std::string& name, bool full, bool keepRawKeys);
  enum class Offer { SendNew, SendChanged, Unchanged, RepeatedKey };
  // keyHash: keyHash() of the key as the remote compares it; rawKey: its
  // text as exported. A full run answers SendNew for every line.
  Offer offer(const std::string& name, std::uint64_t keyHash, std::string_view rawKey,
              std::uint64_t digest);
  // For a changes-only run whose source is known to give exactly the stored
  // lines: offers each of them unchanged. Returns how many.
  std::size_t offerStoredUnchanged(const std::string& name);
  // Asks the processor for the memory where keyHash's stored line lies, so
  // that its offer() a little later does not wait for it: a large table's
  // lines are too many for the cache, and each lookup would miss it.
  void prefetch(const std::string& name, std::uint64_t keyHash);
  // Keys the store holds for the table that this run did not offer, as
  // their raw key texts (a changes-only run of a table that keeps them).
  std::vector<std::string> vanishedKeys(const std::string& name);
  // Makes this run's lines the table's state. dropVanished removes the
  // keys vanishedKeys() gave (the remote rows were deleted); a full run
  // replaces the table's keys with the offered ones. Commits at once.
  void commit(const std::string& name, const TableState& state, bool dropVanished);
  // Drops this run's lines without making them the state: the table stays
  // unfinished (markStarted()), so the next cycle merges it in full.
  void abandon(const std::string& name) { runs_.erase(name); }
  // Records stamp as the one that vouches for the table, if its last run
  // finished and left expectedRows (a stamp read and checked after the
  // commit). Commits at once.
  void recordStamp(const std::string& name, const std::string& stamp, std::int64_t expectedRows);

 private:
  struct Entry {
    std::uint64_t key;
    std::uint64_t digest;
  };
  // Keys are hashes, spread evenly over 64 bits: the index of the first
  // stored line of each value of a key's top bits, and where the key falls
  // within that bucket's range, lead a lookup to within a few lines of it
  // (a binary search over a million lines misses the cache at every step).
  class LineDirectory {
   public:
    void build(const std::vector<Entry>& lines);
    // The first index of lines whose key is not below key.
    std::size_t lowerBound(const std::vector<Entry>& lines, std::uint64_t key) const;
    // Where in lines the search for key starts: within a few lines of it.
    std::size_t estimate(std::uint64_t key) const;

   private:
    std::size_t bucket(std::uint64_t key) const { return bits_ == 0 ? 0 : key >> (64 - bits_); }
    int bits_ = 0;
    std::vector<std::uint32_t> first_;  // per bucket, then the number of lines
  };
  struct Run {
    bool full = false;
    bool keepRaw = false;
    bool changed = false;                    // a digest differs from the stored one
    bool rawMissing = false;                 // a vanished key had no raw text stored
    std::vector<std::vector<Entry>> chunks;  // full: the offered lines
    std::vector<Entry> lines;                // changes-only: the stored lines
    LineDirectory directory;                 // changes-only: where a key's lines start
    std::vector<std::uint8_t> seen;          // changes-only: offered, by index in lines
    std::vector<Entry> added;                // changes-only: keys the store did not hold
    std::unordered_set<std::uint64_t> addedKeys;
    std::string raws;                     // raw key records of the offered (full) or added keys
    std::vector<std::uint64_t> vanished;  // sorted, once vanishedKeys() ran
  };

  void endStaleRun();
  void exec(const char* sql);
  StatementHandle prepare(const char* sql);
  [[noreturn]] void fail(const std::string& what) const;
  Run& run(const std::string& name);
  // commit()'s work inside its transaction.
  void store(const std::string& name, Run& r, const TableState& state, bool dropVanished);
  // Reads the blob of name's kind into the buffer reserve(bytes) returns;
  // false when the store holds none. what names it in an error.
  bool readBlob(const std::string& name, const char* kind, const std::string& what,
                const std::function<void*(int bytes)>& reserve);
  // The table's stored lines blob or raw key records; empty when none.
  std::vector<Entry> loadLines(const std::string& name);
  std::string loadRaws(const std::string& name, bool* present);
  using Write = std::function<void(const void* data, std::size_t bytes)>;
  using Emit = std::function<void(const Entry&)>;
  void storeBlob(const std::string& name, const char* kind, std::size_t bytes,
                 const std::function<void(const Write&)>& fill);
  void storeBlob(const std::string& name, const char* kind, const void* data, std::size_t bytes);
  // Stores the entries each() emits, in key order (it is called twice).
  void storeEntries(const std::string& name, const std::function<void(const Emit&)>& each);

  std::filesystem::path file_;
  DatabaseHandle db_;
  mutable bool failed_ = false;      // set by fail()
  std::map<std::string, Run> runs_;  // the runs under way, by table
};

// The 64-bit FNV-1a digest of a line's fields (each followed by a unit
// separator, so that field boundaries count).
std::uint64_t lineDigest(std::span<const std::string> fields);

// A 64-bit hash of a key as the remote compares it: raw is the key's
// fields joined by unit separators; letters compare without case and each
// field without trailing blanks (the remote collation). Two distinct keys
// share a hash with odds of about n²/2^65 for n keys (1 in 37 million at
// 1,000,000): the second is then taken for a repeated key.
std::uint64_t keyHash(std::string_view raw);

}  // namespace agent

#endif  // AGENT_UPLOAD_CHANGE_STATE_H_
