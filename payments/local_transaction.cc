#include "payments/local_transaction.h"

#include <exception>

namespace agent {

LocalTransaction::LocalTransaction(Connection& local, Journal& journal)
    : local_(local), journal_(journal) {
  local_.execute("BEGIN TRAN");
}

LocalTransaction::~LocalTransaction() {
  if (!open_) return;
  try {
    local_.execute("ROLLBACK");
  } catch (const std::exception& e) {
    journal_.error(std::string("rollback of the local transaction failed: ") + e.what());
  }
}

void LocalTransaction::commit() {
  local_.execute("COMMIT");
  open_ = false;
}

}  // namespace agent
