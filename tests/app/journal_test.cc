// One event, one journal line: text from outside (portal values, server
// messages, file contents) cannot end a line early and forge the next.
#include "cycle/journal.h"

#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"

namespace agent {
namespace {

using testing::readFile;
using testing::TempDir;

TEST(JournalTest, ControlCharactersFromOutsideAreWrittenEscapedOnTheEventsOwnLine) {
  TempDir dir("journal");
  {
    Journal journal(dir / "log" / "agent.log");
    journal.warning("order id 'A\nINFO cycle end: stamped' left pending");
    journal.error(std::string("server said: bad\r\nERROR x") + '\0' + "y\x1b[2J\t\x7f");
    journal.info(
        "name 'line\xE2\x80\xA8"
        "break\xC2\x85next' kept; caf\xC3\xA9 C:\\Apps\\Upload");
  }
  const std::string log = readFile(dir / "log" / "agent.log");
  std::size_t lines = 0;
  for (char c : log) lines += c == '\n';
  EXPECT_EQ(lines, 3u) << log;
  EXPECT_EQ(log.find('\r'), std::string::npos);
  EXPECT_NE(log.find(" WARN order id 'A\\nINFO cycle end: stamped' left pending\n"), log.npos);
  EXPECT_NE(log.find(" ERROR server said: bad\\r\\nERROR x\\x00y\\x1B[2J\\x09\\x7F\n"), log.npos)
      << log;
  // Unicode line breaks are escaped; other text, backslashes included, is kept.
  EXPECT_NE(
      log.find(" INFO name 'line\\u2028break\\u0085next' kept; caf\xC3\xA9 C:\\Apps\\Upload\n"),
      log.npos)
      << log;
}

}  // namespace
}  // namespace agent
