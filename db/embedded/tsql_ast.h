// The parsed form of the T-SQL statements the embedded engine accepts.
// Names are kept as the statement wrote them (without brackets or a dbo.
// schema); the translator resolves them against the database.
#ifndef AGENT_DB_EMBEDDED_TSQL_AST_H_
#define AGENT_DB_EMBEDDED_TSQL_AST_H_

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "db/embedded/sql_type.h"

namespace agent::tsql {

struct SelectStmt;
struct Expr;
using ExprPtr = std::unique_ptr<Expr>;

struct Expr {
  enum class Kind {
    Null,      // NULL
    String,    // text: the literal's content
    Number,    // text: the literal as written
    Column,    // qualifier.text
    Star,      // qualifier.* or *
    Unary,     // text: "-", "+", "NOT", "~"; args[0]
    Binary,    // text: operator in upper case ("+", "=", "AND", "LIKE"...); args[0], args[1]
    IsNull,    // args[0] IS [NOT] NULL
    InList,    // args[0] [NOT] IN (args[1..])
    InSelect,  // args[0] [NOT] IN (select)
    Between,   // args[0] [NOT] BETWEEN args[1] AND args[2]
    Exists,    // [NOT] EXISTS (select)
    Case,      // operand?, args = when/then pairs, elseExpr?
    Function,  // text: name in upper case; args; distinct; star for COUNT(*)
    Convert,   // CONVERT(type, args[0] [, args[1] style]) and CAST(args[0] AS type)
    Subquery,  // (select) as a value
    DatePart,  // text: the datepart word of DATEDIFF / DATEADD / DATEPART
  };

  Kind kind = Kind::Null;
  std::string text;
  std::string qualifier;
  bool negated = false;
  bool distinct = false;
  bool star = false;
  std::vector<ExprPtr> args;
  ExprPtr operand;   // CASE operand
  ExprPtr elseExpr;  // CASE ELSE
  std::unique_ptr<SelectStmt> select;
  SqlType type;  // CONVERT / CAST target
};

struct TableRef {
  enum class Join { First, Comma, Inner, Left, Right, Full, Cross };
  Join join = Join::First;
  std::string name;                     // a table or view; empty for a derived table
  std::unique_ptr<SelectStmt> derived;  // (select) alias
  std::string alias;
  ExprPtr on;
};

struct SelectItem {
  ExprPtr expr;
  std::string alias;
  bool hasAlias = false;
};

struct OrderItem {
  ExprPtr expr;
  bool descending = false;
};

struct SelectStmt {
  bool distinct = false;
  ExprPtr top;  // TOP n
  bool topPercent = false;
  std::vector<SelectItem> items;
  std::string into;  // SELECT ... INTO name; empty when none
  std::vector<TableRef> from;
  ExprPtr where;
  std::vector<ExprPtr> groupBy;
  ExprPtr having;
  std::unique_ptr<SelectStmt> unionNext;  // UNION [ALL] next select
  bool unionAll = false;
  std::vector<OrderItem> orderBy;  // of the whole union
};

struct ColumnDef {
  std::string name;
  SqlType type;
  bool notNull = false;
  bool primaryKey = false;
  bool unique = false;
  bool identity = false;
  ExprPtr defaultValue;
};

struct TableConstraint {
  enum class Kind { PrimaryKey, Unique };
  Kind kind = Kind::PrimaryKey;
  std::vector<std::string> columns;
};

struct Statement {
  enum class Kind {
    Select,
    Insert,
    Update,
    Delete,
    CreateTable,
    CreateView,
    CreateIndex,
    CreateDatabase,
    DropTable,
    DropView,
    DropIndex,
    SetDateFormat,
    SetQuotedIdentifier,
    SetOption,
    BeginTransaction,
    Commit,
    Rollback,
    Use,
  };
  Kind kind = Kind::Select;
  std::string name;                          // target table / view / index / database; SET value
  std::string tableName;                     // CREATE INDEX / DROP INDEX: the table
  bool flag = false;                         // SET ... ON; CREATE UNIQUE INDEX
  std::unique_ptr<SelectStmt> select;        // SELECT; INSERT ... SELECT; CREATE VIEW
  std::vector<std::string> columns;          // INSERT column list; index columns
  std::vector<std::vector<ExprPtr>> values;  // INSERT ... VALUES rows
  std::vector<std::pair<std::string, ExprPtr>> assignments;  // UPDATE SET
  std::vector<TableRef> from;                                // UPDATE ... FROM, DELETE ... FROM
  ExprPtr where;
  std::vector<ColumnDef> columnDefs;
  std::vector<TableConstraint> constraints;
  std::vector<std::string> names;  // DROP TABLE a, b
  // A table hint asks for locks held to the end of the transaction
  // (UPDLOCK, HOLDLOCK, XLOCK, TABLOCKX, SERIALIZABLE).
  bool lockingRead = false;
};

}  // namespace agent::tsql

#endif  // AGENT_DB_EMBEDDED_TSQL_AST_H_
