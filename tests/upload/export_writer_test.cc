// The code page, malformed text, replacing an old file and file failures of
// the export writer; the path literal of the loads that read the files back.
#include "upload/export_writer.h"

#include <gtest/gtest.h>

#include <system_error>
#include <tuple>
#include <vector>

#ifdef __linux__
#include <sys/resource.h>

#include <csignal>
#endif

#include "db/error.h"
#include "db/remote_literal.h"
#include "tests/support/temp_dir.h"

namespace agent {
namespace {

using testing::readFile;
using testing::TempDir;
using testing::writeFile;

TEST(ExportWriterTest, TheCodePageHoldsWhatItCanCountsTheRestAndReplacesAnOldFile) {
  TempDir dir("export");
  writeFile(dir / "a.csv", "OLD|Old|F\r\nOLD2|Old|F\r\n");
  // U+00B8 and e-acute are in Windows-1252, the rupee sign and Devanagari are not.
  const std::vector<std::string> line = {"12\xC2\xB8 Caf\xC3\xA9", "5\xE2\x82\xB9", "\xE0\xA4\x95"};
  using Case = std::tuple<CodePage, const char*, std::size_t>;  // bytes written, replaced
  for (auto [page, bytes, replaced] :
       {Case{CodePage::Windows1252, "12\xB8 Caf\xE9|5?|?\r\n", 2},
        Case{CodePage::Utf8, "12\xC2\xB8 Caf\xC3\xA9|5\xE2\x82\xB9|\xE0\xA4\x95\r\n", 0}}) {
    ExportFile file(dir / "a.csv", page);
    file.writeLine(line);
    file.close();
    EXPECT_EQ(file.replacedCharacters(), replaced);
    EXPECT_EQ(readFile(dir / "a.csv"), bytes);
  }
}

// Malformed UTF-8 from a local text never reaches the file as bytes the
// load reads as a separator or an escape: an overlong "|" (C1 BC) or "\"
// (C1 9C, E0 81 9C), a surrogate (ED A0 80), a stray continuation byte, a
// code point beyond U+10FFFF (F4 90 80 80), a sequence cut short: each
// malformed byte becomes a counted "?", in either code page, and the field
// keeps its place.
TEST(ExportWriterTest, MalformedUtf8IsReplacedBeforeItIsEscaped) {
  TempDir dir("export");
  const std::vector<std::string> line = {
      "a\xC1\xBC"
      "b",
      "c\xC1\x9C|\xE0\x81\x9C", "\xED\xA0\x80\x80\xF4\x90\x80\x80\xC3", "last"};
  for (CodePage page : {CodePage::Windows1252, CodePage::Utf8}) {
    ExportFile file(dir / "bad.csv", page);
    file.writeLine(line);
    file.close();
    EXPECT_EQ(file.replacedCharacters(), 16u);
    EXPECT_EQ(readFile(dir / "bad.csv"), "a??b|c??\\|???|?????????|last\r\n");
  }
  // A NUL byte is escaped as the load reads it.
  EXPECT_EQ(escapeExportField(std::string("nul\0x", 5), ExportFormat{}), "nul\\0x");
  // A real replacement character is kept in UTF-8 (Windows-1252 has none).
  std::size_t replaced = 0;
  EXPECT_EQ(validUtf8("x\xEF\xBF\xBDy", &replaced), "x\xEF\xBF\xBDy");
  EXPECT_EQ(replaced, 0u);
}

// The description of the file error that making (and, with lines, writing
// and closing) an export file at path raised; "" when none was raised.
std::string fileError(const std::filesystem::path& path, int lines = 0) {
  try {
    ExportFile file(path, CodePage::Windows1252);
    const std::vector<std::string> line = {std::string(1000, 'x'), "F"};
    for (int i = 0; i < lines; ++i) file.writeLine(line);
    file.close();
  } catch (const AgentError& e) {
    EXPECT_EQ(e.number(), error_number::kFileError);
    return e.description();
  }
  return "";
}

// Each failure names the file and the reason; a folder of the file's name
// that holds something cannot be deleted.
TEST(ExportWriterTest, FileFailuresNameThePathAndTheReason) {
  TempDir dir("export");
  const std::string missing = fileError(dir / "missing" / "UPMASCAT.csv");
  EXPECT_NE(missing.find((dir / "missing" / "UPMASCAT.csv").string()), std::string::npos);
#ifdef _WIN32
  const std::string pathNotFound = std::system_category().message(3);  // ERROR_PATH_NOT_FOUND
  EXPECT_NE(missing.find(pathNotFound), std::string::npos) << missing;
#else
  EXPECT_NE(missing.find("No such file or directory"), std::string::npos) << missing;
#endif
  std::filesystem::create_directories(dir / "UPDEGREE.csv" / "inside");
  EXPECT_NE(fileError(dir / "UPDEGREE.csv").find("Cannot delete"), std::string::npos);
#ifdef __linux__
  // A file size limit makes the writes fail with EFBIG, as a full disk
  // would; no file stays open.
  auto openFiles = [] {
    auto fds = std::filesystem::directory_iterator("/proc/self/fd");
    return std::distance(begin(fds), end(fds));
  };
  const auto before = openFiles();
  rlimit saved{};
  getrlimit(RLIMIT_FSIZE, &saved);
  auto savedHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = saved;
  small.rlim_cur = 64 * 1024;
  setrlimit(RLIMIT_FSIZE, &small);
  const std::string tooLarge = fileError(dir / "STUDSUB.csv", 2000);
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, savedHandler);
  EXPECT_NE(tooLarge.find((dir / "STUDSUB.csv").string()), std::string::npos) << tooLarge;
  EXPECT_NE(tooLarge.find("File too large"), std::string::npos) << tooLarge;
  EXPECT_EQ(openFiles(), before);
#endif
}

// A quote in the program folder stays inside the literal; under
// NO_BACKSLASH_ESCAPES a backslash is an ordinary character.
TEST(LoadStatementTest, PathLiteralsFollowTheSqlMode) {
  EXPECT_EQ(remoteQuoted("C:\\O'Brien\\CSV\\x.csv", true), "'C:\\\\O''Brien\\\\CSV\\\\x.csv'");
  EXPECT_EQ(remoteQuoted("C:\\O'Brien", false), "'C:\\O''Brien'");
}

}  // namespace
}  // namespace agent
