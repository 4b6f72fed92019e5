// The cycle journal: one line per event (cycle start, each stage with its
// rows and seconds, warnings, the end or the error), written to a rotating
// log file and kept in memory for the last lines.
#ifndef AGENT_CYCLE_JOURNAL_H_
#define AGENT_CYCLE_JOURNAL_H_

#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/mutex.h"
#include "base/thread_annotations.h"

namespace spdlog {
class logger;
}

namespace agent {

// The journal's file in a log folder ("agent.log"; rotated copies beside
// it). Everything that writes or shows the journal names it through this.
std::filesystem::path journalFileIn(const std::filesystem::path& logFolder);

class Journal {
 public:
  // A journal kept in memory only.
  Journal();
  // Also writes to logFile (rotating: 5 files of 1 MiB); the folder is
  // made when missing. Throws AgentError when the file cannot be opened.
  explicit Journal(const std::filesystem::path& logFile);
  ~Journal();
  Journal(const Journal&) = delete;
  Journal& operator=(const Journal&) = delete;

  // Each call writes exactly one line: control characters of line (portal
  // values, server messages, file contents may hold them) are written as
  // escapes (\n, \r, \xNN; \u0085, \u2028, \u2029), and a line longer than
  // kMaxLineBytes once escaped is cut there, with a note of the cut.
  void info(const std::string& line);
  void warning(const std::string& line);
  void error(const std::string& line);

  // The most recent lines (at most kKeptLines), oldest first, each
  // prefixed with its level ("INFO ", "WARN ", "ERROR ").
  std::vector<std::string> recentLines() const;
  static constexpr std::size_t kKeptLines = 2000;
  static constexpr std::size_t kMaxLineBytes = 4096;

  // Why the log file cannot be written, empty while it can: a line that
  // fails (a full disk, a file size limit, the file taken away) raises one
  // line on standard error, and this stays set until a line is written
  // again. Lines are kept in memory meanwhile all the same.
  std::string writeFault() const;

  // Warning and error lines written since the journal was made; a cycle's
  // summary counts its own by the difference.
  std::size_t warningCount() const;
  std::size_t errorCount() const;

  // A copy of each line, as written (escaped and capped), for a second
  // place that administrators watch: a Windows service's Event Log. Set it
  // before other threads write; an empty function (the default) sends none.
  enum class Level { Info, Warning, Error };
  using Mirror = std::function<void(Level level, const std::string& line)>;
  void mirrorTo(Mirror mirror) { mirror_ = std::move(mirror); }

 private:
  void write(Level level, const std::string& line);
  // The log file's failure to write a line, from its error handler (which
  // runs inside write(), under mutex_).
  void noteWriteFault(const std::string& message);

  std::shared_ptr<spdlog::logger> file_;
  std::filesystem::path path_;
  mutable Mutex mutex_;
  std::string writeFault_ GUARDED_BY(mutex_);
  bool faultInThisWrite_ GUARDED_BY(mutex_) = false;
  std::deque<std::string> recent_ GUARDED_BY(mutex_);
  std::size_t warnings_ GUARDED_BY(mutex_) = 0;
  std::size_t errors_ GUARDED_BY(mutex_) = 0;
  Mirror mirror_;  // set before the journal is shared; called outside mutex_
};

}  // namespace agent

#endif  // AGENT_CYCLE_JOURNAL_H_
