// Remote statements sent on a thread of their own: a table's staging
// statements, whose load reads the export file while the cycle's thread is
// still writing it. The connection belongs to the thread until it is
// joined; the cycle's thread keeps the local connection, the journal and
// the change state.
//
// Owned by the export pass of a full table run (MirrorTable's
// StagingStream), which starts it on the cycle's thread just before the
// table's export file gets its first line and joins it there once the
// pass's files are closed (or failed). It has no stop of its own: it ends
// when its statements do, sends nothing more once the export file failed,
// and the cycle's stop reaches it as the cycle's other statements, through
// its connection (cancelled, and refusing further statements).
#ifndef AGENT_UPLOAD_STATEMENT_THREAD_H_
#define AGENT_UPLOAD_STATEMENT_THREAD_H_

#include <exception>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/thread_checker.h"
#include "db/connection.h"
#include "db/growing_file.h"

namespace agent {

class StatementThread {
 public:
  // Sends statements in order on connection, up to the first that fails;
  // none is sent once file has failed (its export stopped). connection must
  // outlive this object.
  StatementThread(Connection& connection, std::vector<std::string> statements,
                  std::shared_ptr<const GrowingFile> file);
  // Joins. The file must have ended by then (finished or failed), or a
  // load of it waits for the file's stall limit.
  ~StatementThread();
  StatementThread(const StatementThread&) = delete;
  StatementThread& operator=(const StatementThread&) = delete;

  // Waits for the statements; rethrows the failure of one of them.
  void join();
  // For a writer whose export failed (the file failed already): waits and
  // rethrows a statement's failure only when it came before the file
  // failed; a load that failed because the file did is no news.
  void joinAfterExportFailed();

 private:
  ThreadChecker owner_;
  // Written by the thread, read by the owner once it was joined.
  std::exception_ptr error_;
  bool failedBeforeFile_ = false;
  std::thread thread_;  // last: started once the members above exist
};

}  // namespace agent

#endif  // AGENT_UPLOAD_STATEMENT_THREAD_H_
