// The errors of the embedded engine, worded, numbered and classified as SQL
// Server and its ODBC driver report them (native error number, SQLSTATE,
// message text), so that callers decide by them as they would against the
// real server. Object names appear exactly as the statement wrote them.
#ifndef AGENT_DB_EMBEDDED_ENGINE_ERRORS_H_
#define AGENT_DB_EMBEDDED_ENGINE_ERRORS_H_

#include <string>

#include "db/error.h"

namespace agent::tsql {

DbError objectExistsError(const std::string& name);                                // 2714
DbError invalidObjectError(const std::string& name);                               // 208
DbError invalidColumnError(const std::string& name);                               // 207
DbError ambiguousColumnError(const std::string& name);                             // 209
DbError cannotDropTableError(const std::string& name);                             // 3701
DbError cannotDropViewError(const std::string& name);                              // 3701
DbError syntaxErrorNear(const std::string& token);                                 // 102
DbError syntaxErrorNearKeyword(const std::string& keyword);                        // 156
DbError unclosedQuoteError(const std::string& rest);                               // 105
DbError dateConversionError();                                                     // 241
DbError dateOutOfRangeError();                                                     // 242
DbError textToIntError(const std::string& value, const std::string& typeName);     // 245
DbError textToNumberError(const std::string& typeName);                            // 8114
DbError truncationError();                                                         // 8152
DbError loginFailedError(const std::string& user);                                 // 18456
DbError cannotOpenDatabaseError(const std::string& name);                          // 4060
DbError databaseExistsError(const std::string& name);                              // 1801
DbError valueCountError();                                                         // 213
DbError unknownFunctionError(const std::string& name);                             // 195
DbError missingColumnNameError();                                                  // 1038
DbError viewColumnNameError(int column);                                           // 4511
DbError duplicateKeyError(const std::string& table);                               // 2627
DbError nullNotAllowedError(const std::string& column, const std::string& table);  // 515
DbError lockTimeoutError();                                                        // 1222
DbError serverNotFoundError(const std::string& folder);
// Any other failure SQLite reports, with its text.
DbError engineError(const std::string& text);

}  // namespace agent::tsql

#endif  // AGENT_DB_EMBEDDED_ENGINE_ERRORS_H_
