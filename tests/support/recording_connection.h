// Decorators over a real Connection for tests: one records every statement
// and query it forwards, one makes a chosen statement fail once. Both pass
// everything else to the connection they wrap, which must outlive them.
#ifndef AGENT_TESTS_SUPPORT_RECORDING_CONNECTION_H_
#define AGENT_TESTS_SUPPORT_RECORDING_CONNECTION_H_

#include <memory>
#include <string>
#include <vector>

#include "db/connection.h"
#include "db/error.h"

namespace agent::testing {

class RecordingConnection : public ConnectionWrapper {
 public:
  explicit RecordingConnection(Connection& inner) : ConnectionWrapper(inner) {}

  // Every execute() and query() text, in the order sent (failed ones too).
  const std::vector<std::string>& statements() const { return statements_; }
  // Only the execute() texts.
  const std::vector<std::string>& executed() const { return executed_; }
  void clear() { statements_.clear(), executed_.clear(); }

  void execute(const std::string& sql) override {
    statements_.push_back(sql);
    executed_.push_back(sql);
    target().execute(sql);
  }
  std::unique_ptr<Recordset> query(const std::string& sql,
                                   Cursor cursor = Cursor::Forward) override {
    statements_.push_back(sql);
    return target().query(sql, cursor);
  }

 private:
  std::vector<std::string> statements_;
  std::vector<std::string> executed_;
};

class FailingConnection : public ConnectionWrapper {
 public:
  // The first statement or query containing trigger fails with error
  // instead of being sent; later ones go through.
  FailingConnection(Connection& inner, std::string trigger, AgentError error)
      : ConnectionWrapper(inner), trigger_(std::move(trigger)), error_(std::move(error)) {}

  bool fired() const { return fired_; }

  void execute(const std::string& sql) override {
    failIfChosen(sql);
    target().execute(sql);
  }
  std::unique_ptr<Recordset> query(const std::string& sql,
                                   Cursor cursor = Cursor::Forward) override {
    failIfChosen(sql);
    return target().query(sql, cursor);
  }

 private:
  void failIfChosen(const std::string& sql) {
    if (fired_ || sql.find(trigger_) == std::string::npos) return;
    fired_ = true;
    throw error_;
  }
  std::string trigger_;
  AgentError error_;
  bool fired_ = false;
};

}  // namespace agent::testing

#endif  // AGENT_TESTS_SUPPORT_RECORDING_CONNECTION_H_
