// Expressions: names resolved against the query's tables, every value
// typed, implicit conversions where text meets a number or a datetime, and
// the FROM list.
#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "base/code_page.h"
#include "base/text.h"
#include "db/embedded/engine_errors.h"
#include "db/embedded/tsql_emitter.h"
#include "db/embedded/value_conversion.h"

namespace agent::tsql {

namespace {

DbError unboundIdentifierError(const std::string& qualifier, const std::string& name) {
  return DbError(
      "42000", 4104,
      "The multi-part identifier \"" + qualifier + "." + name + "\" could not be bound.");
}

std::string numberLiteral(const NumberValue& n, const SqlType& target) {
  if (n.integer) return std::to_string(n.intValue);
  if (target.kind == SqlType::Kind::Numeric) return fixedText(n.value, target.scale);
  return floatText(n.value);
}

int characterLength(const std::string& text) {
  return static_cast<int>(characterCount(text));
}

}  // namespace

std::string typeCall(const char* fn, const std::string& arg, const SqlType& type) {
  return std::string(fn) + "(" + arg + ", " + quoteText(type.declaration()) + ")";
}

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
          (target.length == 0 || characterLength(*x.literal) <= target.length)) {
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
        // No style's text is longer: a target that holds it takes it as is.
        constexpr int kLongestStyled = 23;  // styles 21, 26, 121, 126
        if (!target.fixed && (target.length == 0 || target.length >= kLongestStyled)) {
          return makeTyped(value, target);
        }
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

Typed Emitter::literal(const Expr& e) {
  if (e.kind == Expr::Kind::Null) {
    Typed t = makeTyped("NULL", SqlType());
    t.isNull = true;
    return t;
  }
  if (e.kind == Expr::Kind::String) {
    Typed t = makeTyped(quoteText(e.text), SqlType::text(std::max(1, characterLength(e.text))));
    t.literal = &e.text;
    return t;
  }
  // A number: an integer that fits in 32 bits is int, a larger one or one
  // with a point numeric of its digits, one with an exponent float.
  SqlType type = SqlType::integer();
  std::size_t point = e.text.find('.');
  if (e.text.find_first_of("eE") != std::string::npos && e.text.find("0x") == std::string::npos) {
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

Typed Emitter::binary(const Expr& e, const Scope& scope) {
  Typed a = expr(*e.args[0], scope);
  Typed b = expr(*e.args[1], scope);
  const std::string& op = e.text;
  if (op == "AND" || op == "OR")
    return makeTyped("(" + a.sql + " " + op + " " + b.sql + ")", SqlType::bit());
  if (op == "LIKE") {
    // Trailing blanks of the matched value do not count (char columns).
    return makeTyped("(rtrim(" + a.sql + ")" + (e.negated ? " NOT LIKE " : " LIKE ") + b.sql + ")",
                     SqlType::bit());
  }
  if (op == "+") return plus(std::move(a), std::move(b));
  if (op == "-" || op == "*" || op == "/" || op == "%" || op == "&" || op == "|" || op == "^") {
    return arithmetic(std::move(a), std::move(b), op);
  }
  return compare(std::move(a), std::move(b), op);
}

Typed Emitter::predicate(const Expr& e, const Scope& scope) {
  if (e.kind == Expr::Kind::Exists) {
    Typed sub = subquery(*e.select, scope, nullptr);
    return makeTyped(std::string(e.negated ? "(NOT EXISTS " : "(EXISTS ") + sub.sql + ")",
                     SqlType::bit());
  }
  Typed x = expr(*e.args[0], scope);
  switch (e.kind) {
    case Expr::Kind::IsNull:
      return makeTyped("(" + x.sql + (e.negated ? " IS NOT NULL)" : " IS NULL)"), SqlType::bit());
    case Expr::Kind::InList: {
      std::string sql = "(" + collated(x) + (e.negated ? " NOT IN (" : " IN (");
      for (std::size_t i = 1; i < e.args.size(); ++i) {
        sql += (i > 1 ? ", " : "") + implicit(expr(*e.args[i], scope), x.type).sql;
      }
      return makeTyped(sql + "))", SqlType::bit());
    }
    case Expr::Kind::InSelect: {
      SqlType inner;
      Typed sub = subquery(*e.select, scope, &inner);
      std::string left = (x.type.isText() || inner.isText()) ? x.sql + kCollate : x.sql;
      return makeTyped("(" + left + (e.negated ? " NOT IN " : " IN ") + sub.sql + ")",
                       SqlType::bit());
    }
    default: {  // Between
      Typed low = implicit(expr(*e.args[1], scope), x.type);
      Typed high = implicit(expr(*e.args[2], scope), x.type);
      return makeTyped("(" + collated(x) + (e.negated ? " NOT BETWEEN " : " BETWEEN ") + low.sql +
                           " AND " + high.sql + ")",
                       SqlType::bit());
    }
  }
}

Typed Emitter::expr(const Expr& e, const Scope& scope) {
  switch (e.kind) {
    case Expr::Kind::Null:
    case Expr::Kind::String:
    case Expr::Kind::Number:
      return literal(e);
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
    case Expr::Kind::Binary:
      return binary(e, scope);
    case Expr::Kind::IsNull:
    case Expr::Kind::InList:
    case Expr::Kind::InSelect:
    case Expr::Kind::Between:
    case Expr::Kind::Exists:
      return predicate(e, scope);
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
}  // namespace agent::tsql
