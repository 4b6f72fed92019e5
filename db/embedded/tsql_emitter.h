// The translator's inner workings, shared by its three parts: expressions
// (tsql_expressions.cc), built-in functions (tsql_functions.cc) and
// statements (tsql_translator.cc). Not for use outside the translator.
#ifndef AGENT_DB_EMBEDDED_TSQL_EMITTER_H_
#define AGENT_DB_EMBEDDED_TSQL_EMITTER_H_

#include <string>
#include <vector>

#include "db/embedded/catalog.h"
#include "db/embedded/date_conversion.h"
#include "db/embedded/sqlite_functions.h"
#include "db/embedded/tsql_ast.h"
#include "db/embedded/tsql_translator.h"

namespace agent::tsql {

inline const std::string kCollate = std::string(" COLLATE ") + kTextCollation;

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

// Rewrites expressions and queries; statements build on it.
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

  // For the built-in functions.
  Typed implicit(const Typed& x, const SqlType& target);
  // A DATEPART-style first argument (year, mm, ...) as a quoted canonical
  // name; SQL Server's error for an unknown one.
  std::string datePartArg(const Expr& e);

 private:
  Typed column(const Expr& e, const Scope& scope);
  // NULL, a string or a number, typed as SQL Server types a literal.
  Typed literal(const Expr& e);
  // Logical, LIKE, arithmetic and comparison operators.
  Typed binary(const Expr& e, const Scope& scope);
  // IS NULL, IN (list), IN (select), BETWEEN and EXISTS.
  Typed predicate(const Expr& e, const Scope& scope);
  // The built-in function calls (tsql_functions.cc).
  Typed function(const Expr& e, const Scope& scope);
  Typed aggregate(const Expr& e, const Scope& scope);
  Typed caseExpr(const Expr& e, const Scope& scope);
  Typed convert(const Expr& e, const Scope& scope);
  Typed compare(Typed a, Typed b, const std::string& op);
  Typed plus(Typed a, Typed b);
  Typed arithmetic(Typed a, Typed b, const std::string& op);
  Typed toNumberFor(const Typed& x, const SqlType& numberType);
  Typed subquery(const SelectStmt& s, const Scope& scope, SqlType* firstType);
  SelectResult selectCore(const SelectStmt& s, const Scope* outer,
                          const std::vector<SqlType>* assignTo, Scope* scopeOut);

  const Catalog& catalog_;
  DateOrder order_;
};

Typed makeTyped(std::string sql, SqlType type);
// The expression's SQL, under the engine's collation when it is text.
std::string collated(const Typed& t);
// fn(arg, 'declaration of type'): a conversion function told its target.
std::string typeCall(const char* fn, const std::string& arg, const SqlType& type);

}  // namespace agent::tsql

#endif  // AGENT_DB_EMBEDDED_TSQL_EMITTER_H_
