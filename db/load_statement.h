// The LOAD DATA LOCAL INFILE statement that reads an export file into a
// remote table. It names its escape character and line terminator itself,
// so the file reads back the same whatever the SQL mode of the connection.
#ifndef AGENT_DB_LOAD_STATEMENT_H_
#define AGENT_DB_LOAD_STATEMENT_H_

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace agent {

// How fields are laid out in a line of an export file. The load statement
// of a file is built from the same format, so writer and server always
// agree.
struct ExportFormat {
  char separator = '|';
  // When set, every field is written between two of these (the SMS log).
  std::optional<char> enclosure;
};

// A load of one export file into a remote table, as data. A connection
// makes its statement (Connection::loadStatement), naming the file as
// whoever serves the server's request opens it; a connection that serves
// the request itself knows from the statement alone which file it may
// send, without reading the file's name back out of the SQL.
struct LocalLoad {
  std::filesystem::path file;
  std::string table;
  std::string columns;  // the column list, as the statement writes it
  ExportFormat format;
  bool backslashEscapes = true;  // the SQL mode the statement runs under
};

// "LOAD DATA local INFILE '<path>' INTO TABLE <table> FIELDS TERMINATED BY
// '|'[ ENCLOSED BY '<c>'] ESCAPED BY X'5C' LINES TERMINATED BY X'0D0A'
// (<columns>)" for a file written by ExportFile with format, the path
// written for the connection's SQL mode at the time the statement runs.
std::string loadStatement(std::string_view path, std::string_view table, std::string_view columns,
                          const ExportFormat& format = {}, bool backslashEscapes = true);

// The statement of load, naming its file as fileName.
std::string loadStatement(const LocalLoad& load, std::string_view fileName);

}  // namespace agent

#endif  // AGENT_DB_LOAD_STATEMENT_H_
