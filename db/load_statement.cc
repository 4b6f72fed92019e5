// Building load statements.
#include "db/load_statement.h"

#include <cstdio>

#include "db/remote_literal.h"

namespace agent {

namespace {

// A one-character SQL literal that reads the same in every SQL mode.
std::string characterLiteral(char c) {
  if (c == '\\' || c == '\'') {
    char hex[8];
    std::snprintf(hex, sizeof hex, "X'%02X'", static_cast<unsigned char>(c));
    return hex;
  }
  return std::string("'") + c + "'";
}

}  // namespace

std::string loadStatement(std::string_view path, std::string_view table, std::string_view columns,
                          const ExportFormat& format, bool backslashEscapes) {
  std::string sql =
      "LOAD DATA local INFILE " + remoteQuoted(path, backslashEscapes) + " INTO TABLE ";
  sql += table;
  sql += " FIELDS TERMINATED BY " + characterLiteral(format.separator);
  if (format.enclosure) sql += " ENCLOSED BY " + characterLiteral(*format.enclosure);
  sql += " ESCAPED BY X'5C' LINES TERMINATED BY X'0D0A' (";
  sql += columns;
  sql += ")";
  return sql;
}

std::string loadStatement(const LocalLoad& load, std::string_view fileName) {
  return loadStatement(fileName, load.table, load.columns, load.format, load.backslashEscapes);
}

}  // namespace agent
