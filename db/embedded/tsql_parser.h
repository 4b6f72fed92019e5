// Parses a batch of T-SQL statements into their parsed form (tsql_ast.h).
// Only the dialect the embedded engine translates is accepted; anything else
// is refused with SQL Server's syntax error naming the token (102, or 156
// for a keyword), so that no statement is ever run half understood.
#ifndef AGENT_DB_EMBEDDED_TSQL_PARSER_H_
#define AGENT_DB_EMBEDDED_TSQL_PARSER_H_

#include <string_view>
#include <vector>

#include "db/embedded/tsql_ast.h"

namespace agent::tsql {

// Parses every statement of text, separated by blanks or ";". quoted-
// Identifier is the session's QUOTED_IDENTIFIER setting at the start; a SET
// QUOTED_IDENTIFIER inside the batch changes how the statements after it
// are read, as in SQL Server. Throws DbError for a syntax error anywhere in
// the batch (then none of it runs).
std::vector<Statement> parseBatch(std::string_view text, bool quotedIdentifier);

// True for the words SQL Server reserves (they are no alias or name).
bool isReservedWord(std::string_view word);

}  // namespace agent::tsql

#endif  // AGENT_DB_EMBEDDED_TSQL_PARSER_H_
