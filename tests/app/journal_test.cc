// The journal (one event a line, rotated, its write fault said once) and
// what --status and the window show without it.
#include "cycle/journal.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <sstream>
#include <string>

#include "app/core/agent_state.h"
#include "app/core/schedule.h"
#include "app/core/status.h"
#include "cycle/cycle_progress.h"
#include "tests/support/doubles.h"
#include "tests/support/temp_dir.h"

namespace agent {
namespace {

namespace fs = std::filesystem;

using testing::readFile;
using testing::TempDir;
using testing::writeFile;

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
TEST(Journal, EveryEventIsOneLineEscapedAndCutToSizeAndTheFileRotates) {
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

  // The file rotates at 1 MiB and five files are kept.
  {
    Journal journal(dir / "log" / "agent.log");
    for (int i = 0; i < 7 * 1100; ++i) journal.info(std::string(1000, 'x'));  // about 7.5 MiB
    EXPECT_EQ(journal.recentLines().size(), Journal::kKeptLines);
  }
  for (int i = 1; i <= 5; ++i) {
    const fs::path rotated = dir / "log" / ("agent." + std::to_string(i) + ".log");
    ASSERT_TRUE(fs::exists(rotated)) << rotated;
    EXPECT_LE(fs::file_size(rotated), 1024u * 1024u + 2048u) << rotated;
  }
  EXPECT_FALSE(fs::exists(dir / "log" / "agent.6.log"));
}

// The status line of the window while a cycle runs.
TEST(ProgressText, GroupsTheRowCountInThousands) {
  EXPECT_EQ(progressText({true, "", 0}), "Cycle running");
  EXPECT_EQ(progressText({true, "college", 0}), "Uploading college");
  EXPECT_EQ(progressText({true, "college", 1}), "Uploading college - 1 row");
  EXPECT_EQ(progressText({true, "studsub", 999}), "Uploading studsub - 999 rows");
  EXPECT_EQ(progressText({true, "studsub", 1234567}), "Uploading studsub - 1,234,567 rows");
}

// The state file is replaced whole and removed by its owner; a service's
// folder is closed to the users who log on, so its public copy carries the
// next cycle and the journal's last summary, and stays when the agent ends.
// The last summaries are read from the journal and its rotated files.
TEST(StatusTest, StateFileIsReplacedWholeAndRemovedByItsOwnerItsPublicCopyStays) {
  TempDir home("state");
  auto summary = [](int minute, const char* text) {
    return "2026-12-07 01:" + std::to_string(minute) + ":00 INFO cycle summary: " + text + "\n";
  };
  writeFile(home / "agent.2.log", summary(10, "oldest") + "2026-12-07 01:11:00 INFO cycle start\n");
  writeFile(home / "agent.1.log", summary(20, "second") +
                                      "2026-12-07 01:21:00 WARN message: cycle summary: fake\n" +
                                      summary(30, "third"));
  writeFile(home / "agent.log", "2026-12-07 01:35:00 INFO stage college: 1 rows\r\n" +
                                    summary(40, "stamped, 7 rows sent in 2 s"));
  EXPECT_EQ(lastCycleSummaries(home / "agent.log", 3),
            (std::vector<std::string>{"2026-12-07 01:20:00  second", "2026-12-07 01:30:00  third",
                                      "2026-12-07 01:40:00  stamped, 7 rows sent in 2 s"}));
  EXPECT_EQ(lastCycleSummaries(home / "agent.log", 10).size(), 4u);
  EXPECT_TRUE(lastCycleSummaries(home / "none.log", 3).empty());
  const std::filesystem::path copy = home / "public" / "UploadAgent.status";
  {
    AgentStateFile file(home.path());
    file.keepPublicCopy(copy, home / "agent.log");
    EXPECT_EQ(file.update({2026, 12, 7, 1, 50, 0}), "");
    EXPECT_EQ(file.update({2026, 12, 7, 2, 40, 0}), "");
    std::optional<AgentState> state = readAgentState(home.path());
    ASSERT_TRUE(state.has_value());
    EXPECT_EQ(state->pid, static_cast<long long>(::getpid()));
    EXPECT_EQ(isoDateTime(state->nextCycle), "2026-12-07 02:40:00");
    EXPECT_FALSE(std::filesystem::exists(home / "agent.state.new"));
  }
  EXPECT_FALSE(std::filesystem::exists(home / "agent.state"));
  std::optional<AgentState> published = readAgentStateFile(copy);
  ASSERT_TRUE(published.has_value());
  EXPECT_EQ(isoDateTime(published->nextCycle), "2026-12-07 02:40:00");
  EXPECT_EQ(published->lastCycle, "2026-12-07 01:40:00  stamped, 7 rows sent in 2 s");

  // A file left by a process that has ended (a killed agent) is told apart
  // from a running agent; a file of another running agent is not removed.
  pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  ::waitpid(child, nullptr, 0);
  writeFile(home / "agent.state",
            formatAgentState({static_cast<long long>(child), {2026, 12, 7, 1, 50, 0}, ""}));
  std::ostringstream out;
  printStatus(home.path(), out);
  EXPECT_NE(out.str().find("not running (agent.state is left from process " +
                           std::to_string(child) + ", which has ended)"),
            std::string::npos)
      << out.str();
  {
    AgentStateFile mine(home.path());
    writeFile(home / "agent.state", formatAgentState({1, {2026, 12, 7, 1, 50, 0}, ""}));
  }
  EXPECT_TRUE(std::filesystem::exists(home / "agent.state"));
}

}  // namespace
}  // namespace agent
