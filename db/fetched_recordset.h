// The cursor shared by the drivers' recordsets: a Forward result is read
// row by row as the caller moves on; a Static one is read whole when it
// opens, after which the driver lets the statement go so that the
// connection is free for other statements while the rows are walked.
#ifndef AGENT_DB_FETCHED_RECORDSET_H_
#define AGENT_DB_FETCHED_RECORDSET_H_

#include <cstddef>
#include <string>
#include <vector>

#include "db/connection.h"
#include "db/value.h"

namespace agent {

class FetchedRecordset : public Recordset {
 public:
  bool eof() const override { return eof_; }
  bool bof() const override { return bof_; }
  void moveNext() override;

  std::size_t fieldCount() const override { return names_.size(); }
  const std::string& fieldName(std::size_t index) const override { return names_[index]; }
  const Value& field(std::size_t index) const override { return current_[index]; }
  using Recordset::field;

 protected:
  FetchedRecordset() = default;

  // Reads the first row (Forward) or every row (Static). The driver's
  // constructor calls it last, once fetchRow() can run; names are the
  // result's column names.
  void start(std::vector<std::string> names, Cursor cursor);

  // The driver's next row into row (resized by the driver); false at the
  // end, when the driver has let its result go. Throws DbError on a
  // failed read.
  virtual bool fetchRow(std::vector<Value>& row) = 0;
  // Lets the driver's result go once a Static result has been read whole.
  virtual void releaseResult() = 0;

 private:
  std::vector<std::string> names_;
  std::vector<Value> current_;
  std::vector<std::vector<Value>> rows_;  // Cursor::Static only
  std::size_t position_ = 0;
  bool staticRows_ = false;
  bool bof_ = true;
  bool eof_ = true;
};

}  // namespace agent

#endif  // AGENT_DB_FETCHED_RECORDSET_H_
