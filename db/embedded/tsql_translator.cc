#include "db/embedded/tsql_translator.h"

#include <cstdint>
#include <cstdlib>

#include "base/text.h"
#include "db/embedded/engine_errors.h"
#include "db/embedded/sqlite_functions.h"
#include "db/embedded/value_conversion.h"

namespace agent::tsql {

namespace {

const std::string kCollate = std::string(" COLLATE ") + kTextCollation;

// An expression in SQLite's text with its T-SQL type.
struct Typed {
  std::string sql;
  SqlType type;
  const std::string* literal = nullptr;  // the content of a string literal
  bool isNull = false;
  bool isNumberLiteral = false;
};

struct ScopeTable {
  std::string ref;  // the alias, or the table's name as written
  std::vector<ColumnInfo> columns;
};

// The tables a statement's names resolve against, innermost query first.
struct Scope {
  std::vector<ScopeTable> tables;
  const Scope* outer = nullptr;
};

struct SelectResult {
  std::string sql;
  std::vector<ResultColumn> columns;
};

int utf8Length(const std::string& s) {
  int n = 0;
  for (unsigned char c : s) n += (c & 0xC0) != 0x80;
  return n;
}

DbError unboundIdentifierError(const std::string& qualifier, const std::string& name) {
  return DbError(
      "42000", 4104,
      "The multi-part identifier \"" + qualifier + "." + name + "\" could not be bound.");
}

DbError duplicateColumnError(const std::string& column, const std::string& table) {
  return DbError("42S21", 2705,
                 "Column names in each table must be unique. Column name '" + column +
                     "' in table '" + table + "' is specified more than once.");
}

std::string typeCall(const char* fn, const std::string& arg, const SqlType& type) {
  return std::string(fn) + "(" + arg + ", " + quoteText(type.declaration()) + ")";
}

class Emitter {
 public:
  Emitter(const Catalog& catalog, DateOrder order) : catalog_(catalog), order_(order) {}

  Typed expr(const Expr& e, const Scope& scope);
  SelectResult select(const SelectStmt& s, const Scope* outer,
                      const std::vector<SqlType>* assignTo);
  // A value made fit for a column of type target, as INSERT and UPDATE
  // assign it.
  std::string assign(const Typed& value, const SqlType& target);
  Typed toDateTime(const Typed& x);
  std::string fromClause(const std::vector<const TableRef*>& refs, Scope* scope,
                         std::vector<std::string>* movedOn);
  ScopeTable tableOf(const std::string& name, const std::string& alias);

 private:
  Typed column(const Expr& e, const Scope& scope);
  Typed function(const Expr& e, const Scope& scope);
  Typed aggregate(const Expr& e, const Scope& scope);
  Typed caseExpr(const Expr& e, const Scope& scope);
  Typed convert(const Expr& e, const Scope& scope);
  Typed compare(Typed a, Typed b, const std::string& op);
  Typed plus(Typed a, Typed b);
  Typed arithmetic(Typed a, Typed b, const std::string& op);
  Typed toNumberFor(const Typed& x, const SqlType& numberType);
  Typed implicit(const Typed& x, const SqlType& target);
  Typed subquery(const SelectStmt& s, const Scope& scope, SqlType* firstType);
  SelectResult selectCore(const SelectStmt& s, const Scope* outer,
                          const std::vector<SqlType>* assignTo, Scope* scopeOut);
  std::string datePartArg(const Expr& e);

  const Catalog& catalog_;
  DateOrder order_;
};

Typed makeTyped(std::string sql, SqlType type) {
  Typed t;
  t.sql = std::move(sql);
  t.type = std::move(type);
  return t;
}

std::string collated(const Typed& t) {
  return t.type.isText() ? t.sql + kCollate : t.sql;
}

ScopeTable Emitter::tableOf(const std::string& name, const std::string& alias) {
  ObjectKind kind = catalog_.find(name);
  if (kind != ObjectKind::Table && kind != ObjectKind::View) throw invalidObjectError(name);
  return {alias.empty() ? name : alias, catalog_.columns(name)};
}

Typed Emitter::column(const Expr& e, const Scope& scope) {
  for (const Scope* s = &scope; s != nullptr; s = s->outer) {
    const ColumnInfo* found = nullptr;
    const ScopeTable* owner = nullptr;
    bool qualifierKnown = false;
    for (const ScopeTable& t : s->tables) {
      if (!e.qualifier.empty() && !equalsIgnoreCase(t.ref, e.qualifier)) continue;
      qualifierKnown = true;
      for (const ColumnInfo& c : t.columns) {
        if (equalsIgnoreCase(c.name, e.text)) {
          if (found != nullptr) throw ambiguousColumnError(e.text);
          found = &c;
          owner = &t;
        }
      }
    }
    if (found != nullptr) {
      return makeTyped(quoteName(owner->ref) + "." + quoteName(found->name), found->type);
    }
    if (qualifierKnown && !e.qualifier.empty()) throw invalidColumnError(e.text);
  }
  if (!e.qualifier.empty()) throw unboundIdentifierError(e.qualifier, e.text);
  throw invalidColumnError(e.text);
}

Typed Emitter::toDateTime(const Typed& x) {
  if (x.type.isDateTime() || x.isNull) return x;
  if (x.literal != nullptr) {
    return makeTyped(quoteText(textToStoredDate(*x.literal, order_)), SqlType::dateTime());
  }
  return makeTyped("tsql_todate(" + x.sql + ")", SqlType::dateTime());
}

std::string numberLiteral(const NumberValue& n, const SqlType& target) {
  if (n.integer) return std::to_string(n.intValue);
  if (target.kind == SqlType::Kind::Numeric) return fixedText(n.value, target.scale);
  return floatText(n.value);
}

Typed Emitter::toNumberFor(const Typed& x, const SqlType& numberType) {
  if (x.literal != nullptr) {
    NumberValue n = textToNumber(*x.literal, numberType);
    Typed t = makeTyped(numberLiteral(n, numberType), numberType);
    t.isNumberLiteral = true;
    return t;
  }
  if (x.type.isNumber() || x.isNull) return x;
  return makeTyped(typeCall("tsql_tonum", x.sql, numberType), numberType);
}

Typed Emitter::implicit(const Typed& x, const SqlType& target) {
  if (x.isNull) return x;
  if (target.isDateTime()) return toDateTime(x);
  if (target.isNumber() && x.type.isText()) return toNumberFor(x, target);
  return x;
}

std::string Emitter::assign(const Typed& x, const SqlType& target) {
  if (x.isNull) return "NULL";
  switch (target.kind) {
    case SqlType::Kind::Unknown:
      return x.sql;
    case SqlType::Kind::DateTime:
      return toDateTime(x).sql;
    case SqlType::Kind::Text:
      if (x.type.isText() && target.length == 0 && !target.fixed) return x.sql;
      if (x.literal != nullptr && !target.fixed &&
          (target.length == 0 || utf8Length(*x.literal) <= target.length)) {
        return x.sql;
      }
      return "tsql_totext(" + x.sql + ", " + quoteText(target.declaration()) + ", " +
             quoteText(x.type.declaration()) + ", 1)";
    default:
      if (x.literal != nullptr) return toNumberFor(x, target).sql;
      if (x.isNumberLiteral && target.kind == SqlType::Kind::Int &&
          x.type.kind == SqlType::Kind::Int) {
        return x.sql;
      }
      return typeCall("tsql_tonum", x.sql, target);
  }
}

Typed Emitter::compare(Typed a, Typed b, const std::string& op) {
  if (a.type.isDateTime() && !b.type.isDateTime()) {
    b = toDateTime(b);
  } else if (b.type.isDateTime() && !a.type.isDateTime()) {
    a = toDateTime(a);
  } else if (a.type.isNumber() && b.type.isText()) {
    b = toNumberFor(b, a.type);
  } else if (b.type.isNumber() && a.type.isText()) {
    a = toNumberFor(a, b.type);
  }
  bool textual = (a.type.isText() || b.type.isText()) && !a.type.isNumber() && !b.type.isNumber();
  return makeTyped("(" + a.sql + (textual ? kCollate : "") + " " + op + " " + b.sql + ")",
                   SqlType::bit());
}

Typed Emitter::plus(Typed a, Typed b) {
  if (a.isNull || b.isNull) {
    Typed t = makeTyped("NULL", commonType(a.type, b.type));
    t.isNull = true;
    return t;
  }
  const SqlType& ta = a.type;
  const SqlType& tb = b.type;
  if (ta.isText() && tb.isText()) {
    int length = ta.length == 0 || tb.length == 0 ? 0 : ta.length + tb.length;
    return makeTyped("(" + a.sql + " || " + b.sql + ")", SqlType::text(length));
  }
  if (ta.isDateTime() && tb.isNumber()) {
    return makeTyped("tsql_adddays(" + a.sql + ", " + b.sql + ")", SqlType::dateTime());
  }
  if (tb.isDateTime() && ta.isNumber()) {
    return makeTyped("tsql_adddays(" + b.sql + ", " + a.sql + ")", SqlType::dateTime());
  }
  if (ta.isNumber() && tb.isText()) b = toNumberFor(b, ta);
  if (tb.isNumber() && ta.isText()) a = toNumberFor(a, tb);
  if (a.type.isNumber() && b.type.isNumber()) {
    return makeTyped("(" + a.sql + " + " + b.sql + ")", commonType(a.type, b.type));
  }
  return makeTyped("tsql_add(" + a.sql + ", " + b.sql + ")", SqlType());
}

Typed Emitter::arithmetic(Typed a, Typed b, const std::string& op) {
  if (op == "-" && a.type.isDateTime() && b.type.isNumber()) {
    return makeTyped("tsql_adddays(" + a.sql + ", -(" + b.sql + "))", SqlType::dateTime());
  }
  if (a.type.isText()) a = toNumberFor(a, b.type.isNumber() ? b.type : SqlType::floating());
  if (b.type.isText()) b = toNumberFor(b, a.type.isNumber() ? a.type : SqlType::floating());
  SqlType type = commonType(a.type, b.type);
  if (op == "^") {
    return makeTyped("((" + a.sql + " | " + b.sql + ") - (" + a.sql + " & " + b.sql + "))", type);
  }
  if (op == "/" && type.kind == SqlType::Kind::Numeric) {
    // SQL Server's numeric division keeps at least six decimals.
    type.scale = std::max(type.scale, 6);
    return makeTyped("(CAST(" + a.sql + " AS REAL) / " + b.sql + ")", type);
  }
  return makeTyped("(" + a.sql + " " + op + " " + b.sql + ")", type);
}

Typed Emitter::subquery(const SelectStmt& s, const Scope& scope, SqlType* firstType) {
  SelectResult r = select(s, &scope, nullptr);
  if (firstType != nullptr && !r.columns.empty()) *firstType = r.columns.front().type;
  return makeTyped("(" + r.sql + ")", SqlType());
}

std::string Emitter::datePartArg(const Expr& e) {
  std::string part = canonicalDatePart(e.text);
  if (part.empty()) {
    throw DbError("42000", 155, "'" + e.text + "' is not a recognized datepart option.");
  }
  return quoteText(part);
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

Typed Emitter::function(const Expr& e, const Scope& scope) {
  const std::string& name = e.text;
  if (name == "SUM" || name == "AVG" || name == "COUNT" || name == "MIN" || name == "MAX") {
    return aggregate(e, scope);
  }
  std::vector<Typed> args;
  auto argsAre = [&](std::size_t low, std::size_t high) {
    if (e.args.size() < low || e.args.size() > high) {
      throw DbError("42000", 174,
                    "The " + toLowerAscii(name) + " function requires " + std::to_string(low) +
                        " argument(s).");
    }
  };
  auto arg = [&](std::size_t i) { return expr(*e.args[i], scope); };
  auto textOf = [&](const char* fn, std::size_t count) {
    std::string sql = std::string(fn) + "(";
    SqlType type = SqlType::text();
    for (std::size_t i = 0; i < count; ++i) {
      Typed a = arg(i);
      if (i == 0 && a.type.isText()) type = SqlType::text(a.type.length);
      sql += (i ? ", " : "") + a.sql;
    }
    return makeTyped(sql + ")", type);
  };

  if (name == "ISNULL") {
    argsAre(2, 2);
    Typed a = arg(0);
    Typed b = arg(1);
    SqlType type = a.type.isKnown() ? a.type : b.type;
    return makeTyped("ifnull(" + a.sql + ", " + implicit(b, type).sql + ")", type);
  }
  if (name == "COALESCE") {
    argsAre(1, 64);
    SqlType type;
    std::vector<Typed> values;
    for (std::size_t i = 0; i < e.args.size(); ++i) {
      values.push_back(arg(i));
      type = commonType(type, values.back().type);
    }
    std::string sql = "coalesce(";
    for (std::size_t i = 0; i < values.size(); ++i)
      sql += (i ? ", " : "") + implicit(values[i], type).sql;
    return makeTyped(sql + (values.size() == 1 ? ", NULL)" : ")"), type);
  }
  if (name == "NULLIF") {
    argsAre(2, 2);
    Typed a = arg(0);
    Typed b = implicit(arg(1), a.type);
    return makeTyped("nullif(" + collated(a) + ", " + b.sql + ")", a.type);
  }
  if (name == "GETDATE" || name == "SYSDATETIME") {
    argsAre(0, 0);
    return makeTyped("tsql_getdate()", SqlType::dateTime());
  }
  if (name == "DATEDIFF") {
    argsAre(3, 3);
    return makeTyped("tsql_datediff(" + datePartArg(*e.args[0]) + ", " + toDateTime(arg(1)).sql +
                         ", " + toDateTime(arg(2)).sql + ")",
                     SqlType::integer());
  }
  if (name == "DATEADD") {
    argsAre(3, 3);
    return makeTyped("tsql_dateadd(" + datePartArg(*e.args[0]) + ", " + arg(1).sql + ", " +
                         toDateTime(arg(2)).sql + ")",
                     SqlType::dateTime());
  }
  if (name == "DATEPART") {
    argsAre(2, 2);
    return makeTyped(
        "tsql_datepart(" + datePartArg(*e.args[0]) + ", " + toDateTime(arg(1)).sql + ")",
        SqlType::integer());
  }
  if (name == "YEAR" || name == "MONTH" || name == "DAY") {
    argsAre(1, 1);
    return makeTyped("tsql_datepart('" + name + "', " + toDateTime(arg(0)).sql + ")",
                     SqlType::integer());
  }
  if (name == "LEN") {
    argsAre(1, 1);
    return makeTyped("length(rtrim(" + arg(0).sql + "))", SqlType::integer());
  }
  if (name == "DATALENGTH") {
    argsAre(1, 1);
    return makeTyped("length(" + arg(0).sql + ")", SqlType::integer());
  }
  if (name == "UPPER" || name == "LOWER" || name == "LTRIM" || name == "RTRIM") {
    argsAre(1, 1);
    return textOf(toLowerAscii(name).c_str(), 1);
  }
  if (name == "REPLACE") {
    argsAre(3, 3);
    return textOf("replace", 3);
  }
  if (name == "SUBSTRING") {
    argsAre(3, 3);
    return textOf("substr", 3);
  }
  if (name == "LEFT") {
    argsAre(2, 2);
    Typed s = arg(0);
    return makeTyped("substr(" + s.sql + ", 1, " + arg(1).sql + ")", SqlType::text(s.type.length));
  }
  if (name == "RIGHT") {
    argsAre(2, 2);
    Typed s = arg(0);
    std::string n = arg(1).sql;
    return makeTyped(
        "(CASE WHEN " + n + " <= 0 THEN '' ELSE substr(" + s.sql + ", -(" + n + ")) END)",
        SqlType::text(s.type.length));
  }
  if (name == "CHARINDEX") {
    argsAre(2, 2);
    return makeTyped("instr(lower(" + arg(1).sql + "), lower(" + arg(0).sql + "))",
                     SqlType::integer());
  }
  if (name == "ABS") {
    argsAre(1, 1);
    Typed x = arg(0);
    return makeTyped("abs(" + x.sql + ")", x.type);
  }
  if (name == "ROUND") {
    argsAre(2, 3);
    Typed x = arg(0);
    return makeTyped("round(" + x.sql + ", " + arg(1).sql + ")", x.type);
  }
  if (name == "FLOOR" || name == "CEILING") {
    argsAre(1, 1);
    Typed x = arg(0);
    std::string cut = "CAST(" + x.sql + " AS INTEGER)";
    std::string sql = name == "FLOOR" ? "(" + cut + " - (" + x.sql + " < " + cut + "))"
                                      : "(" + cut + " + (" + x.sql + " > " + cut + "))";
    return makeTyped(sql, x.type);
  }
  throw unknownFunctionError(name);
}

Typed Emitter::caseExpr(const Expr& e, const Scope& scope) {
  std::string sql = "(CASE";
  if (e.operand) sql += " " + collated(expr(*e.operand, scope));
  std::vector<Typed> results;
  std::vector<std::string> conditions;
  SqlType type;
  for (std::size_t i = 0; i + 1 < e.args.size(); i += 2) {
    conditions.push_back(expr(*e.args[i], scope).sql);
    results.push_back(expr(*e.args[i + 1], scope));
    type = commonType(type, results.back().type);
  }
  if (e.elseExpr) {
    results.push_back(expr(*e.elseExpr, scope));
    type = commonType(type, results.back().type);
  }
  for (std::size_t i = 0; i < conditions.size(); ++i) {
    sql += " WHEN " + conditions[i] + " THEN " + implicit(results[i], type).sql;
  }
  if (e.elseExpr) sql += " ELSE " + implicit(results.back(), type).sql;
  return makeTyped(sql + " END)", type);
}

Typed Emitter::convert(const Expr& e, const Scope& scope) {
  Typed x = expr(*e.args[0], scope);
  const SqlType& target = e.type;
  if (x.isNull) {
    Typed t = makeTyped("NULL", target);
    t.isNull = true;
    return t;
  }
  std::string style = e.args.size() > 1 ? expr(*e.args[1], scope).sql : std::string();
  switch (target.kind) {
    case SqlType::Kind::DateTime: {
      if (!style.empty() && !x.type.isDateTime()) {
        // A style names the text's date order in place of the DATEFORMAT.
        if (x.literal != nullptr) {
          auto order = dateOrderForStyle(std::atoi(style.c_str()));
          return makeTyped(quoteText(textToStoredDate(*x.literal, order.value_or(order_))), target);
        }
        return makeTyped("tsql_todate_style(" + x.sql + ", " + style + ")", target);
      }
      Typed t = toDateTime(x);
      t.type = target;
      return t;
    }
    case SqlType::Kind::Text: {
      std::string value = x.sql;
      SqlType source = x.type;
      if (!style.empty() && x.type.isDateTime()) {
        value = "tsql_datestyle(" + x.sql + ", " + style + ")";
        source = SqlType::text();
      }
      return makeTyped("tsql_totext(" + value + ", " + quoteText(target.declaration()) + ", " +
                           quoteText(source.declaration()) + ", 0)",
                       target);
    }
    default:
      if (x.literal != nullptr) return toNumberFor(x, target);
      return makeTyped(typeCall("tsql_tonum", x.sql, target), target);
  }
}

Typed Emitter::expr(const Expr& e, const Scope& scope) {
  switch (e.kind) {
    case Expr::Kind::Null: {
      Typed t = makeTyped("NULL", SqlType());
      t.isNull = true;
      return t;
    }
    case Expr::Kind::String: {
      Typed t = makeTyped(quoteText(e.text), SqlType::text(std::max(1, utf8Length(e.text))));
      t.literal = &e.text;
      return t;
    }
    case Expr::Kind::Number: {
      SqlType type = SqlType::integer();
      std::size_t point = e.text.find('.');
      if (e.text.find_first_of("eE") != std::string::npos &&
          e.text.find("0x") == std::string::npos) {
        type = SqlType::floating();
      } else if (point != std::string::npos) {
        int scale = static_cast<int>(e.text.size() - point - 1);
        type = SqlType::numeric(std::max(static_cast<int>(e.text.size()) - 1, 1), scale);
      } else if (std::llabs(std::strtoll(e.text.c_str(), nullptr, 0)) > INT32_MAX) {
        type = SqlType::numeric(static_cast<int>(e.text.size()), 0);
      }
      Typed t = makeTyped(e.text, type);
      t.isNumberLiteral = true;
      return t;
    }
    case Expr::Kind::Column:
      return column(e, scope);
    case Expr::Kind::Star:
    case Expr::Kind::DatePart:
      throw syntaxErrorNear(e.kind == Expr::Kind::Star ? "*" : e.text);
    case Expr::Kind::Unary: {
      Typed x = expr(*e.args[0], scope);
      if (e.text == "NOT") return makeTyped("(NOT " + x.sql + ")", SqlType::bit());
      if (x.type.isText()) x = toNumberFor(x, SqlType::floating());
      return makeTyped("(" + e.text + x.sql + ")", x.type);
    }
    case Expr::Kind::Binary: {
      Typed a = expr(*e.args[0], scope);
      Typed b = expr(*e.args[1], scope);
      const std::string& op = e.text;
      if (op == "AND" || op == "OR")
        return makeTyped("(" + a.sql + " " + op + " " + b.sql + ")", SqlType::bit());
      if (op == "LIKE") {
        // Trailing blanks of the matched value do not count (char columns).
        return makeTyped(
            "(rtrim(" + a.sql + ")" + (e.negated ? " NOT LIKE " : " LIKE ") + b.sql + ")",
            SqlType::bit());
      }
      if (op == "+") return plus(std::move(a), std::move(b));
      if (op == "-" || op == "*" || op == "/" || op == "%" || op == "&" || op == "|" || op == "^") {
        return arithmetic(std::move(a), std::move(b), op);
      }
      return compare(std::move(a), std::move(b), op);
    }
    case Expr::Kind::IsNull: {
      Typed x = expr(*e.args[0], scope);
      return makeTyped("(" + x.sql + (e.negated ? " IS NOT NULL)" : " IS NULL)"), SqlType::bit());
    }
    case Expr::Kind::InList: {
      Typed x = expr(*e.args[0], scope);
      std::string sql = "(" + collated(x) + (e.negated ? " NOT IN (" : " IN (");
      for (std::size_t i = 1; i < e.args.size(); ++i) {
        sql += (i > 1 ? ", " : "") + implicit(expr(*e.args[i], scope), x.type).sql;
      }
      return makeTyped(sql + "))", SqlType::bit());
    }
    case Expr::Kind::InSelect: {
      Typed x = expr(*e.args[0], scope);
      SqlType inner;
      Typed sub = subquery(*e.select, scope, &inner);
      std::string left = (x.type.isText() || inner.isText()) ? x.sql + kCollate : x.sql;
      return makeTyped("(" + left + (e.negated ? " NOT IN " : " IN ") + sub.sql + ")",
                       SqlType::bit());
    }
    case Expr::Kind::Between: {
      Typed x = expr(*e.args[0], scope);
      Typed low = implicit(expr(*e.args[1], scope), x.type);
      Typed high = implicit(expr(*e.args[2], scope), x.type);
      return makeTyped("(" + collated(x) + (e.negated ? " NOT BETWEEN " : " BETWEEN ") + low.sql +
                           " AND " + high.sql + ")",
                       SqlType::bit());
    }
    case Expr::Kind::Exists: {
      Typed sub = subquery(*e.select, scope, nullptr);
      return makeTyped(std::string(e.negated ? "(NOT EXISTS " : "(EXISTS ") + sub.sql + ")",
                       SqlType::bit());
    }
    case Expr::Kind::Case:
      return caseExpr(e, scope);
    case Expr::Kind::Function:
      return function(e, scope);
    case Expr::Kind::Convert:
      return convert(e, scope);
    case Expr::Kind::Subquery: {
      SqlType type;
      Typed sub = subquery(*e.select, scope, &type);
      sub.type = type;
      return sub;
    }
  }
  throw syntaxErrorNear(e.text);
}

const char* joinWord(TableRef::Join join) {
  switch (join) {
    case TableRef::Join::First:
      return "";
    case TableRef::Join::Comma:
      return ", ";
    case TableRef::Join::Inner:
      return " JOIN ";
    case TableRef::Join::Left:
      return " LEFT JOIN ";
    case TableRef::Join::Right:
      return " RIGHT JOIN ";
    case TableRef::Join::Full:
      return " FULL JOIN ";
    case TableRef::Join::Cross:
      return " CROSS JOIN ";
  }
  return ", ";
}

// The FROM list's SQL; adds its tables to scope. With movedOn given, every
// join becomes a comma and its ON condition is handed back for the WHERE
// clause (UPDATE ... FROM, whose target left the list).
std::string Emitter::fromClause(const std::vector<const TableRef*>& refs, Scope* scope,
                                std::vector<std::string>* movedOn) {
  std::string sql;
  for (std::size_t i = 0; i < refs.size(); ++i) {
    const TableRef& ref = *refs[i];
    std::string source;
    if (ref.derived) {
      SelectResult sub = select(*ref.derived, nullptr, nullptr);
      ScopeTable table{ref.alias, {}};
      for (const ResultColumn& c : sub.columns) table.columns.push_back({c.name, c.type});
      scope->tables.push_back(std::move(table));
      source = "(" + sub.sql + ")";
    } else {
      scope->tables.push_back(tableOf(ref.name, ref.alias));
      source = quoteName(ref.name);
    }
    if (movedOn != nullptr) {
      if (ref.join == TableRef::Join::Left || ref.join == TableRef::Join::Right ||
          ref.join == TableRef::Join::Full) {
        throw syntaxErrorNearKeyword("JOIN");
      }
      sql += (i == 0 ? "" : ", ");
    } else {
      sql += i == 0 ? "" : joinWord(ref.join);
    }
    sql += source + " AS " + quoteName(scope->tables.back().ref);
    if (ref.on) {
      std::string on = expr(*ref.on, *scope).sql;
      if (movedOn != nullptr)
        movedOn->push_back(on);
      else
        sql += " ON " + on;
    }
  }
  return sql;
}

SelectResult Emitter::selectCore(const SelectStmt& s, const Scope* outer,
                                 const std::vector<SqlType>* assignTo, Scope* scope) {
  scope->outer = outer;
  std::vector<const TableRef*> refs;
  for (const TableRef& r : s.from) refs.push_back(&r);
  std::string from = fromClause(refs, scope, nullptr);

  SelectResult result;
  std::vector<std::string> items;
  auto addItem = [&](Typed value, const std::string& name) {
    std::size_t index = result.columns.size();
    if (assignTo != nullptr) {
      if (index >= assignTo->size()) throw valueCountError();
      value.sql = assign(value, (*assignTo)[index]);
    }
    items.push_back(name.empty() ? value.sql : value.sql + " AS " + quoteName(name));
    result.columns.push_back({name, value.type});
  };
  for (const SelectItem& item : s.items) {
    if (item.expr->kind == Expr::Kind::Star) {
      const std::string& qualifier = item.expr->qualifier;
      bool matched = false;
      for (const ScopeTable& t : scope->tables) {
        if (!qualifier.empty() && !equalsIgnoreCase(t.ref, qualifier)) continue;
        matched = true;
        for (const ColumnInfo& c : t.columns) {
          addItem(makeTyped(quoteName(t.ref) + "." + quoteName(c.name), c.type), c.name);
        }
      }
      if (!matched) {
        if (qualifier.empty()) throw DbError("42000", 263, "Must specify table to select from.");
        throw DbError("42000", 107,
                      "The column prefix '" + qualifier +
                          "' does not match with a table name or alias name used in the query.");
      }
      continue;
    }
    Typed value = expr(*item.expr, *scope);
    std::string name = item.hasAlias                           ? item.alias
                       : item.expr->kind == Expr::Kind::Column ? item.expr->text
                                                               : std::string();
    addItem(std::move(value), name);
  }
  if (assignTo != nullptr && result.columns.size() != assignTo->size()) throw valueCountError();

  std::string sql = s.distinct ? "SELECT DISTINCT " : "SELECT ";
  for (std::size_t i = 0; i < items.size(); ++i) sql += (i ? ", " : "") + items[i];
  if (!from.empty()) sql += " FROM " + from;
  if (s.where) sql += " WHERE " + expr(*s.where, *scope).sql;
  if (!s.groupBy.empty()) {
    sql += " GROUP BY ";
    for (std::size_t i = 0; i < s.groupBy.size(); ++i) {
      sql += (i ? ", " : "") + collated(expr(*s.groupBy[i], *scope));
    }
  }
  if (s.having) sql += " HAVING " + expr(*s.having, *scope).sql;
  result.sql = std::move(sql);
  return result;
}

SelectResult Emitter::select(const SelectStmt& s, const Scope* outer,
                             const std::vector<SqlType>* assignTo) {
  Scope scope;
  SelectResult result = selectCore(s, outer, assignTo, &scope);
  for (const SelectStmt* part = &s; part->unionNext; part = part->unionNext.get()) {
    Scope partScope;
    SelectResult next = selectCore(*part->unionNext, outer, assignTo, &partScope);
    if (next.columns.size() != result.columns.size()) {
      throw DbError("42000", 205,
                    "All queries combined using a UNION, INTERSECT or EXCEPT operator must have an "
                    "equal number of expressions in their target lists.");
    }
    for (std::size_t i = 0; i < result.columns.size(); ++i) {
      result.columns[i].type = commonType(result.columns[i].type, next.columns[i].type);
    }
    result.sql += (part->unionAll ? " UNION ALL " : " UNION ") + next.sql;
  }
  bool compound = s.unionNext != nullptr;
  if (!s.orderBy.empty()) {
    result.sql += " ORDER BY ";
    for (std::size_t i = 0; i < s.orderBy.size(); ++i) {
      const Expr& e = *s.orderBy[i].expr;
      Typed term;
      const ResultColumn* alias = nullptr;
      if (e.kind == Expr::Kind::Column && e.qualifier.empty()) {
        for (const ResultColumn& c : result.columns) {
          if (equalsIgnoreCase(c.name, e.text)) alias = &c;
        }
      }
      if (alias != nullptr) {
        term = makeTyped(quoteName(alias->name), alias->type);
      } else if (e.kind == Expr::Kind::Number) {
        term = makeTyped(e.text, SqlType());
      } else if (compound) {
        throw DbError("42000", 104,
                      "ORDER BY items must appear in the select list if the statement contains a "
                      "UNION, INTERSECT or EXCEPT operator.");
      } else {
        term = expr(e, scope);
      }
      result.sql += (i ? ", " : "") + collated(term) + (s.orderBy[i].descending ? " DESC" : "");
    }
  }
  if (s.top) {
    if (s.topPercent) throw syntaxErrorNearKeyword("PERCENT");
    result.sql += " LIMIT " + expr(*s.top, Scope()).sql;
  }
  return result;
}

// ---- statements -----------------------------------------------------------

std::string declarationOf(const SqlType& type) {
  if (!type.isKnown()) return "INT";
  std::string decl = type.declaration();
  return type.isText() ? decl + kCollate : decl;
}

void checkNames(const std::vector<ResultColumn>& columns, const std::string& table, bool view) {
  for (std::size_t i = 0; i < columns.size(); ++i) {
    if (columns[i].name.empty()) {
      if (view) throw viewColumnNameError(static_cast<int>(i) + 1);
      throw missingColumnNameError();
    }
    for (std::size_t j = 0; j < i; ++j) {
      if (equalsIgnoreCase(columns[i].name, columns[j].name)) {
        if (view) {
          throw DbError("42S21", 4506,
                        "Column names in each view or function must be unique. Column name '" +
                            columns[i].name + "' in view or function '" + table +
                            "' is specified more than once.");
        }
        throw duplicateColumnError(columns[i].name, table);
      }
    }
  }
}

std::string createTableSql(const std::string& name, const std::vector<std::string>& columns,
                           const std::vector<std::string>& constraints) {
  std::string sql = std::string("CREATE ") + (Catalog::isTemporary(name) ? "TEMP " : "") +
                    "TABLE " + quoteName(name) + " (";
  for (std::size_t i = 0; i < columns.size(); ++i) sql += (i ? ", " : "") + columns[i];
  for (const std::string& c : constraints) sql += ", " + c;
  return sql + ")";
}

std::string nameList(const std::vector<std::string>& names) {
  std::string s;
  for (std::size_t i = 0; i < names.size(); ++i) s += (i ? ", " : "") + quoteName(names[i]);
  return s;
}

const ColumnInfo* findColumn(const std::vector<ColumnInfo>& columns, const std::string& name) {
  for (const ColumnInfo& c : columns) {
    if (equalsIgnoreCase(c.name, name)) return &c;
  }
  return nullptr;
}

class StatementTranslator {
 public:
  StatementTranslator(const Catalog& catalog, DateOrder order)
      : catalog_(catalog), emit_(catalog, order) {}

  Translation select(const Statement& st) {
    const SelectStmt& s = *st.select;
    Translation t;
    if (s.into.empty()) {
      SelectResult r = emit_.select(s, nullptr, nullptr);
      t.steps.push_back(std::move(r.sql));
      t.returnsRows = true;
      t.columns = std::move(r.columns);
      return t;
    }
    if (catalog_.find(s.into) != ObjectKind::None) throw objectExistsError(s.into);
    SelectResult r = emit_.select(s, nullptr, nullptr);
    checkNames(r.columns, s.into, false);
    std::vector<std::string> columns;
    for (const ResultColumn& c : r.columns)
      columns.push_back(quoteName(c.name) + " " + declarationOf(c.type));
    t.steps.push_back(createTableSql(s.into, columns, {}));
    t.steps.push_back("INSERT INTO " + quoteName(s.into) + " " + r.sql);
    return t;
  }

  Translation insert(const Statement& st) {
    ScopeTable table = emit_.tableOf(st.name, {});
    std::vector<const ColumnInfo*> targets;
    if (st.columns.empty()) {
      for (const ColumnInfo& c : table.columns) targets.push_back(&c);
    } else {
      for (const std::string& name : st.columns) {
        const ColumnInfo* c = findColumn(table.columns, name);
        if (c == nullptr) throw invalidColumnError(name);
        targets.push_back(c);
      }
    }
    std::vector<std::string> names;
    std::vector<SqlType> types;
    for (const ColumnInfo* c : targets) {
      names.push_back(c->name);
      types.push_back(c->type);
    }
    std::string sql = "INSERT INTO " + quoteName(st.name) + " (" + nameList(names) + ") ";
    if (st.select) {
      sql += emit_.select(*st.select, nullptr, &types).sql;
    } else {
      sql += "VALUES ";
      for (std::size_t r = 0; r < st.values.size(); ++r) {
        const auto& row = st.values[r];
        if (row.size() != targets.size()) throw valueCountError();
        sql += r ? ", (" : "(";
        for (std::size_t i = 0; i < row.size(); ++i) {
          sql += (i ? ", " : "") + emit_.assign(emit_.expr(*row[i], Scope()), types[i]);
        }
        sql += ")";
      }
    }
    return single(std::move(sql));
  }

  Translation update(const Statement& st) {
    Scope scope;
    std::string target = st.name;
    std::string head;
    std::string from;
    std::vector<std::string> conditions;
    const TableRef* targetRef = nullptr;
    for (const TableRef& r : st.from) {
      bool named =
          r.alias.empty() ? equalsIgnoreCase(r.name, st.name) : equalsIgnoreCase(r.alias, st.name);
      if (named && !r.derived) targetRef = &r;
    }
    if (targetRef != nullptr) {
      // UPDATE alias SET ... FROM table alias JOIN ...: the target leaves the
      // FROM list and its joins become conditions.
      if (targetRef->join == TableRef::Join::Left || targetRef->join == TableRef::Join::Right ||
          targetRef->join == TableRef::Join::Full) {
        throw syntaxErrorNearKeyword("JOIN");
      }
      scope.tables.push_back(emit_.tableOf(targetRef->name, targetRef->alias));
      head = "UPDATE " + quoteName(targetRef->name) + " AS " + quoteName(scope.tables.back().ref);
      std::vector<const TableRef*> others;
      for (const TableRef& r : st.from) {
        if (&r != targetRef) others.push_back(&r);
      }
      from = emit_.fromClause(others, &scope, &conditions);
      if (targetRef->on) conditions.push_back(emit_.expr(*targetRef->on, scope).sql);
    } else {
      scope.tables.push_back(emit_.tableOf(st.name, {}));
      head = "UPDATE " + quoteName(st.name);
      std::vector<const TableRef*> refs;
      for (const TableRef& r : st.from) refs.push_back(&r);
      from = emit_.fromClause(refs, &scope, nullptr);
    }
    const std::vector<ColumnInfo>& columns = scope.tables.front().columns;
    std::string sql = head + " SET ";
    for (std::size_t i = 0; i < st.assignments.size(); ++i) {
      const auto& [name, value] = st.assignments[i];
      const ColumnInfo* c = findColumn(columns, name);
      if (c == nullptr) throw invalidColumnError(name);
      sql += (i ? ", " : "") + quoteName(c->name) + " = " +
             emit_.assign(emit_.expr(*value, scope), c->type);
    }
    if (!from.empty()) sql += " FROM " + from;
    if (st.where) conditions.push_back(emit_.expr(*st.where, scope).sql);
    for (std::size_t i = 0; i < conditions.size(); ++i)
      sql += (i ? " AND " : " WHERE ") + conditions[i];
    return single(std::move(sql));
  }

  Translation remove(const Statement& st) {
    Scope scope;
    scope.tables.push_back(emit_.tableOf(st.name, {}));
    std::string sql = "DELETE FROM " + quoteName(st.name);
    if (st.where) sql += " WHERE " + emit_.expr(*st.where, scope).sql;
    return single(std::move(sql));
  }

  Translation createTable(const Statement& st) {
    if (catalog_.find(st.name) != ObjectKind::None) throw objectExistsError(st.name);
    std::vector<std::string> columns;
    std::vector<ResultColumn> names;
    // An IDENTITY column keyed by a table constraint, as SQL Server's own
    // scripts write it, is keyed on the column itself.
    std::string identityKey;
    for (const TableConstraint& k : st.constraints) {
      if (k.kind != TableConstraint::Kind::PrimaryKey || k.columns.size() != 1) continue;
      for (const ColumnDef& c : st.columnDefs) {
        if (c.identity && equalsIgnoreCase(c.name, k.columns.front())) identityKey = c.name;
      }
    }
    for (const ColumnDef& c : st.columnDefs) {
      names.push_back({c.name, c.type});
      std::string sql = quoteName(c.name) + " ";
      if (c.identity) {
        bool keyed = c.primaryKey || equalsIgnoreCase(c.name, identityKey);
        if (!keyed || c.type.kind != SqlType::Kind::Int) {
          throw engineError(
              "IDENTITY columns are supported only as an integer PRIMARY KEY (column '" + c.name +
              "').");
        }
        columns.push_back(sql + "INTEGER PRIMARY KEY AUTOINCREMENT");
        continue;
      }
      sql += declarationOf(c.type);
      if (c.notNull) sql += " NOT NULL";
      if (c.primaryKey) sql += " PRIMARY KEY";
      if (c.unique) sql += " UNIQUE";
      if (c.defaultValue) {
        Typed value = emit_.expr(*c.defaultValue, Scope());
        std::string v = value.literal != nullptr && c.type.isText() && !c.type.fixed
                            ? value.sql
                            : emit_.assign(value, c.type);
        sql += " DEFAULT (" + v + ")";
      }
      columns.push_back(std::move(sql));
    }
    checkNames(names, st.name, false);
    std::vector<std::string> constraints;
    for (const TableConstraint& k : st.constraints) {
      if (!identityKey.empty() && k.kind == TableConstraint::Kind::PrimaryKey) continue;
      for (const std::string& col : k.columns) {
        bool known = false;
        for (const ResultColumn& n : names) known = known || equalsIgnoreCase(n.name, col);
        if (!known) throw invalidColumnError(col);
      }
      constraints.push_back(
          std::string(k.kind == TableConstraint::Kind::PrimaryKey ? "PRIMARY KEY (" : "UNIQUE (") +
          nameList(k.columns) + ")");
    }
    return single(createTableSql(st.name, columns, constraints));
  }

  Translation createView(const Statement& st) {
    if (catalog_.find(st.name) != ObjectKind::None) throw objectExistsError(st.name);
    SelectResult r = emit_.select(*st.select, nullptr, nullptr);
    std::string head = "CREATE VIEW " + quoteName(st.name);
    if (!st.columns.empty()) {
      if (st.columns.size() != r.columns.size()) {
        throw DbError(
            "42000", 8158,
            "'" + st.name + "' has more or fewer columns than were specified in the column list.");
      }
      for (std::size_t i = 0; i < st.columns.size(); ++i) r.columns[i].name = st.columns[i];
      head += " (" + nameList(st.columns) + ")";
    }
    checkNames(r.columns, st.name, true);
    Translation t;
    t.steps.push_back(head + " AS " + r.sql);
    t.steps.push_back(std::string("CREATE TABLE IF NOT EXISTS ") + kViewColumnsTable +
                      " (view_name TEXT COLLATE NOCASE, ordinal INTEGER, column_name TEXT, "
                      "declared_type TEXT)");
    t.steps.push_back(std::string("DELETE FROM ") + kViewColumnsTable +
                      " WHERE view_name = " + quoteText(st.name));
    std::string insert = std::string("INSERT INTO ") + kViewColumnsTable + " VALUES ";
    for (std::size_t i = 0; i < r.columns.size(); ++i) {
      insert += (i ? ", (" : "(") + quoteText(st.name) + ", " + std::to_string(i + 1) + ", " +
                quoteText(r.columns[i].name) + ", " + quoteText(r.columns[i].type.declaration()) +
                ")";
    }
    t.steps.push_back(insert);
    return t;
  }

  Translation createIndex(const Statement& st) {
    ScopeTable table = emit_.tableOf(st.tableName, {});
    for (const std::string& col : st.columns) {
      if (findColumn(table.columns, col) == nullptr) throw invalidColumnError(col);
    }
    std::string indexName = st.tableName + "." + st.name;
    if (catalog_.find(indexName) != ObjectKind::None) {
      throw DbError("42S11", 1913,
                    "The operation failed because an index or statistics with name '" + st.name +
                        "' already exists on table '" + st.tableName + "'.");
    }
    std::string schema = Catalog::schemaOf(st.tableName);
    return single(std::string("CREATE ") + (st.flag ? "UNIQUE " : "") + "INDEX " + schema + "." +
                  quoteName(indexName) + " ON " + quoteName(st.tableName) + " (" +
                  nameList(st.columns) + ")");
  }

  Translation drop(const Statement& st) {
    Translation t;
    if (st.kind == Statement::Kind::DropIndex) {
      std::string indexName = st.tableName + "." + st.name;
      if (catalog_.find(indexName) != ObjectKind::Index) {
        throw DbError("42S02", 3701,
                      "Cannot drop the index '" + indexName +
                          "', because it does not exist or you do not have permission.");
      }
      t.steps.push_back(std::string("DROP INDEX ") + Catalog::schemaOf(st.tableName) + "." +
                        quoteName(indexName));
      return t;
    }
    bool view = st.kind == Statement::Kind::DropView;
    for (const std::string& name : st.names) {
      ObjectKind kind = catalog_.find(name);
      if (view && kind != ObjectKind::View) throw cannotDropViewError(name);
      if (!view && kind != ObjectKind::Table) throw cannotDropTableError(name);
      t.steps.push_back(std::string(view ? "DROP VIEW " : "DROP TABLE ") + Catalog::schemaOf(name) +
                        "." + quoteName(name));
      if (view && catalog_.hasViewColumnsTable()) {
        t.steps.push_back(std::string("DELETE FROM ") + kViewColumnsTable +
                          " WHERE view_name = " + quoteText(name));
      }
    }
    return t;
  }

 private:
  static Translation single(std::string sql) {
    Translation t;
    t.steps.push_back(std::move(sql));
    return t;
  }

  const Catalog& catalog_;
  Emitter emit_;
};

}  // namespace

std::string quoteName(const std::string& name) {
  return "\"" + replaceAll(name, "\"", "\"\"") + "\"";
}

std::string quoteText(const std::string& text) {
  return "'" + replaceAll(text, "'", "''") + "'";
}

Translation Translator::translate(const Statement& st) const {
  StatementTranslator t(catalog_, order_);
  switch (st.kind) {
    case Statement::Kind::Select:
      return t.select(st);
    case Statement::Kind::Insert:
      return t.insert(st);
    case Statement::Kind::Update:
      return t.update(st);
    case Statement::Kind::Delete:
      return t.remove(st);
    case Statement::Kind::CreateTable:
      return t.createTable(st);
    case Statement::Kind::CreateView:
      return t.createView(st);
    case Statement::Kind::CreateIndex:
      return t.createIndex(st);
    case Statement::Kind::DropTable:
    case Statement::Kind::DropView:
    case Statement::Kind::DropIndex:
      return t.drop(st);
    default:
      throw engineError("statement is run by the connection, not translated");
  }
}

}  // namespace agent::tsql
