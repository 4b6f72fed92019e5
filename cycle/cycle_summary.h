// The line that ends every cycle's journal: the outcome, the rows each stage
// sent and their total, the seconds the cycle took, and how many warnings
// and errors the journal took during it. `upload-agent --status` finds the
// last cycles by the line's prefix.
#ifndef AGENT_CYCLE_CYCLE_SUMMARY_H_
#define AGENT_CYCLE_CYCLE_SUMMARY_H_

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "cycle/journal.h"

namespace agent {

class CycleSummary {
 public:
  // What every summary line starts with, after the journal's level.
  static constexpr std::string_view kPrefix = "cycle summary: ";

  // Starts counting: the journal's warnings and errors from now on, and the
  // seconds from now on.
  explicit CycleSummary(const Journal& journal);

  // A stage that ran to its end and sent (or booked) rows.
  void addStage(std::string name, std::size_t rows);

  // "cycle summary: stamped, 312 rows sent in 4.20 s (college 3; student
  // and masuser 300; ...), 1 warning, 0 errors"; "ended early" instead of
  // "stamped" when the cycle did not write its end stamp; ", 2 values
  // changed by the portal" added when the portal's server stored values
  // unlike they were sent.
  std::string line(bool stamped, std::size_t changedValues = 0) const;

 private:
  const Journal& journal_;
  std::size_t warningsBefore_;
  std::size_t errorsBefore_;
  std::chrono::steady_clock::time_point started_;
  std::vector<std::pair<std::string, std::size_t>> stages_;
};

}  // namespace agent

#endif  // AGENT_CYCLE_CYCLE_SUMMARY_H_
