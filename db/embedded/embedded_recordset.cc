#include "db/embedded/embedded_recordset.h"

#include <charconv>
#include <cstdlib>
#include <string_view>

#include "db/embedded/date_conversion.h"
#include "db/embedded/sqlite_errors.h"
#include "db/embedded/value_conversion.h"
#include "db/error.h"

namespace agent::tsql {

namespace {

AgentError noCurrentRecordError() {
  return AgentError(-2146825267,
                    "Either BOF or EOF is True, or the current record has been deleted. Requested "
                    "operation requires a current record.");
}

std::string_view columnText(sqlite3_stmt* s, int i) {
  const unsigned char* t = sqlite3_column_text(s, i);
  return std::string_view(reinterpret_cast<const char*>(t), sqlite3_column_bytes(s, i));
}

// The value by its storage class alone (storage is sqlite3_column_type).
void readByStorage(sqlite3_stmt* s, int i, int storage, Value& out) {
  switch (storage) {
    case SQLITE_INTEGER: {
      long long v = sqlite3_column_int64(s, i);
      char buf[24];
      auto end = std::to_chars(buf, buf + sizeof buf, v).ptr;
      out.setNumber(static_cast<double>(v), std::string_view(buf, end - buf));
      return;
    }
    case SQLITE_FLOAT: {
      double d = sqlite3_column_double(s, i);
      out.setNumber(d, floatText(d));
      return;
    }
    case SQLITE_NULL:
      out.setNull();
      return;
    default:
      out.setText(columnText(s, i));
  }
}

class StreamingRecordset : public Recordset {
 public:
  StreamingRecordset(StatementHandle statement, std::vector<ResultColumn> columns,
                     SessionState* session)
      : statement_(std::move(statement)), columns_(std::move(columns)), session_(session) {
    row_.resize(columns_.size());
    step();
    bof_ = eof_;
  }

  bool eof() const override { return eof_; }
  bool bof() const override { return bof_; }
  void moveNext() override {
    if (eof_) throw noCurrentRecordError();
    bof_ = false;
    step();
  }
  std::size_t fieldCount() const override { return columns_.size(); }
  const std::string& fieldName(std::size_t i) const override { return columns_[i].name; }
  const Value& field(std::size_t i) const override {
    if (eof_) throw noCurrentRecordError();
    return row_[i];
  }

 private:
  void step() {
    sqlite3_stmt* s = statement_.get();
    int rc = sqlite3_step(s);
    if (rc == SQLITE_ROW) {
      // The row's Values are refilled in place, keeping their text storage.
      for (std::size_t i = 0; i < columns_.size(); ++i) {
        readValue(s, static_cast<int>(i), columns_[i].type, row_[i]);
      }
      return;
    }
    eof_ = true;
    if (rc != SQLITE_DONE) throw sqliteFailure(sqlite3_db_handle(s), rc, *session_);
    statement_.reset();  // ends the read transaction at once
  }

  StatementHandle statement_;
  std::vector<ResultColumn> columns_;
  SessionState* session_;
  std::vector<Value> row_;
  bool eof_ = false;
  bool bof_ = false;
};

class StaticRecordset : public Recordset {
 public:
  StaticRecordset(std::vector<ResultColumn> columns, std::vector<std::vector<Value>> rows)
      : columns_(std::move(columns)), rows_(std::move(rows)) {}

  bool eof() const override { return position_ >= rows_.size(); }
  bool bof() const override { return rows_.empty(); }
  void moveNext() override {
    if (eof()) throw noCurrentRecordError();
    ++position_;
  }
  std::size_t fieldCount() const override { return columns_.size(); }
  const std::string& fieldName(std::size_t i) const override { return columns_[i].name; }
  const Value& field(std::size_t i) const override {
    if (eof()) throw noCurrentRecordError();
    return rows_[position_][i];
  }

 private:
  std::vector<ResultColumn> columns_;
  std::vector<std::vector<Value>> rows_;
  std::size_t position_ = 0;
};

}  // namespace

void readValue(sqlite3_stmt* s, int i, const SqlType& type, Value& out) {
  int storage = sqlite3_column_type(s, i);
  if (storage == SQLITE_NULL) return out.setNull();
  switch (type.kind) {
    case SqlType::Kind::Text:
      return out.setText(columnText(s, i));
    case SqlType::Kind::DateTime:
      if (storage == SQLITE_TEXT) {
        if (auto dt = parseStorageText(columnText(s, i))) return out.setDateTime(*dt);
      }
      return readByStorage(s, i, storage, out);
    case SqlType::Kind::Numeric: {
      if (storage == SQLITE_TEXT || storage == SQLITE_BLOB) {
        return readByStorage(s, i, storage, out);
      }
      double d = roundToScale(sqlite3_column_double(s, i), type.scale);
      return out.setNumber(d, fixedText(d, type.scale));
    }
    case SqlType::Kind::Float:
      if (storage == SQLITE_INTEGER || storage == SQLITE_FLOAT) {
        double d = sqlite3_column_double(s, i);
        return out.setNumber(d, floatText(d));
      }
      return readByStorage(s, i, storage, out);
    default:
      return readByStorage(s, i, storage, out);
  }
}

Value readValue(sqlite3_stmt* s, int i, const SqlType& type) {
  Value v;
  readValue(s, i, type, v);
  return v;
}

std::unique_ptr<Recordset> makeRecordset(StatementHandle statement,
                                         std::vector<ResultColumn> columns, Cursor cursor,
                                         SessionState* session) {
  if (cursor == Cursor::Forward) {
    return std::make_unique<StreamingRecordset>(std::move(statement), std::move(columns), session);
  }
  std::vector<std::vector<Value>> rows;
  sqlite3_stmt* s = statement.get();
  for (;;) {
    int rc = sqlite3_step(s);
    if (rc == SQLITE_DONE) break;
    if (rc != SQLITE_ROW) throw sqliteFailure(sqlite3_db_handle(s), rc, *session);
    std::vector<Value> row(columns.size());
    for (std::size_t i = 0; i < columns.size(); ++i) {
      readValue(s, static_cast<int>(i), columns[i].type, row[i]);
    }
    rows.push_back(std::move(row));
  }
  return std::make_unique<StaticRecordset>(std::move(columns), std::move(rows));
}

std::unique_ptr<Recordset> makeEmptyRecordset() {
  return std::make_unique<StaticRecordset>(std::vector<ResultColumn>{},
                                           std::vector<std::vector<Value>>{});
}

}  // namespace agent::tsql
