// `upload-agent --check`: everything a cycle needs, checked before the
// first cycle says it with a driver's message. Reads the settings files,
// opens both connections and runs read-only probes (the local control row;
// the portal's tables and columns the stages write, its character sets and
// whether it accepts local file loads). It writes nothing: no CSV folder,
// no journal file, no statement that changes either database.
#ifndef AGENT_APP_CORE_CONFIG_CHECK_H_
#define AGENT_APP_CORE_CONFIG_CHECK_H_

#include <filesystem>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "cycle/stage.h"

namespace agent {

// The columns of one portal table that a part of the cycle writes.
struct RemoteColumns {
  std::string table;
  std::vector<std::string> columns;
  StageGate gate = StageGate::Always;  // whose institutions write them
};

// The portal's tables and columns the cycle writes, merged per table in
// first-use order: the mirrored tables' column lists, the control stamps
// and the payment posting's mark. Taken from the descriptions and
// statements the stages run, so a column added there is checked here.
std::vector<RemoteColumns> remoteColumnsWritten();

// The table and the columns an "update <table> [alias, ...] set a = ...,
// b = ... [where c = ... and d = ...]" statement names (aliases such as
// "x1." dropped, set columns first). Empty table for any other statement.
RemoteColumns columnsOfUpdate(std::string_view statement);

// One line of the checklist.
struct CheckLine {
  enum class Result { Ok, Warning, Failed };
  Result result = Result::Ok;
  std::string subject;  // what was checked
  std::string detail;   // what was found; for Failed, also what to change
};

// Runs every check on the program folder home and returns the lines in
// order. A check whose input failed earlier is reported as not run.
std::vector<CheckLine> checkConfiguration(const std::filesystem::path& home);

// Prints the lines ("OK      subject: detail") and a closing verdict.
// Returns the exit status: 0 when no line failed (a cycle could run), 1
// otherwise.
int printCheck(const std::vector<CheckLine>& lines, std::ostream& out);

}  // namespace agent

#endif  // AGENT_APP_CORE_CONFIG_CHECK_H_
