// Rewrites one parsed T-SQL statement into the SQLite statements that do
// the same on the engine's storage: names resolved against the catalog
// (SQL Server's errors for unknown objects and columns), every expression
// typed, text compared under the engine's collation, "+" turned into
// concatenation or addition by its operands' types, text converted where it
// meets a datetime or number column, and SELECT ... INTO made into a typed
// CREATE TABLE followed by an INSERT.
#ifndef AGENT_DB_EMBEDDED_TSQL_TRANSLATOR_H_
#define AGENT_DB_EMBEDDED_TSQL_TRANSLATOR_H_

#include <string>
#include <vector>

#include "db/embedded/catalog.h"
#include "db/embedded/date_conversion.h"
#include "db/embedded/tsql_ast.h"

namespace agent::tsql {

struct ResultColumn {
  std::string name;
  SqlType type;
};

struct Translation {
  // SQLite statements to run in order, all or none.
  std::vector<std::string> steps;
  // When the last step returns rows: their names and T-SQL types.
  bool returnsRows = false;
  std::vector<ResultColumn> columns;
};

class Translator {
 public:
  // catalog must outlive the translator; order is the session's DATEFORMAT,
  // used to convert date literals.
  Translator(const Catalog& catalog, DateOrder order) : catalog_(catalog), order_(order) {}

  // Translates a SELECT, INSERT, UPDATE, DELETE, CREATE TABLE / VIEW /
  // INDEX or DROP statement. Throws DbError with SQL Server's error for
  // unknown or existing objects, unknown columns and invalid conversions of
  // literals.
  Translation translate(const Statement& statement) const;

 private:
  const Catalog& catalog_;
  DateOrder order_;
};

// A name quoted as a SQLite identifier.
std::string quoteName(const std::string& name);
// A text quoted as a SQLite string literal.
std::string quoteText(const std::string& text);

}  // namespace agent::tsql

#endif  // AGENT_DB_EMBEDDED_TSQL_TRANSLATOR_H_
