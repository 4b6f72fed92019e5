#include "cycle/journal.h"

#include <spdlog/sinks/rotating_file_sink.h>
#include <spdlog/spdlog.h>

#include "base/file_names.h"
#include "db/error.h"

namespace agent {

Journal::Journal() = default;

Journal::Journal(const std::filesystem::path& logFile) {
  try {
    std::filesystem::create_directories(logFile.parent_path());
    // The native name (UTF-16 on Windows, where spdlog takes wide names).
    auto sink =
        std::make_shared<spdlog::sinks::rotating_file_sink_mt>(logFile.native(), 1024 * 1024, 5);
    file_ = std::make_shared<spdlog::logger>("journal", sink);
    file_->set_pattern("%Y-%m-%d %H:%M:%S %v");
    file_->flush_on(spdlog::level::trace);
  } catch (const std::exception& e) {
    throw AgentError(error_number::kFileError,
                     "Cannot open the log " + pathText(logFile) + ": " + e.what());
  }
}

Journal::~Journal() = default;

void Journal::info(const std::string& line) {
  write("INFO ", line);
}
void Journal::warning(const std::string& line) {
  write("WARN ", line);
  std::lock_guard<std::mutex> lock(mutex_);
  ++warnings_;
}
void Journal::error(const std::string& line) {
  write("ERROR ", line);
  std::lock_guard<std::mutex> lock(mutex_);
  ++errors_;
}

std::size_t Journal::warningCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return warnings_;
}
std::size_t Journal::errorCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return errors_;
}

void Journal::write(const char* level, const std::string& line) {
  std::string text = std::string(level) + line;
  std::lock_guard<std::mutex> lock(mutex_);
  if (file_) file_->info(text);
  recent_.push_back(std::move(text));
  if (recent_.size() > kKeptLines) recent_.pop_front();
}

std::vector<std::string> Journal::recentLines() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return {recent_.begin(), recent_.end()};
}

}  // namespace agent
