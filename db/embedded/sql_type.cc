#include "db/embedded/sql_type.h"

#include <algorithm>
#include <cstdlib>

#include "base/text.h"

namespace agent::tsql {

namespace {

// The length of varchar(max) in a declared type.
constexpr int kMaxLength = 2147483647;

struct NamedType {
  const char* name;
  SqlType::Kind kind;
  bool fixed;     // char types
  int precision;  // default precision of numerics (money: fixed)
  int scale;
};

// Every T-SQL type the engine accepts in CREATE TABLE, CONVERT and CAST.
constexpr NamedType kTypes[] = {
    {"VARCHAR", SqlType::Kind::Text, false, 0, 0},
    {"NVARCHAR", SqlType::Kind::Text, false, 0, 0},
    {"CHAR", SqlType::Kind::Text, true, 0, 0},
    {"NCHAR", SqlType::Kind::Text, true, 0, 0},
    {"TEXT", SqlType::Kind::Text, false, 0, 0},
    {"NTEXT", SqlType::Kind::Text, false, 0, 0},
    {"SYSNAME", SqlType::Kind::Text, false, 0, 0},
    {"UNIQUEIDENTIFIER", SqlType::Kind::Text, false, 0, 0},
    {"INT", SqlType::Kind::Int, false, 0, 0},
    {"INTEGER", SqlType::Kind::Int, false, 0, 0},
    {"SMALLINT", SqlType::Kind::Int, false, 0, 0},
    {"TINYINT", SqlType::Kind::Int, false, 0, 0},
    {"BIGINT", SqlType::Kind::Int, false, 0, 0},
    {"BIT", SqlType::Kind::Bit, false, 0, 0},
    {"NUMERIC", SqlType::Kind::Numeric, false, 18, 0},
    {"DECIMAL", SqlType::Kind::Numeric, false, 18, 0},
    {"MONEY", SqlType::Kind::Numeric, false, 19, 4},
    {"SMALLMONEY", SqlType::Kind::Numeric, false, 10, 4},
    {"FLOAT", SqlType::Kind::Float, false, 0, 0},
    {"REAL", SqlType::Kind::Float, false, 0, 0},
    {"DATETIME", SqlType::Kind::DateTime, false, 0, 0},
    {"SMALLDATETIME", SqlType::Kind::DateTime, false, 0, 0},
    {"DATE", SqlType::Kind::DateTime, false, 0, 0},
    {"DATETIME2", SqlType::Kind::DateTime, false, 0, 0},
};

const NamedType* findType(std::string_view name) {
  for (const auto& t : kTypes) {
    if (equalsIgnoreCase(name, t.name)) return &t;
  }
  return nullptr;
}

}  // namespace

bool SqlType::fromTsql(std::string_view name, int arg1, int arg2, int argCount, SqlType* out) {
  const NamedType* t = findType(name);
  if (t == nullptr) return false;
  SqlType type;
  type.kind = t->kind;
  type.name = t->name;
  type.fixed = t->fixed;
  if (t->kind == Kind::Text) {
    // char and varchar without a length hold one character, as in a column
    // definition; text, ntext and (max) are unlimited.
    bool sized = type.name.find("CHAR") != std::string::npos;
    type.length = argCount > 0 ? arg1 : (sized ? 1 : 0);
  } else if (t->kind == Kind::Numeric) {
    bool money = type.name.find("MONEY") != std::string::npos;
    type.precision = (argCount > 0 && !money) ? arg1 : t->precision;
    type.scale = (argCount > 1 && !money) ? arg2 : t->scale;
  }
  *out = type;
  return true;
}

SqlType SqlType::fromDeclared(std::string_view declared) {
  std::string_view d = trimView(declared);
  std::size_t paren = d.find('(');
  std::string_view name = trimView(d.substr(0, paren));
  int args[2] = {0, 0};
  int count = 0;
  if (paren != std::string_view::npos) {
    std::string inner(d.substr(paren + 1));
    const char* p = inner.c_str();
    while (count < 2 && *p != '\0' && *p != ')') {
      while (*p == ' ' || *p == ',') ++p;
      if (equalsIgnoreCase(std::string_view(p).substr(0, 3), "MAX")) {
        args[count++] = 0;
        p += 3;
        continue;
      }
      char* end = nullptr;
      long v = std::strtol(p, &end, 10);
      if (end == p) break;
      args[count++] = static_cast<int>(v);
      p = end;
    }
  }
  SqlType type;
  if (!fromTsql(name, args[0], args[1], count, &type)) return SqlType();
  if (type.kind == Kind::Text && type.length == kMaxLength) type.length = 0;
  return type;
}

std::string SqlType::declaration() const {
  switch (kind) {
    case Kind::Unknown:
      return "";
    case Kind::Text:
      if (name == "TEXT" || name == "NTEXT") return name;
      // SQLite takes no MAX in a declared type: (max) is kept as its limit.
      return name + "(" + std::to_string(length > 0 ? length : kMaxLength) + ")";
    case Kind::Numeric:
      if (name == "MONEY" || name == "SMALLMONEY") return name;
      return name + "(" + std::to_string(precision) + "," + std::to_string(scale) + ")";
    default:
      return name;
  }
}

SqlType commonType(const SqlType& a, const SqlType& b) {
  if (a.kind == SqlType::Kind::Unknown) return b;
  if (b.kind == SqlType::Kind::Unknown) return a;
  if (a.kind == SqlType::Kind::Numeric && b.kind == SqlType::Kind::Numeric) {
    SqlType t = SqlType::numeric(38, std::max(a.scale, b.scale));
    return t;
  }
  if (a.kind == SqlType::Kind::Text && b.kind == SqlType::Kind::Text) {
    SqlType t = SqlType::text(a.length == 0 || b.length == 0 ? 0 : std::max(a.length, b.length));
    return t;
  }
  return a.kind > b.kind ? a : b;
}

}  // namespace agent::tsql
