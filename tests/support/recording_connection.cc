// Test decorators over Connection.
#include "tests/support/recording_connection.h"

namespace agent::testing {

void RecordingConnection::clear() {
  statements_.clear();
  executed_.clear();
}

void RecordingConnection::execute(const std::string& sql) {
  statements_.push_back(sql);
  executed_.push_back(sql);
  target().execute(sql);
}

std::unique_ptr<Recordset> RecordingConnection::query(const std::string& sql, Cursor cursor) {
  statements_.push_back(sql);
  return target().query(sql, cursor);
}

void FailingConnection::failIfChosen(const std::string& sql) {
  if (fired_ || sql.find(trigger_) == std::string::npos) return;
  fired_ = true;
  throw error_;
}

void FailingConnection::execute(const std::string& sql) {
  failIfChosen(sql);
  target().execute(sql);
}

std::unique_ptr<Recordset> FailingConnection::query(const std::string& sql, Cursor cursor) {
  failIfChosen(sql);
  return target().query(sql, cursor);
}

}  // namespace agent::testing
