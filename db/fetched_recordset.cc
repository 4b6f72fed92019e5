#include "db/fetched_recordset.h"

#include <utility>

namespace agent {

void FetchedRecordset::start(std::vector<std::string> names, Cursor cursor) {
  names_ = std::move(names);
  if (cursor == Cursor::Static) {
    while (fetchRow(current_)) rows_.push_back(std::move(current_));
    releaseResult();
    staticRows_ = true;
    bof_ = eof_ = rows_.empty();
    if (!rows_.empty()) current_ = rows_.front();
  } else {
    bof_ = eof_ = !fetchRow(current_);
  }
}

void FetchedRecordset::moveNext() {
  if (eof_) return;
  if (!staticRows_) {
    eof_ = !fetchRow(current_);
    return;
  }
  if (++position_ < rows_.size()) {
    current_ = rows_[position_];
  } else {
    eof_ = true;
  }
}

}  // namespace agent
