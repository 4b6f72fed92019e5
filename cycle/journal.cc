#include "cycle/journal.h"

#include <fmt/format.h>
#include <spdlog/sinks/rotating_file_sink.h>
#include <spdlog/spdlog.h>

#include <cstdio>
#include <string_view>
#include <system_error>

#include "base/file_names.h"
#include "base/private_file.h"
#include "db/error.h"

namespace agent {

namespace {

// Every log file (the journal, and each new one after a rotation) exists
// owner-only before the sink opens it for appending; a journal left wider
// by an older version is narrowed, a link in its place refused.
void prepareLogFile(const std::filesystem::path& file) {
  try {
    std::fclose(createPrivateFile(file).stream);
  } catch (const std::system_error& e) {
    if (e.code() != std::errc::file_exists) throw;
    narrowToOwner(file);
  }
}

// line with every control character written as an escape: LF as \n, CR as
// \r, the other C0 characters and DEL as \xNN, and the Unicode line breaks
// (U+0085, U+2028, U+2029) as \uNNNN. Lines carry text from outside (portal
// values, server messages, file contents); escaped, none of it can end a
// line early and put a forged event on the next one.
std::string oneLine(std::string_view line) {
  std::string out;
  out.reserve(line.size());
  for (std::size_t i = 0; i < line.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(line[i]);
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c < 0x20 || c == 0x7F) {
      out += fmt::format("\\x{:02X}", c);
    } else if (c == 0xC2 && i + 1 < line.size() &&
               static_cast<unsigned char>(line[i + 1]) == 0x85) {
      out += "\\u0085";
      ++i;
    } else if (c == 0xE2 && line.substr(i + 1, 2) == "\x80\xA8") {
      out += "\\u2028";
      i += 2;
    } else if (c == 0xE2 && line.substr(i + 1, 2) == "\x80\xA9") {
      out += "\\u2029";
      i += 2;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

// line cut to kMaxLineBytes (at a character boundary) with a note of the
// cut: a portal value of megabytes must not fill the log and rotate the
// earlier cycles (and their summaries) away.
std::string capped(std::string line) {
  if (line.size() <= Journal::kMaxLineBytes) return line;
  const std::size_t total = line.size();
  std::size_t cut = Journal::kMaxLineBytes;
  while (cut > 0 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80) --cut;
  line.resize(cut);
  line += fmt::format(" [line cut: {} of {} bytes left out]", total - cut, total);
  return line;
}

}  // namespace

Journal::Journal() = default;

Journal::Journal(const std::filesystem::path& logFile) : path_(logFile) {
  FolderAccess folder = FolderAccess::OwnerOnly;
  try {
    // The journal names students, payments and server replies: the folder
    // and its files are the owner's alone.
    folder = makeOwnerOnlyFolder(logFile.parent_path());
    spdlog::file_event_handlers handlers;
    handlers.before_open = [](const spdlog::filename_t& name) { prepareLogFile(name); };
    auto sink = std::make_shared<spdlog::sinks::rotating_file_sink_mt>(
        logFile.native(), 1024 * 1024, 5, false, handlers);
    file_ = std::make_shared<spdlog::logger>("journal", sink);
    file_->set_pattern("%Y-%m-%d %H:%M:%S %v");
    file_->set_error_handler([this](const std::string& message) { noteWriteFault(message); });
    file_->flush_on(spdlog::level::trace);
  } catch (const std::exception& e) {
    throw AgentError(error_number::kFileError,
                     "Cannot open the log " + pathText(logFile) + ": " + e.what());
  }
  if (folder == FolderAccess::Narrowed) {
    warning("log folder " + pathText(logFile.parent_path()) +
            " was open to other users; narrowed to the owner");
  }
}

Journal::~Journal() = default;

void Journal::info(const std::string& line) {
  write(Level::Info, line);
}
void Journal::warning(const std::string& line) {
  write(Level::Warning, line);
  MutexLock lock(mutex_);
  ++warnings_;
}
void Journal::error(const std::string& line) {
  write(Level::Error, line);
  MutexLock lock(mutex_);
  ++errors_;
}

std::size_t Journal::warningCount() const {
  MutexLock lock(mutex_);
  return warnings_;
}
std::size_t Journal::errorCount() const {
  MutexLock lock(mutex_);
  return errors_;
}

std::string Journal::writeFault() const {
  MutexLock lock(mutex_);
  return writeFault_;
}

void Journal::noteWriteFault(const std::string& message) {
  mutex_.assertHeld();  // called back by the file's writer, inside write()
  faultInThisWrite_ = true;
  if (!writeFault_.empty()) return;  // said once, until it passes
  writeFault_ = message;
  std::fprintf(stderr,
               "upload-agent: the journal %s cannot be written (%s); its lines are lost until "
               "it can\n",
               pathText(path_).c_str(), message.c_str());
  std::fflush(stderr);
}

void Journal::write(Level level, const std::string& line) {
  static constexpr const char* kLevelText[] = {"INFO ", "WARN ", "ERROR "};
  std::string body = capped(oneLine(line));
  std::string text = kLevelText[static_cast<int>(level)] + body;
  {
    MutexLock lock(mutex_);
    if (file_) {
      faultInThisWrite_ = false;
      file_->info(text);
      if (!faultInThisWrite_) writeFault_.clear();
    }
    recent_.push_back(std::move(text));
    if (recent_.size() > kKeptLines) recent_.pop_front();
  }
  if (mirror_) mirror_(level, body);
}

std::vector<std::string> Journal::recentLines() const {
  MutexLock lock(mutex_);
  return {recent_.begin(), recent_.end()};
}

std::filesystem::path journalFileIn(const std::filesystem::path& logFolder) {
  return logFolder / "agent.log";
}

}  // namespace agent
