// How values are written into statements for the portal's server. Two forms,
// one per need:
//
//  - remoteLiteral: any text as a hexadecimal literal. It reads the same in
//    every SQL mode and converts to the character set of the column it
//    meets; use it wherever the grammar takes an expression.
//  - remoteQuoted: text between single quotes, for the places the grammar
//    takes only a plain string (a LOAD DATA file name) or where the bytes
//    are in the connection's own character set (keys read back from an
//    export file). How a backslash is written depends on the session's SQL
//    mode, which backslashEscapesOn() asks the server for.
#ifndef AGENT_DB_REMOTE_LITERAL_H_
#define AGENT_DB_REMOTE_LITERAL_H_

#include <string>
#include <string_view>

namespace agent {

class Connection;

// text as a MariaDB hexadecimal string literal with a character set
// introducer: _utf8mb4 X'4F31'. The empty text gives _utf8mb4 X''.
std::string remoteLiteral(std::string_view text);

// 'text' with every "'" doubled and, when the session reads backslashes as
// escapes (the server's default), every "\" doubled: C:\O'Brien gives
// 'C:\\O''Brien', and 'C:\O''Brien' under NO_BACKSLASH_ESCAPES.
std::string remoteQuoted(std::string_view text, bool backslashEscapes);

// Whether remote's session reads backslashes in string literals as escapes
// (its sql_mode lacks NO_BACKSLASH_ESCAPES). Throws as remote.query() does.
bool backslashEscapesOn(Connection& remote);

}  // namespace agent

#endif  // AGENT_DB_REMOTE_LITERAL_H_
