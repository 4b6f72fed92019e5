// What an administrator reads without opening the journal: each cycle's
// summary line, the state file of the running agent, --status, which puts
// the two together, and the window's status line.
#include <sys/wait.h>
#include <unistd.h>

#include <sstream>

#include <gtest/gtest.h>

#include "app/core/agent.h"
#include "app/core/agent_state.h"
#include "app/core/status.h"
#include "cycle/cycle_progress.h"
#include "tests/support/agent_folder_test.h"
#include "tests/support/temp_dir.h"

namespace agent {
namespace {

using testing::TempDir;
using testing::writeFile;

class SummaryTest : public testing::AgentFolderTest {
 protected:
  SummaryTest() : AgentFolderTest("summary", "P001") {}
  std::string lastLine() {
    std::vector<std::string> lines = journal_.recentLines();
    return lines.empty() ? "" : lines.back();
  }

  SystemClock clock_;
};

std::size_t sendsThree(CycleContext&) {
  return 3;
}
std::size_t warnsAndSendsTwo(CycleContext& ctx) {
  ctx.journal.warning("a row left out");
  return 2;
}
std::size_t fails(CycleContext& ctx) {
  ctx.remote.execute("select * from no_such_table");
  return 5;
}

TEST_F(SummaryTest, EveryCycleEndsWithOneSummaryLine) {
  Agent agent(home_.path(), messages_, journal_, clock_);
  agent.connectLocal();
  // Warnings before the cycle are not the cycle's.
  journal_.warning("an older warning");
  std::vector<Stage> stages = {{"masters", sendsThree},
                               {"receipt download", sendsThree, StageGate::Download},
                               {"rechead, recdetl and recmode", warnsAndSendsTwo}};
  ASSERT_TRUE(agent.runCycle(stages));
  std::string line = lastLine();
  EXPECT_EQ(line.rfind("INFO cycle summary: stamped, 5 rows sent in ", 0), 0u) << line;
  EXPECT_NE(line.find(" s (masters 3; rechead, recdetl and recmode 2), 1 warning, 0 errors"),
            std::string::npos)
      << line;

  // A cycle that ends early counts only the stages that ended, and its error.
  std::vector<Stage> failing = {{"masters", sendsThree}, {"studfee", fails}};
  ASSERT_FALSE(agent.runCycle(failing));
  line = lastLine();
  EXPECT_EQ(line.rfind("INFO cycle summary: ended early, 3 rows sent in ", 0), 0u) << line;
  EXPECT_NE(line.find("(masters 3), 0 warnings, 1 error"), std::string::npos) << line;
}

// The status line of the window while a cycle runs.
TEST(ProgressText, GroupsTheRowCountInThousands) {
  EXPECT_EQ(progressText({true, "", 0}), "Cycle running");
  EXPECT_EQ(progressText({true, "college", 0}), "Uploading college");
  EXPECT_EQ(progressText({true, "college", 1}), "Uploading college - 1 row");
  EXPECT_EQ(progressText({true, "studsub", 999}), "Uploading studsub - 999 rows");
  EXPECT_EQ(progressText({true, "studsub", 1234567}), "Uploading studsub - 1,234,567 rows");
}

TEST(StatusTest, LastSummariesComeFromTheJournalAndItsRotatedFiles) {
  TempDir dir("status");
  auto summary = [](int minute, const char* text) {
    return "2026-12-07 01:" + std::string(minute < 10 ? "0" : "") + std::to_string(minute) +
           ":00 INFO cycle summary: " + text + "\n";
  };
  writeFile(dir / "agent.2.log", summary(0, "oldest") + "2026-12-07 01:00:01 INFO cycle start\n");
  writeFile(dir / "agent.1.log", summary(10, "second") +
                                     "2026-12-07 01:11:00 WARN message: cycle summary: fake\n" +
                                     summary(20, "third"));
  writeFile(dir / "agent.log",
            "2026-12-07 01:30:00 INFO stage college: 1 rows\r\n" + summary(40, "newest"));
  EXPECT_EQ(lastCycleSummaries(dir / "agent.log", 3),
            (std::vector<std::string>{"2026-12-07 01:10:00  second", "2026-12-07 01:20:00  third",
                                      "2026-12-07 01:40:00  newest"}));
  EXPECT_EQ(lastCycleSummaries(dir / "agent.log", 10).size(), 4u);
  EXPECT_TRUE(lastCycleSummaries(dir / "none.log", 3).empty());
}

// The state file is replaced whole and removed by its owner; a service's
// folder is closed to the users who log on, so its public copy carries the
// next cycle and the journal's last summary, and stays when the agent ends.
TEST(StatusTest, StateFileIsReplacedWholeAndRemovedByItsOwnerItsPublicCopyStays) {
  TempDir home("state");
  EXPECT_FALSE(parseAgentState("pid=12\n").has_value());
  EXPECT_FALSE(parseAgentState("pid=x\nnext_cycle=2026-12-07 01:50:00\n").has_value());
  writeFile(home / "agent.log",
            "2026-12-07 01:40:00 INFO cycle summary: stamped, 7 rows sent in 2 s\n");
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
    std::ostringstream out;
    EXPECT_EQ(printStatus(home.path(), out), 0);
    EXPECT_NE(out.str().find("agent: running as process " + std::to_string(::getpid()) +
                             ", next cycle at 2026-12-07 02:40:00"),
              std::string::npos)
        << out.str();
    EXPECT_NE(out.str().find("last cycles: none"), std::string::npos) << out.str();
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
