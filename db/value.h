// A single database value as the agent sees it: Null, text, number or
// date-time. Numbers keep the exact decimal text a driver returned next to
// the double, so that an export can write what the database holds.
#ifndef AGENT_DB_VALUE_H_
#define AGENT_DB_VALUE_H_

#include <string>
#include <string_view>

#include "base/date_time.h"

namespace agent {

class Value {
 public:
  enum class Type { Null, Text, Number, DateTime };

  Value() = default;  // Null
  static Value null() { return Value(); }
  static Value text(std::string s);
  // exact: the decimal text the driver returned ("1500.50"); empty when the
  // number was computed rather than read.
  static Value number(double d, std::string exact = {});
  static Value dateTime(const DateTime& dt);

  // Replace the held value in place, as assigning a new Value would. A
  // reader that fills the same Value row after row keeps the text's storage
  // instead of allocating it anew.
  void setNull();
  void setText(std::string_view s);
  void setNumber(double d, std::string_view exact = {});
  void setDateTime(const DateTime& dt);

  Type type() const { return type_; }
  bool isNull() const { return type_ == Type::Null; }
  bool isText() const { return type_ == Type::Text; }
  bool isNumber() const { return type_ == Type::Number; }
  bool isDateTime() const { return type_ == Type::DateTime; }

  // Accessors for the held kind; calling the wrong one returns an empty or
  // zero value rather than throwing (the caller decides by type()).
  const std::string& textValue() const { return text_; }
  double numberValue() const { return number_; }
  const std::string& exactNumber() const { return text_; }
  const DateTime& dateTimeValue() const { return dateTime_; }

  bool operator==(const Value& other) const;

 private:
  Type type_ = Type::Null;
  std::string text_;  // the text, or a number's exact decimal text
  double number_ = 0;
  DateTime dateTime_;
};

// A value as a shell or a test shows it: text as it is, a number as its
// exact text (else its plain decimal form), a date-time as
// "yyyy-mm-dd hh:mm:ss", Null as nullText.
std::string displayText(const Value& value, const std::string& nullText = "");

}  // namespace agent

#endif  // AGENT_DB_VALUE_H_
