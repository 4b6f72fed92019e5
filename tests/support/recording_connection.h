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

class RecordingConnection : public Connection {
 public:
  explicit RecordingConnection(Connection& inner) : inner_(inner) {}

  // Every execute() and query() text, in the order sent (failed ones too).
  const std::vector<std::string>& statements() const { return statements_; }
  // Only the execute() texts.
  const std::vector<std::string>& executed() const { return executed_; }
  void clear();

  bool isOpen() const override { return inner_.isOpen(); }
  void setDefaultDatabase(const std::string& name) override { inner_.setDefaultDatabase(name); }
  void execute(const std::string& sql) override;
  std::unique_ptr<Recordset> query(const std::string& sql,
                                   Cursor cursor = Cursor::Forward) override;
  void allowLocalFile(const LocalFileGrant& file) override { inner_.allowLocalFile(file); }
  bool streamsLocalFiles() const override { return inner_.streamsLocalFiles(); }
  std::string localFileName(const std::filesystem::path& file) const override {
    return inner_.localFileName(file);
  }

 private:
  Connection& inner_;
  std::vector<std::string> statements_;
  std::vector<std::string> executed_;
};

class FailingConnection : public Connection {
 public:
  // The first statement or query containing trigger fails with error
  // instead of being sent; later ones go through.
  FailingConnection(Connection& inner, std::string trigger, AgentError error)
      : inner_(inner), trigger_(std::move(trigger)), error_(std::move(error)) {}

  bool fired() const { return fired_; }

  bool isOpen() const override { return inner_.isOpen(); }
  void setDefaultDatabase(const std::string& name) override { inner_.setDefaultDatabase(name); }
  void execute(const std::string& sql) override;
  std::unique_ptr<Recordset> query(const std::string& sql,
                                   Cursor cursor = Cursor::Forward) override;
  void allowLocalFile(const LocalFileGrant& file) override { inner_.allowLocalFile(file); }
  bool streamsLocalFiles() const override { return inner_.streamsLocalFiles(); }
  std::string localFileName(const std::filesystem::path& file) const override {
    return inner_.localFileName(file);
  }

 private:
  void failIfChosen(const std::string& sql);
  Connection& inner_;
  std::string trigger_;
  AgentError error_;
  bool fired_ = false;
};

}  // namespace agent::testing

#endif  // AGENT_TESTS_SUPPORT_RECORDING_CONNECTION_H_
