// The journal: one event, one line (text from outside cannot end a line
// early and forge the next); its file rotates at 1 MiB keeping five files,
// and a file that stops taking lines is said once on standard error and in
// --status.
#include "cycle/journal.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <sstream>
#include <string>

#include "app/core/agent_state.h"
#include "app/core/schedule.h"
#include "app/core/status.h"
#include "tests/support/doubles.h"

#include "tests/support/temp_dir.h"

namespace agent {
namespace {

namespace fs = std::filesystem;

TEST(Journal, RotatesAtOneMebibyteAndKeepsFiveFiles) {
  testing::TempDir dir("journal");
  const fs::path log = dir / "logs" / "agent.log";  // the folder is made
  {
    Journal journal(log);
    const std::string line(1000, 'x');
    for (int i = 0; i < 7 * 1100; ++i) journal.info(line);  // about 7.5 MiB
    EXPECT_EQ(journal.recentLines().size(), Journal::kKeptLines);
  }
  EXPECT_TRUE(fs::exists(log));
  for (int i = 1; i <= 5; ++i) {
    const fs::path rotated = dir / "logs" / ("agent." + std::to_string(i) + ".log");
    ASSERT_TRUE(fs::exists(rotated)) << rotated;
    EXPECT_LE(fs::file_size(rotated), 1024u * 1024u + 2048u) << rotated;
  }
  EXPECT_FALSE(fs::exists(dir / "logs" / "agent.6.log"));
}

using testing::readFile;
using testing::TempDir;

// The file size limit (ulimit -f) reached while the agent runs, as a full
// disk would stop the file: the write fails (SIGXFSZ ignored, as the
// program does), one line goes to standard error however many lines fail,
// --status says the journal cannot be written, the lines stay in memory,
// and the fault clears once a line goes through again.
TEST(JournalTest, AFileThatStopsTakingLinesIsSaidOnceOnStandardErrorAndInStatus) {
  TempDir home("journal-fault");
  testing::writeFile(home / "platform.ini", "");
  Journal journal(home / "log" / "agent.log");
  for (int i = 0; i < 40; ++i) journal.info("a line before the limit, to give the file some size");
  EXPECT_EQ(journal.writeFault(), "");
  rlimit before{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &before), 0);
  auto* previous = std::signal(SIGXFSZ, SIG_IGN);
  rlimit limited = before;
  limited.rlim_cur = fs::file_size(home / "log" / "agent.log") + 100;
  ::testing::internal::CaptureStderr();
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
  for (int i = 0; i < 20; ++i) journal.warning("a line beyond the limit");
  const std::string fault = journal.writeFault();
  ::setrlimit(RLIMIT_FSIZE, &before);
  const std::string said = ::testing::internal::GetCapturedStderr();
  std::signal(SIGXFSZ, previous);

  EXPECT_NE(fault, "");
  EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
  EXPECT_NE(said.find("cannot be written"), std::string::npos) << said;
  EXPECT_EQ(journal.warningCount(), 20u);
  {
    testing::SetClock clock;
    Schedule schedule(clock);
    AgentStateFile state(home.path());
    state.follow(schedule, journal);
    std::ostringstream out;
    printStatus(home.path(), out);
    EXPECT_NE(out.str().find("journal: CANNOT BE WRITTEN (" + fault + ")"), std::string::npos)
        << out.str();
    journal.info("the limit lifted");
    EXPECT_EQ(journal.writeFault(), "");
    state.follow(schedule, journal);
    std::ostringstream after;
    printStatus(home.path(), after);
    EXPECT_EQ(after.str().find("CANNOT BE WRITTEN"), std::string::npos) << after.str();
  }
  EXPECT_NE(readFile(home / "log" / "agent.log").find("the limit lifted"), std::string::npos);
}

// Control characters from outside are written escaped, on the event's own
// line. A portal value of megabytes (an order id in a warning) costs one
// line of about 4 KiB, cut at a character boundary with a note, every
// cycle: the journal's earlier cycles are not rotated away.
TEST(JournalTest, EveryEventIsOneLineEscapedAndCutToSize) {
  TempDir dir("journal");
  {
    Journal journal(dir / "log" / "agent.log");
    journal.warning("order id 'A\nINFO cycle end: stamped' left pending");
    journal.error(std::string("server said: bad\r\nERROR x") + '\0' + "y\x1b[2J\t\x7f");
    journal.info(
        "name 'line\xE2\x80\xA8"
        "break\xC2\x85next' kept; caf\xC3\xA9 C:\\Apps\\Upload");
    // "é" is two bytes: the cut may not split it.
    std::string huge = "order id '";
    for (std::size_t i = 0; i < 1500000; ++i) huge += "\xC3\xA9";
    huge += "\n' left pending";
    for (int cycle = 0; cycle < 50; ++cycle) journal.warning(huge);
    const std::string last = journal.recentLines().back();
    EXPECT_LE(last.size(), Journal::kMaxLineBytes + 80);
    EXPECT_NE(last.find("[line cut: "), std::string::npos) << last.substr(0, 100);
    EXPECT_NE(last.find("of 3000026 bytes left out]"), std::string::npos) << last.substr(4000);
    const std::string kept = last.substr(0, last.find(" [line cut"));
    EXPECT_TRUE(kept.ends_with("\xC3\xA9")) << "a character was split";
  }
  EXPECT_FALSE(std::filesystem::exists(dir / "log" / "agent.1.log"));
  const std::string log = readFile(dir / "log" / "agent.log");
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 53) << log.substr(0, 400);
  EXPECT_EQ(log.find('\r'), std::string::npos);
  EXPECT_NE(log.find(" WARN order id 'A\\nINFO cycle end: stamped' left pending\n"), log.npos);
  EXPECT_NE(log.find(" ERROR server said: bad\\r\\nERROR x\\x00y\\x1B[2J\\x09\\x7F\n"), log.npos)
      << log.substr(0, 400);
  // Unicode line breaks are escaped; other text, backslashes included, is kept.
  EXPECT_NE(
      log.find(" INFO name 'line\\u2028break\\u0085next' kept; caf\xC3\xA9 C:\\Apps\\Upload\n"),
      log.npos)
      << log.substr(0, 400);
}

}  // namespace
}  // namespace agent
