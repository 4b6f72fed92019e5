#include "db/remote_literal.h"

#include <memory>

#include "db/connection.h"

namespace agent {

std::string remoteLiteral(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out = "_utf8mb4 X'";
  out.reserve(out.size() + 2 * text.size() + 1);
  for (unsigned char c : text) {
    out += kHex[c >> 4];
    out += kHex[c & 0x0F];
  }
  out += '\'';
  return out;
}

std::string remoteQuoted(std::string_view text, bool backslashEscapes) {
  std::string out = "'";
  out.reserve(text.size() + 8);
  for (char c : text) {
    if ((c == '\\' && backslashEscapes) || c == '\'') out += c;
    out += c;
  }
  return out + "'";
}

bool backslashEscapesOn(Connection& remote) {
  std::unique_ptr<Recordset> mode = remote.query("select @@session.sql_mode", Cursor::Forward);
  return mode->eof() ||
         mode->field(0).textValue().find("NO_BACKSLASH_ESCAPES") == std::string::npos;
}

}  // namespace agent
