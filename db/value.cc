#include "db/value.h"

#include <utility>

#include "base/regional.h"

namespace agent {

Value Value::text(std::string s) {
  Value v;
  v.type_ = Type::Text;
  v.text_ = std::move(s);
  return v;
}

Value Value::number(double d, std::string exact) {
  Value v;
  v.type_ = Type::Number;
  v.number_ = d;
  v.text_ = std::move(exact);
  return v;
}

Value Value::dateTime(const DateTime& dt) {
  Value v;
  v.type_ = Type::DateTime;
  v.dateTime_ = dt;
  return v;
}

void Value::setNull() {
  type_ = Type::Null;
  text_.clear();  // keeps the storage
  number_ = 0;
  dateTime_ = DateTime();
}

void Value::setText(std::string_view s) {
  setNull();
  type_ = Type::Text;
  text_.assign(s.data(), s.size());
}

void Value::setNumber(double d, std::string_view exact) {
  setNull();
  type_ = Type::Number;
  number_ = d;
  text_.assign(exact.data(), exact.size());
}

void Value::setDateTime(const DateTime& dt) {
  setNull();
  type_ = Type::DateTime;
  dateTime_ = dt;
}

bool Value::operator==(const Value& other) const {
  if (type_ != other.type_) return false;
  switch (type_) {
    case Type::Null:
      return true;
    case Type::Text:
      return text_ == other.text_;
    case Type::Number:
      return number_ == other.number_;
    case Type::DateTime:
      return dateTime_ == other.dateTime_;
  }
  return false;
}

std::string displayText(const Value& value, const std::string& nullText) {
  switch (value.type()) {
    case Value::Type::Null:
      return nullText;
    case Value::Type::Text:
      return value.textValue();
    case Value::Type::Number:
      return value.exactNumber().empty() ? plainNumber(value.numberValue()) : value.exactNumber();
    case Value::Type::DateTime:
      return formatDateTime(value.dateTimeValue(), "yyyy-MM-dd HH:mm:ss", RegionalSettings{});
  }
  return nullText;
}

}  // namespace agent
