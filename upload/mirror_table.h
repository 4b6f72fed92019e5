// MirrorTable: the procedure that mirrors one local table into its remote
// table. It writes the source query's rows to the export file, then has
// the remote server load that file twice: into the staging table, from
// which the merge update brings existing rows up to date, and into the
// target, which adds the rows whose key it does not hold yet. Nothing is
// deleted remotely unless the table sets a sweep. An empty source query
// leaves the old export file and sends nothing. On the native driver a full
// run loads the staging table while the file is still written.
//
// With change detection on (CycleContext::changes), a table whose merge
// update names its key writes only the lines that differ from those last
// merged (upload/change_state.h) and sends the same statements over that
// smaller file; a sweep becomes a delete by key of the keys that
// disappeared. The table is merged in full when the state cannot vouch for
// the remote table (see run()).
//
// It puts three parts together: MergePlan makes the statements
// (upload/merge_plan.h), ChangeRun decides and records change detection
// (upload/change_run.h), and the export pass writes the files, streaming
// the staging load where it can (mirror_export.cc).
#ifndef AGENT_UPLOAD_MIRROR_TABLE_H_
#define AGENT_UPLOAD_MIRROR_TABLE_H_

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cycle/cycle_context.h"
#include "db/connection.h"
#include "upload/change_run.h"
#include "upload/change_state.h"
#include "upload/merge_plan.h"
#include "upload/mirror_description.h"
#include "upload/statement_thread.h"

namespace agent {

class ExportFile;

class MirrorTable {
 public:
  // ctx and description must outlive this object.
  MirrorTable(CycleContext& ctx, const MirrorDescription& description);

  // Statements of the table's own, sent in order between the merge update
  // and the insert load.
  void setStatementsAfterMerge(std::vector<std::string> statements);

  // A mark-and-sweep around the merge (upload/merge_plan.h).
  using Sweep = MergeSweep;
  void setSweep(Sweep sweep);

  // A table whose merge update does not join on its key (one that only
  // gains rows) names the export fields of its remote key here, for change
  // detection, and its whole statement list (sent after the export in place
  // of the ordinary ones). A changes-only run sends that list only when it
  // wrote a line; such a table never deletes remotely.
  void setChangeKey(std::vector<std::size_t> fields);
  void setOwnStatements(RemoteSteps steps);

  // The connection the source query runs on (by default the cycle's local
  // one): a stage whose temporary tables were made ahead on another local
  // connection reads them there. source must outlive this object.
  void setSource(Connection& source) { source_ = &source; }

  // A source the cycle computes from other local rows: fingerprint is that
  // of the rows it is (or would be) made from (upload/source_fingerprint.h),
  // kept with the table's state. A changes-only run whose state holds the
  // same fingerprint reads nothing: every stored line stands. make, when
  // set, makes the source (not made yet) before a run reads it, and returns
  // the fingerprint that then holds.
  void setComputedSource(std::string fingerprint, std::function<std::string()> make);
  // For stages that write several files in one pass, once prepareChanges()
  // ran: whether this is a changes-only run whose state holds the computed
  // source's fingerprint (its lines are the stored ones: nothing need be
  // read), and that run: the stored lines stand, and only what the state
  // asks of the remote table (a clear of marks) is sent.
  bool keepsStoredLines() const;
  void runStoredLines();

  // The whole procedure: source query, export file, remote statements. On
  // a connection that streams local files, a full run loads the staging
  // table while it writes the export file.
  // Returns the rows written to the export file (0: nothing written or
  // sent). Throws the first AgentError of any step; statements already
  // sent stay done and the export file is closed.
  //
  // With change detection on, the table is merged in full when the state
  // store knows nothing of it, when its last run did not finish, when its
  // last full merge is older than the configured hours, or when the remote
  // table's row count is not what the state expects (counted unless the
  // table's last-change stamp shows nothing changed it since).
  std::size_t run();

  // The steps, for stages that combine tables (one source, two files).
  // openSource() runs the source query (with change detection on, full
  // run or not, the description's changes source query when it has one).
  std::unique_ptr<Recordset> openSource() const;
  const std::filesystem::path& exportPath() const { return exportPath_; }
  // The table's statements (staging, merge, loads), for a stage that
  // sends them in its own order.
  const MergePlan& plan() const { return plan_; }
  // Sends steps in order, each unit again after a cluster node refused it.
  void sendRemote(const RemoteSteps& steps) const;

  // Writes every row of rows, from the current one to the end, as one line
  // of each table's export file (files made anew, closed on every path;
  // with change detection, only the lines offerLine() lets through).
  // Returns the rows read. The journal notes per table the characters its
  // code page could not hold.
  static std::size_t exportRows(Recordset& rows, std::initializer_list<MirrorTable*> tables);
  // The same, with staging (when not null: the first table's staging
  // statements, ending in its load) sent on a thread of its own while the
  // first table's file is written, and joined before it returns; only on
  // a connection that streams local files. Throws the export's error, or
  // the statements' failure.
  static std::size_t exportRows(Recordset& rows, std::initializer_list<MirrorTable*> tables,
                                const std::vector<std::string>* staging);

  // The staging statements of a full run sent while the table's file is
  // written: the file is granted as it grows, and the statements run on a
  // thread of their own (the remote connection is theirs until joined).
  // Made before the pass's files and ended after them: a file left
  // unfinished fails the load.
  class StagingStream {
   public:
    // Starts staging (ending in the table's staging load) for file, the
    // table's export file, before its first line.
    void start(MirrorTable& table, ExportFile& file, const std::vector<std::string>& staging);
    bool started() const { return load_.has_value(); }
    // Once the pass's files are closed: waits; rethrows a statement's
    // failure. Statements a cluster node refused (conflict_retry.h) are
    // sent again here, drop, create and load as one unit, the file whole.
    void join();
    // From the pass's catch block, once its files are gone: waits; the
    // export's error stays the one reported, and a load that failed only
    // because of it is not where the cycle ended.
    void joinAfterExportFailed(CycleContext& ctx);

   private:
    std::optional<StatementThread> load_;
    CycleContext* ctx_ = nullptr;
    std::string table_;
    std::vector<std::string> staging_;
  };

  // Change detection, for stages that write several files in one pass.
  // prepareChanges() decides whether this run is full or changes-only; it
  // returns false when change detection is off or the merge update names no
  // key, and the table then runs in full exactly as without it (the calls
  // below change nothing).
  bool prepareChanges();
  // Once the source holds rows: marks the tables' runs started, then
  // begins them.
  static void beginChanges(std::initializer_list<MirrorTable*> tables);
  // Whether the line with these fields goes into the export file.
  bool offerLine(std::span<const std::string> fields);
  // offerLine() in two steps, for a pass that takes the next line before it
  // decides this one: take() keeps what change detection needs of the line
  // (its key and digest) and asks for the memory of its stored line;
  // decide() says whether the line goes into the file. A table's lines are
  // decided in the order they were taken.
  using TakenLine = ChangeRun::TakenLine;
  void take(std::span<const std::string> fields, TakenLine& line);
  bool decide(const TakenLine& line);
  // Whether this run sends the table's file (a full run, or any line sent).
  bool sendsFile() const;
  // Whether this run writes and sends every line (no change detection, or
  // a full merge); known once prepareChanges() ran.
  bool runsFull() const { return !changes_ || changes_->full(); }
  // The lines this run sent of rowsRead rows offered: all of them without
  // change detection. What a stage that writes several files reports.
  std::size_t rowsSent(std::size_t rowsRead) const {
    return changes_ ? changes_->sent() : rowsRead;
  }
  // The remote statements of this run: the plan's full statements for a full run;
  // otherwise the same over the smaller file, with deletes by key in place
  // of a sweep, or nothing when nothing changed.
  RemoteSteps runStatements();
  // After the statements succeeded: commits the table's state and notes
  // the merge in the journal.
  void finishChanges();

 private:
  // Writes the export file of a full run; statements are the run's remote
  // statements. Where the remote connection streams local files, the
  // staging drop, create and load at their head are sent (and taken out)
  // while the file is written, the load reading it as it grows.
  std::size_t exportFull(Recordset& source, RemoteSteps& statements);
  std::size_t runFull();
  // Makes a computed source that is not made yet.
  void makeSource();

  CycleContext& ctx_;
  const MirrorDescription& description_;
  std::filesystem::path exportPath_;
  MergePlan plan_;
  Connection* source_;
  std::optional<std::vector<std::size_t>> changeKey_;
  std::string sources_;  // the fingerprint of a computed source
  std::function<std::string()> makeSource_;
  // The change-detection run under way (prepareChanges() to finishChanges()).
  std::optional<ChangeRun> changes_;
  TakenLine offered_;  // the line offerLine() offers (its buffer reused line after line)
};

// A source query without rows: ADO's EOF and BOF together.
inline bool hasNoRows(const Recordset& rows) {
  return rows.eof() && rows.bof();
}

// The whole procedure for the table of group that is named table (a stage
// of a plain table mirror). Returns the rows exported.
std::size_t mirrorTable(CycleContext& ctx, std::span<const MirrorDescription> group,
                        std::string_view table);

// Hands table's closed export file to the loads that follow: granted to the
// remote connection as it was written (a file streamed while written stays
// granted as it grew: pass streamed), and the characters its code page
// could not hold journaled as a warning naming table.
void handOverExport(CycleContext& ctx, std::string_view table, const ExportFile& file,
                    bool streamed = false);

}  // namespace agent

#endif  // AGENT_UPLOAD_MIRROR_TABLE_H_
