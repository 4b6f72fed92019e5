// Writing export files: escaping, code page, CR LF, and closing on every
// path.
#include "upload/export_writer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

#include "base/file_names.h"
#include "db/error.h"

namespace agent {

namespace {

constexpr std::size_t kBufferBytes = 1 << 20;
// A file sent while it is written is flushed in chunks well under the
// buffer (so the stream never writes bytes the reader was not told of),
// and at least this often while lines come, so that a slow source still
// feeds the load before the server's read time-out.
constexpr std::uint64_t kReportBytes = 256 << 10;
constexpr auto kReportEvery = std::chrono::seconds(1);

void appendEscaped(std::string& out, std::string_view field, const ExportFormat& format) {
  for (char c : field) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\0':
        out += "\\0";
        break;
      default:
        if (c == format.separator || (format.enclosure && c == *format.enclosure)) out += '\\';
        out += c;
    }
  }
}

}  // namespace

std::string escapeExportField(std::string_view field, const ExportFormat& format) {
  std::string out;
  out.reserve(field.size());
  appendEscaped(out, field, format);
  return out;
}

void ExportFile::Closer::operator()(std::FILE* f) const {
  std::fclose(f);
}

ExportFile::ExportFile(std::filesystem::path path, CodePage codePage, ExportFormat format)
    : path_(std::move(path)), codePage_(codePage), format_(format) {
  std::error_code ec;
  std::filesystem::remove(path_, ec);
  if (ec) {
    throw AgentError(error_number::kFileError,
                     "Cannot delete the export file " + pathText(path_) + ": " + ec.message());
  }
  try {
    CreatedFile created = createPrivateFile(path_);
    file_.reset(created.stream);
    identity_ = created.identity;
  } catch (const std::system_error& e) {
    // The code's own category: errno on POSIX, the system's error on
    // Windows.
    fail("create", e.code().message());
  }
  std::setvbuf(file_.get(), nullptr, _IOFBF, kBufferBytes);
}

ExportFile::~ExportFile() {
  if (growing_) growing_->fail("the export stopped before the end of the file");
}

void ExportFile::reportTo(std::shared_ptr<GrowingFile> growing) {
  growing_ = std::move(growing);
  lastFlush_ = std::chrono::steady_clock::now();
}

void ExportFile::writeLine(std::span<const std::string> fields) {
  if (!file_) fail("write", EBADF);
  line_.clear();
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) line_ += format_.separator;
    if (format_.enclosure) line_ += *format_.enclosure;
    // Converted before it is escaped: a malformed sequence becomes "?" and
    // can never turn into a separator or an escape the field did not hold.
    const std::string& field = fields[i];
    if (std::all_of(field.begin(), field.end(),
                    [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
      appendEscaped(line_, field, format_);
    } else {
      appendEscaped(line_, encodeForCodePage(field, codePage_, &replaced_), format_);
    }
    if (format_.enclosure) line_ += *format_.enclosure;
  }
  std::string& bytes = line_;
  bytes += "\r\n";
  errno = 0;
  if (std::fwrite(bytes.data(), 1, bytes.size(), file_.get()) != bytes.size()) {
    int osError = errno;
    file_.reset();
    fail("write", osError);
  }
  ++lines_;
  if (!growing_) return;
  written_ += bytes.size();
  auto now = std::chrono::steady_clock::now();
  if (written_ - flushed_ < kReportBytes && now - lastFlush_ < kReportEvery) return;
  if (std::fflush(file_.get()) != 0) {
    int osError = errno;
    file_.reset();
    fail("write", osError);
  }
  flushed_ = written_;
  lastFlush_ = now;
  growing_->grown(flushed_);
}

void ExportFile::close() {
  if (!file_) return;
  errno = 0;
  bool flushed = std::fflush(file_.get()) == 0;
  int osError = errno;
  bool closed = std::fclose(file_.release()) == 0;
  if (!closed && osError == 0) osError = errno;
  if (!flushed || !closed) fail("close", osError);
  if (growing_) {
    growing_->grown(written_);
    growing_->finish();
  }
}

void ExportFile::fail(const char* what, int osError) const {
  fail(what, osError != 0 ? std::generic_category().message(osError) : "unknown error");
}

void ExportFile::fail(const char* what, const std::string& reason) const {
  std::string message =
      std::string("Cannot ") + what + " the export file " + pathText(path_) + ": " + reason;
  if (growing_) growing_->fail(message);
  throw AgentError(error_number::kFileError, message);
}

}  // namespace agent
