// The export writer: one pipe-separated text file of the CSV folder,
// written line by line. A line is its fields joined by the separator, each
// field escaped so that the server's load reads back exactly the value
// (escape character "\", see loadStatement), ended by CR LF; no header, no
// byte-order mark, the export code page of platform.ini.
#ifndef AGENT_UPLOAD_EXPORT_WRITER_H_
#define AGENT_UPLOAD_EXPORT_WRITER_H_

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "base/code_page.h"
#include "base/private_file.h"
#include "db/growing_file.h"
#include "db/load_statement.h"
#include "db/local_file.h"

namespace agent {

// field with "\" → "\\", LF → "\n", CR → "\r", NUL → "\0", and a "\"
// before every separator and enclosure character it holds.
std::string escapeExportField(std::string_view field, const ExportFormat& format);

class ExportFile {
 public:
  // Deletes the file at path when it exists (a link is deleted, not its
  // target) and creates it empty, readable by the owner alone; when
  // anything stands at path again by then (a link planted after the
  // delete), it is refused, never followed. Throws AgentError(kFileError)
  // naming the path and the system's reason.
  ExportFile(std::filesystem::path path, CodePage codePage, ExportFormat format = {});
  // Closes the file if close() was not called (or failed); never throws.
  // A file that reports to a GrowingFile and was not closed whole has it
  // failed.
  ~ExportFile();
  ExportFile(const ExportFile&) = delete;
  ExportFile& operator=(const ExportFile&) = delete;

  // Writes one line of fields (UTF-8), escaped, converted and ended by
  // CR LF. Throws AgentError(kFileError) when the write fails.
  void writeLine(std::span<const std::string> fields);
  // Flushes and closes the file. Throws AgentError(kFileError) on failure;
  // the file is closed either way.
  void close();

  // From now on the lines are flushed to the file in chunks (and at least
  // every second while lines come), each noted in growing, so that a load
  // can send the file while it is written; close() finishes growing, any
  // failure or a destruction before close() fails it. Call before the
  // first line.
  void reportTo(std::shared_ptr<GrowingFile> growing);

  const std::filesystem::path& path() const { return path_; }
  // The file this object created; a file found at path later is another
  // one unless its identity is this.
  const FileIdentity& identity() const { return identity_; }
  std::size_t linesWritten() const { return lines_; }
  // Characters written as "?" because the code page cannot hold them.
  std::size_t replacedCharacters() const { return replaced_; }

 private:
  struct Closer {
    void operator()(std::FILE* f) const;
  };
  [[noreturn]] void fail(const char* what, int osError) const;
  [[noreturn]] void fail(const char* what, const std::string& reason) const;

  std::filesystem::path path_;
  CodePage codePage_;
  ExportFormat format_;
  FileIdentity identity_;
  std::unique_ptr<std::FILE, Closer> file_;
  std::string line_;  // reused for every line
  std::size_t lines_ = 0;
  std::size_t replaced_ = 0;
  std::shared_ptr<GrowingFile> growing_;
  std::uint64_t written_ = 0;  // bytes handed to the stream (when reporting)
  std::uint64_t flushed_ = 0;  // of them, bytes noted in growing_
  std::chrono::steady_clock::time_point lastFlush_;
};

}  // namespace agent

#endif  // AGENT_UPLOAD_EXPORT_WRITER_H_
