// MirrorTable: the procedure that mirrors one local table into its remote
// table. It writes the source query's rows to the export file, then has
// the remote server load that file twice: into the staging table, from
// which the merge update brings existing rows up to date, and into the
// target, which adds the rows whose key it does not hold yet. Nothing is
// deleted remotely. An empty source query leaves the old export file and
// sends nothing.
#ifndef AGENT_UPLOAD_MIRROR_TABLE_H_
#define AGENT_UPLOAD_MIRROR_TABLE_H_

#include <cstddef>
#include <filesystem>
#include <initializer_list>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cycle/cycle_context.h"
#include "db/connection.h"
#include "upload/mirror_description.h"

namespace agent {

class ExportFile;

class MirrorTable {
 public:
  // ctx and description must outlive this object.
  MirrorTable(CycleContext& ctx, const MirrorDescription& description);

  // Statements of the table's own, sent in order between the merge update
  // and the insert load (a sweep of rows the file no longer holds, say).
  void setStatementsAfterMerge(std::vector<std::string> statements);

  // The whole procedure: source query, export file, remote statements.
  // Returns the rows exported (0: nothing written or sent). Throws the
  // first AgentError of any step; statements already sent stay done and
  // the export file is closed.
  std::size_t run();

  // The steps, for stages that combine tables (one source, two files).
  std::unique_ptr<Recordset> openSource() const;
  const std::filesystem::path& exportPath() const { return exportPath_; }
  std::string stagingDrop() const;
  std::string stagingCreate() const;
  std::string stagingLoad() const;
  const std::string& mergeUpdate() const { return description_.mergeUpdate; }
  std::string insertLoad() const;
  // The statements run() sends after the export, in order.
  std::vector<std::string> remoteStatements() const;
  void sendRemote(const std::vector<std::string>& statements) const;

  // Writes every row of rows, from the current one to the end, as one line
  // of each table's export file (files made anew, closed on every path).
  // Returns the rows written. The journal notes per table the characters
  // its code page could not hold.
  static std::size_t exportRows(Recordset& rows, std::initializer_list<const MirrorTable*> tables);

 private:
  CycleContext& ctx_;
  const MirrorDescription& description_;
  std::filesystem::path exportPath_;
  std::vector<std::string> afterMerge_;
};

// A source query without rows: ADO's EOF and BOF together.
inline bool hasNoRows(const Recordset& rows) {
  return rows.eof() && rows.bof();
}

// The whole procedure for the table of group that is named table (a stage
// of a plain table mirror). Returns the rows exported.
std::size_t mirrorTable(CycleContext& ctx, std::span<const MirrorDescription> group,
                        std::string_view table);

// Journals the characters file's code page could not hold, as a warning
// naming table; nothing when there were none.
void noteReplacedCharacters(Journal& journal, std::string_view table, const ExportFile& file);

}  // namespace agent

#endif  // AGENT_UPLOAD_MIRROR_TABLE_H_
