#include "cycle/cycle_summary.h"

#include <fmt/format.h>

namespace agent {

namespace {

std::string counted(std::size_t n, const char* noun) {
  return fmt::format("{} {}{}", n, noun, n == 1 ? "" : "s");
}

}  // namespace

CycleSummary::CycleSummary(const Journal& journal)
    : journal_(journal),
      warningsBefore_(journal.warningCount()),
      errorsBefore_(journal.errorCount()),
      started_(std::chrono::steady_clock::now()) {}

void CycleSummary::addStage(std::string name, std::size_t rows) {
  stages_.emplace_back(std::move(name), rows);
}

std::string CycleSummary::line(bool stamped, std::size_t changedValues) const {
  std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - started_;
  std::size_t total = 0;
  std::string perStage;
  for (const auto& [name, rows] : stages_) {
    total += rows;
    if (!perStage.empty()) perStage += "; ";
    perStage += fmt::format("{} {}", name, rows);
  }
  return fmt::format("{}{}, {} sent in {:.2f} s ({}), {}, {}", kPrefix,
                     stamped ? "stamped" : "ended early", counted(total, "row"), seconds.count(),
                     perStage.empty() ? "no stage ran" : perStage,
                     counted(journal_.warningCount() - warningsBefore_, "warning"),
                     counted(journal_.errorCount() - errorsBefore_, "error")) +
         (changedValues > 0 ? ", " + counted(changedValues, "value") + " changed by the portal"
                            : std::string());
}

}  // namespace agent
