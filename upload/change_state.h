// ChangeState: what the remote database holds of each mirrored table as far
// as this agent sent it — per table and key, a digest of the export line
// last merged — kept in a SQLite file in the program folder so that a cycle
// can send only the lines that changed. Also per table: when it was last
// merged in full, how many rows the remote table should hold, whether the
// last run of the table finished, and whether rows the last run inserted
// still carry their file marks.
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
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace agent {

class ChangeState {
  struct CloseDatabase {
    void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
  };
  struct Finalize {
    void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
  };
  using Database = std::unique_ptr<sqlite3, CloseDatabase>;
  using Statement = std::unique_ptr<sqlite3_stmt, Finalize>;

 public:
  // The store's file name inside the program folder.
  static constexpr const char* kFileName = "upload-state.sqlite";

  // Opens or creates the store at file. Throws AgentError(kFileError)
  // naming the file when it cannot be opened or made.
  explicit ChangeState(const std::filesystem::path& file);

  // Ties the store to the remote database identity names, at the start of
  // a cycle (a run the last cycle left open is dropped). A store that
  // belongs to another remote database (or none yet) is emptied: every
  // table is then merged in full.
  void bindRemote(const std::string& identity);

  struct TableState {
    std::int64_t lastFullSeconds = 0;  // Unix time of the last full merge
    std::int64_t expectedRows = 0;     // remote rows after the last run
    bool finished = false;             // the last run's statements all succeeded
    bool marksLeft = false;            // the last run inserted rows that carry file marks
  };
  // The table's state; nullopt when the store knows nothing of it.
  std::optional<TableState> table(const std::string& name);

  // Records that a run of the table is under way (committed at once, so
  // called before begin()), so that a cycle that ends before commit()
  // leaves the table unfinished.
  void markStarted(const std::string& name);

  // One run's lines: begin, then offer every line of the export in file
  // order; offer() says whether the line must be sent. Several tables may
  // run at once (one pass writing several files); their pending lines
  // share one transaction, which the last commit() ends.
  void begin(const std::string& name, bool full);
  enum class Offer { SendNew, SendChanged, Unchanged, RepeatedKey };
  Offer offer(const std::string& name, std::string_view key, std::string_view rawKey,
              std::uint64_t digest);
  // Keys the store holds for the table that this run did not offer, as
  // their raw key texts.
  std::vector<std::string> vanishedKeys(const std::string& name);
  // Makes this run's lines the table's state. dropVanished removes the
  // keys vanishedKeys() gave (the remote rows were deleted); a full run
  // replaces the table's keys with the offered ones.
  void commit(const std::string& name, const TableState& state, bool dropVanished);

 private:
  void endStaleRun();
  void exec(const char* sql);
  Statement prepare(const char* sql);
  [[noreturn]] void fail(const std::string& what) const;

  struct Run {
    bool full = false;
    std::string pending;  // its temporary table
    Statement addPending;
    Statement findLine;
  };
  Run& run(const std::string& name);

  std::filesystem::path file_;
  Database db_;
  std::map<std::string, Run> runs_;  // the runs under way, by table
};

// The 64-bit FNV-1a digest of a line's fields (each followed by a unit
// separator, so that field boundaries count).
std::uint64_t lineDigest(std::span<const std::string> fields);

}  // namespace agent

#endif  // AGENT_UPLOAD_CHANGE_STATE_H_
