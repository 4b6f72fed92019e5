// T-SQL scripts as their batches: the text between lines that hold only GO
// (any case), as the command-line tools of the field cut them.
#ifndef AGENT_DB_SCRIPT_BATCHES_H_
#define AGENT_DB_SCRIPT_BATCHES_H_

#include <string>
#include <string_view>
#include <vector>

namespace agent {

// The batches of script, in order, each with its lines' ends as "\n". A
// leading UTF-8 byte-order mark is skipped; batches holding only blanks are
// left out.
std::vector<std::string> splitBatches(std::string_view script);

}  // namespace agent

#endif  // AGENT_DB_SCRIPT_BATCHES_H_
