// What a cycle's two connections note for its error handler: the side and
// the first words of the statement that failed, so that the journal line
// says where a cycle ended; and the stop flag, which every statement looks
// at before it is sent.
#ifndef AGENT_CYCLE_STATEMENT_WATCH_H_
#define AGENT_CYCLE_STATEMENT_WATCH_H_

#include <atomic>
#include <map>
#include <string>

namespace agent {

// The start of a statement that names what it does but none of its values
// (they may hold personal data): at most five words, ending before the
// first word that holds a quote or "=", and cut at a "(" (the column list
// and values of an insert). "insert into paygate(fadmno, ...) values(...)"
// gives "insert into paygate".
std::string statementHead(const std::string& sql);

struct StatementWatch {
  // Set from another thread to end the cycle; null: never stopped.
  const std::atomic<bool>* stop = nullptr;
  // The databases the two sides work in, for the journal line.
  std::string localDatabase;
  std::string remoteDatabase;
  // The server the remote connection reached, "host:port" as the account
  // lists it (one node of a cluster); empty: not known.
  std::string remoteNode;
  // The last statement that failed: "local" or "remote", and its head.
  std::string failedSide;
  std::string failedStatement;

  // The leftover objects of earlier runs dropped during the cycle, by
  // name, and how often: housekeeping, journaled once at the cycle's end.
  std::map<std::string, int> leftoversDropped;

  bool stopRequested() const { return stop != nullptr && stop->load(); }
  void clearFailure() {
    failedSide.clear();
    failedStatement.clear();
  }
};

}  // namespace agent

#endif  // AGENT_CYCLE_STATEMENT_WATCH_H_
