// A transaction on the local connection as an object: BEGIN TRAN when made,
// COMMIT by commit(), ROLLBACK when it goes out of scope uncommitted (so an
// error thrown out of the writes is rolled back before anyone reports it).
#ifndef AGENT_PAYMENTS_LOCAL_TRANSACTION_H_
#define AGENT_PAYMENTS_LOCAL_TRANSACTION_H_

#include "cycle/journal.h"
#include "db/connection.h"

namespace agent {

class LocalTransaction {
 public:
  // Sends BEGIN TRAN on local. local and journal must outlive the object.
  LocalTransaction(Connection& local, Journal& journal);
  // Rolls back unless committed; a failing rollback is written to the
  // journal (the error being unwound is the one that matters).
  ~LocalTransaction();
  LocalTransaction(const LocalTransaction&) = delete;
  LocalTransaction& operator=(const LocalTransaction&) = delete;

  // Sends COMMIT. Throws as Connection::execute does; the transaction is
  // then rolled back by the destructor.
  void commit();

 private:
  Connection& local_;
  Journal& journal_;
  bool open_ = true;
};

}  // namespace agent

#endif  // AGENT_PAYMENTS_LOCAL_TRANSACTION_H_
