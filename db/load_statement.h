// The LOAD DATA LOCAL INFILE statement that reads an export file into a
// remote table. It names its escape character and line terminator itself,
// so the file reads back the same whatever the SQL mode of the connection.
#ifndef AGENT_UPLOAD_LOAD_STATEMENT_H_
#define AGENT_UPLOAD_LOAD_STATEMENT_H_

#include <string>
#include <string_view>

#include "upload/export_writer.h"

namespace agent {

// "LOAD DATA local INFILE '<path>' INTO TABLE <table> FIELDS TERMINATED BY
// '|'[ ENCLOSED BY '<c>'] ESCAPED BY X'5C' LINES TERMINATED BY X'0D0A'
// (<columns>)" for a file written by ExportFile with format, the path
// written for the connection's SQL mode at the time the statement runs.
std::string loadStatement(std::string_view path, std::string_view table, std::string_view columns,
                          const ExportFormat& format = {}, bool backslashEscapes = true);

}  // namespace agent

#endif  // AGENT_UPLOAD_LOAD_STATEMENT_H_
