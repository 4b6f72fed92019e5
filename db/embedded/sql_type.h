// The T-SQL column and expression types the embedded engine tracks. SQLite
// stores values by storage class only, so the engine keeps the declared
// T-SQL type of every column (in SQLite's declared-type text) and infers the
// type of every expression, to read values back as SQL Server returns them.
#ifndef AGENT_DB_EMBEDDED_SQL_TYPE_H_
#define AGENT_DB_EMBEDDED_SQL_TYPE_H_

#include <string>
#include <string_view>

namespace agent::tsql {

struct SqlType {
  // In ascending order of SQL Server's data type precedence: when two kinds
  // meet in an expression, the higher one wins.
  enum class Kind { Unknown, Text, Bit, Int, Numeric, Float, DateTime };

  Kind kind = Kind::Unknown;
  std::string name;    // the T-SQL type name in upper case: VARCHAR, MONEY...
  int length = 0;      // Text: maximum characters, 0 for unlimited
  bool fixed = false;  // Text: char(n), padded with blanks to n
  int precision = 0;   // Numeric
  int scale = 0;       // Numeric: digits after the decimal point

  static SqlType text(int length = 0) { return {Kind::Text, "VARCHAR", length, false, 0, 0}; }
  static SqlType integer() { return {Kind::Int, "INT", 0, false, 0, 0}; }
  static SqlType numeric(int precision, int scale) {
    return {Kind::Numeric, "NUMERIC", 0, false, precision, scale};
  }
  static SqlType floating() { return {Kind::Float, "FLOAT", 0, false, 0, 0}; }
  static SqlType dateTime() { return {Kind::DateTime, "DATETIME", 0, false, 0, 0}; }
  static SqlType bit() { return {Kind::Bit, "BIT", 0, false, 0, 0}; }

  // Reads a declared type as the engine writes it ("VARCHAR(50)",
  // "NUMERIC(12,2)", "DATETIME"). Unknown names give Kind::Unknown.
  static SqlType fromDeclared(std::string_view declared);
  // A T-SQL type name with its arguments, as a CREATE TABLE or CONVERT
  // names it; returns false when the name is no T-SQL type.
  static bool fromTsql(std::string_view name, int arg1, int arg2, int argCount, SqlType* out);

  // The declared-type text for SQLite (round-trips through fromDeclared).
  std::string declaration() const;

  bool isText() const { return kind == Kind::Text; }
  bool isNumber() const {
    return kind == Kind::Int || kind == Kind::Bit || kind == Kind::Numeric || kind == Kind::Float;
  }
  bool isDateTime() const { return kind == Kind::DateTime; }
  bool isKnown() const { return kind != Kind::Unknown; }
};

// The type of an expression combining a and b (CASE branches, arithmetic):
// the kind of higher precedence; numerics keep the larger scale.
SqlType commonType(const SqlType& a, const SqlType& b);

}  // namespace agent::tsql

#endif  // AGENT_DB_EMBEDDED_SQL_TYPE_H_
