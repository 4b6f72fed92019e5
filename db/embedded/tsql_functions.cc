// The built-in functions: the aggregates, and one table of the scalar
// functions with the number of arguments each takes and how each is
// written in SQLite.
#include <algorithm>
#include <string_view>

#include "base/text.h"
#include "db/embedded/engine_errors.h"
#include "db/embedded/tsql_emitter.h"

namespace agent::tsql {

namespace {

// One call of a scalar function while it is written out.
struct Call {
  Emitter& emitter;
  const Expr& e;
  const Scope& scope;

  const std::string& name() const { return e.text; }
  std::size_t count() const { return e.args.size(); }
  Typed arg(std::size_t i) const { return emitter.expr(*e.args[i], scope); }
  Typed date(std::size_t i) const { return emitter.toDateTime(arg(i)); }
  std::string datePart(std::size_t i) const { return emitter.datePartArg(*e.args[i]); }
  // fn over the first count arguments, typed as text as long as the first.
  Typed text(std::string_view fn, std::size_t n) const {
    std::string sql = std::string(fn) + "(";
    SqlType type = SqlType::text();
    for (std::size_t i = 0; i < n; ++i) {
      Typed a = arg(i);
      if (i == 0 && a.type.isText()) type = SqlType::text(a.type.length);
      sql += (i ? ", " : "") + a.sql;
    }
    return makeTyped(sql + ")", type);
  }
};

Typed isNull(const Call& c) {
  Typed a = c.arg(0);
  Typed b = c.arg(1);
  SqlType type = a.type.isKnown() ? a.type : b.type;
  return makeTyped("ifnull(" + a.sql + ", " + c.emitter.implicit(b, type).sql + ")", type);
}

Typed coalesce(const Call& c) {
  SqlType type;
  std::vector<Typed> values;
  for (std::size_t i = 0; i < c.count(); ++i) {
    values.push_back(c.arg(i));
    type = commonType(type, values.back().type);
  }
  std::string sql = "coalesce(";
  for (std::size_t i = 0; i < values.size(); ++i)
    sql += (i ? ", " : "") + c.emitter.implicit(values[i], type).sql;
  return makeTyped(sql + (values.size() == 1 ? ", NULL)" : ")"), type);
}

Typed nullIf(const Call& c) {
  Typed a = c.arg(0);
  Typed b = c.emitter.implicit(c.arg(1), a.type);
  return makeTyped("nullif(" + collated(a) + ", " + b.sql + ")", a.type);
}

Typed getDate(const Call&) {
  return makeTyped("tsql_getdate()", SqlType::dateTime());
}

Typed dateDiff(const Call& c) {
  return makeTyped(
      "tsql_datediff(" + c.datePart(0) + ", " + c.date(1).sql + ", " + c.date(2).sql + ")",
      SqlType::integer());
}

Typed dateAdd(const Call& c) {
  return makeTyped(
      "tsql_dateadd(" + c.datePart(0) + ", " + c.arg(1).sql + ", " + c.date(2).sql + ")",
      SqlType::dateTime());
}

Typed datePart(const Call& c) {
  return makeTyped("tsql_datepart(" + c.datePart(0) + ", " + c.date(1).sql + ")",
                   SqlType::integer());
}

// YEAR, MONTH and DAY: the date part of their own name.
Typed namedDatePart(const Call& c) {
  return makeTyped("tsql_datepart('" + c.name() + "', " + c.date(0).sql + ")", SqlType::integer());
}

Typed len(const Call& c) {
  return makeTyped("length(rtrim(" + c.arg(0).sql + "))", SqlType::integer());
}

Typed dataLength(const Call& c) {
  return makeTyped("length(" + c.arg(0).sql + ")", SqlType::integer());
}

// UPPER, LOWER, LTRIM and RTRIM: SQLite's function of the same name.
Typed sameNamedText(const Call& c) {
  return c.text(toLowerAscii(c.name()), 1);
}

// HASHBYTES('SHA2_256', x): the digest of the value's bytes (UTF-8 text),
// as a binary value; NULL for NULL. The engine offers no other algorithm.
Typed hashBytes(const Call& c) {
  Typed algorithm = c.arg(0);
  if (algorithm.literal == nullptr || !equalsIgnoreCase(*algorithm.literal, "SHA2_256")) {
    throw DbError("42000", 4199,
                  "Argument value is invalid for argument 1 of hashbytes function: the embedded "
                  "engine offers SHA2_256 only.");
  }
  return makeTyped("tsql_hashbytes(" + c.arg(1).sql + ")", SqlType());
}

Typed replace(const Call& c) {
  return c.text("replace", 3);
}

Typed substring(const Call& c) {
  return c.text("substr", 3);
}

Typed left(const Call& c) {
  Typed s = c.arg(0);
  return makeTyped("substr(" + s.sql + ", 1, " + c.arg(1).sql + ")", SqlType::text(s.type.length));
}

Typed right(const Call& c) {
  Typed s = c.arg(0);
  std::string n = c.arg(1).sql;
  return makeTyped(
      "(CASE WHEN " + n + " <= 0 THEN '' ELSE substr(" + s.sql + ", -(" + n + ")) END)",
      SqlType::text(s.type.length));
}

Typed charIndex(const Call& c) {
  return makeTyped("instr(lower(" + c.arg(1).sql + "), lower(" + c.arg(0).sql + "))",
                   SqlType::integer());
}

Typed abs(const Call& c) {
  Typed x = c.arg(0);
  return makeTyped("abs(" + x.sql + ")", x.type);
}

Typed round(const Call& c) {
  Typed x = c.arg(0);
  return makeTyped("round(" + x.sql + ", " + c.arg(1).sql + ")", x.type);
}

// FLOOR and CEILING from the integer part, as SQLite has neither.
Typed floorOrCeiling(const Call& c) {
  Typed x = c.arg(0);
  std::string cut = "CAST(" + x.sql + " AS INTEGER)";
  std::string sql = c.name() == "FLOOR" ? "(" + cut + " - (" + x.sql + " < " + cut + "))"
                                        : "(" + cut + " + (" + x.sql + " > " + cut + "))";
  return makeTyped(sql, x.type);
}

struct BuiltIn {
  std::string_view name;
  std::size_t minArgs;
  std::size_t maxArgs;
  Typed (*emit)(const Call&);
};

constexpr BuiltIn kBuiltIns[] = {
    {"ISNULL", 2, 2, isNull},
    {"COALESCE", 1, 64, coalesce},
    {"NULLIF", 2, 2, nullIf},
    {"GETDATE", 0, 0, getDate},
    {"SYSDATETIME", 0, 0, getDate},
    {"DATEDIFF", 3, 3, dateDiff},
    {"DATEADD", 3, 3, dateAdd},
    {"DATEPART", 2, 2, datePart},
    {"YEAR", 1, 1, namedDatePart},
    {"MONTH", 1, 1, namedDatePart},
    {"DAY", 1, 1, namedDatePart},
    {"LEN", 1, 1, len},
    {"DATALENGTH", 1, 1, dataLength},
    {"UPPER", 1, 1, sameNamedText},
    {"LOWER", 1, 1, sameNamedText},
    {"LTRIM", 1, 1, sameNamedText},
    {"RTRIM", 1, 1, sameNamedText},
    {"HASHBYTES", 2, 2, hashBytes},
    {"REPLACE", 3, 3, replace},
    {"SUBSTRING", 3, 3, substring},
    {"LEFT", 2, 2, left},
    {"RIGHT", 2, 2, right},
    {"CHARINDEX", 2, 2, charIndex},
    {"ABS", 1, 1, abs},
    {"ROUND", 2, 3, round},
    {"FLOOR", 1, 1, floorOrCeiling},
    {"CEILING", 1, 1, floorOrCeiling},
};

bool isAggregate(const std::string& name) {
  return name == "SUM" || name == "AVG" || name == "COUNT" || name == "MIN" || name == "MAX";
}

}  // namespace

Typed Emitter::function(const Expr& e, const Scope& scope) {
  const std::string& name = e.text;
  if (isAggregate(name)) return aggregate(e, scope);
  for (const BuiltIn& builtIn : kBuiltIns) {
    if (builtIn.name != name) continue;
    if (e.args.size() < builtIn.minArgs || e.args.size() > builtIn.maxArgs) {
      throw DbError("42000", 174,
                    "The " + toLowerAscii(name) + " function requires " +
                        std::to_string(builtIn.minArgs) + " argument(s).");
    }
    return builtIn.emit(Call{*this, e, scope});
  }
  throw unknownFunctionError(name);
}

Typed Emitter::aggregate(const Expr& e, const Scope& scope) {
  const std::string& name = e.text;
  std::string distinct = e.distinct ? "DISTINCT " : "";
  if (name == "COUNT") {
    if (e.star) return makeTyped("count(*)", SqlType::integer());
    if (e.args.size() != 1) throw syntaxErrorNear(name);
    return makeTyped("count(" + distinct + expr(*e.args[0], scope).sql + ")", SqlType::integer());
  }
  if (e.args.size() != 1 || e.star) throw syntaxErrorNear(name);
  Typed x = expr(*e.args[0], scope);
  SqlType type = x.type;
  if (name == "SUM" || name == "AVG") {
    if (x.type.isText() || x.type.isDateTime()) {
      throw DbError("42000", 8117,
                    "Operand data type " + toLowerAscii(x.type.name) + " is invalid for " +
                        toLowerAscii(name) + " operator.");
    }
    if (type.kind == SqlType::Kind::Numeric) {
      type.precision = 38;
      if (name == "AVG") type.scale = std::max(type.scale, 6);
    }
    if (type.kind == SqlType::Kind::Bit) type = SqlType::integer();
    if (name == "AVG" && type.kind == SqlType::Kind::Int) {
      return makeTyped("CAST(avg(" + distinct + x.sql + ") AS INTEGER)", type);
    }
    return makeTyped(toLowerAscii(name) + "(" + distinct + x.sql + ")", type);
  }
  // MIN / MAX compare text under the collation.
  return makeTyped(toLowerAscii(name) + "(" + distinct + collated(x) + ")", type);
}

}  // namespace agent::tsql
