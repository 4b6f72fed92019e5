// Cutting a script at its GO lines.
#include "db/script_batches.h"

#include "base/text.h"

namespace agent {

std::vector<std::string> splitBatches(std::string_view script) {
  if (script.starts_with("\xEF\xBB\xBF")) script.remove_prefix(3);  // UTF-8 byte-order mark
  std::vector<std::string> batches;
  std::string current;
  auto finish = [&] {
    if (!trim(current, " \t\r\n").empty()) batches.push_back(current);
    current.clear();
  };
  for (const std::string& line : split(script, '\n')) {
    if (equalsIgnoreCase(trim(line, " \t\r"), "GO")) {
      finish();
    } else {
      current += line;
      current += '\n';
    }
  }
  finish();
  return batches;
}

}  // namespace agent
