#include "upload/statement_thread.h"

#include <cassert>

namespace agent {

StatementThread::StatementThread(Connection& connection, std::vector<std::string> statements,
                                 std::shared_ptr<const GrowingFile> file) {
  thread_ = std::thread([this, &connection, statements = std::move(statements), file] {
    try {
      for (const std::string& sql : statements) {
        if (file->failed()) return;
        connection.execute(sql);
      }
    } catch (...) {
      error_ = std::current_exception();
      failedBeforeFile_ = !file->failed();
    }
  });
}

StatementThread::~StatementThread() {
  if (thread_.joinable()) thread_.join();
}

void StatementThread::join() {
  assert(owner_.calledOnOwner());
  if (thread_.joinable()) thread_.join();
  if (error_) std::rethrow_exception(error_);
}

void StatementThread::joinAfterExportFailed() {
  assert(owner_.calledOnOwner());
  if (thread_.joinable()) thread_.join();
  if (error_ && failedBeforeFile_) std::rethrow_exception(error_);
}

}  // namespace agent
