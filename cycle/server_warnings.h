// What the portal's server did to the values it was sent. A load (LOAD DATA
// LOCAL implies IGNORE) and a statement outside strict mode store a value
// that does not fit its column clipped, rounded or with "?" for a character
// the column cannot hold, and say so only as a warning. After every
// statement that writes rows the warnings are read (SHOW WARNINGS); each
// changed value is a journal line naming table and column, counted for the
// cycle's summary, and remembered so that change detection does not vouch
// for the table. A number out of range (a money column), and any change to
// a value the agent's own statements write (marks, merges), is an error.
// An empty field, which the export writes for NULL, stores a number's 0 and
// a date's zero date as it always has: that is no changed value.
#ifndef AGENT_CYCLE_SERVER_WARNINGS_H_
#define AGENT_CYCLE_SERVER_WARNINGS_H_

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "base/mutex.h"
#include "base/thread_annotations.h"
#include "cycle/journal.h"
#include "db/connection.h"

namespace agent {

// The values the server changed during one cycle. Safe to use from the
// thread that sends a staging load while the cycle's thread exports.
class ServerWarnings {
 public:
  void add(const std::string& table, std::size_t values);
  // The values changed this cycle; a value changed both in a staging table
  // and in its table counts once.
  std::size_t changedValues() const;
  // The values of table and of its staging table ("tmp" + table) changed
  // so far.
  std::size_t changedValues(std::string_view table) const;

 private:
  // The cycle's thread and a streamed load's thread both add.
  mutable Mutex mutex_;
  std::map<std::string, std::size_t, std::less<>> tables_ GUARDED_BY(mutex_);
};

// The table a statement writes (LOAD DATA ... INTO TABLE t, UPDATE t,
// INSERT INTO t, REPLACE INTO t, DELETE FROM t), lower case; empty for a
// statement that writes no rows.
std::string tableWritten(std::string_view sql);

// A Connection decorator: after every statement that writes rows, reads
// the server's warnings on target and reports the changed values to
// journal and record; throws AgentError(kDataConversion) naming table,
// column and the server's message when a number was out of range or the
// statement was not a load. target, journal and record must outlive it.
class WarningCheckedConnection : public ConnectionWrapper {
 public:
  WarningCheckedConnection(Connection& target, Journal& journal, ServerWarnings& record)
      : ConnectionWrapper(target), journal_(journal), record_(record) {}

  void execute(const std::string& sql) override;

 private:
  enum class ColumnKind { Number, Date, Other };
  void checkWarnings(const std::string& sql, const std::string& table);
  std::map<std::string, ColumnKind> columnKinds(const std::string& table);
  Journal& journal_;
  ServerWarnings& record_;
};

}  // namespace agent

#endif  // AGENT_CYCLE_SERVER_WARNINGS_H_
