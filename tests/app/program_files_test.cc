// What the whole program leaves in its program folder is its account's
// alone, whatever the umask it was started with: the lock file, the state
// it reports to --status, the journal and the change-detection state store
// with the files the embedded engine keeps beside it.
#include <sys/stat.h>

#include <csignal>

#include <gtest/gtest.h>

#include "tests/support/agent_folder_test.h"
#include "tests/support/agent_process.h"
#include "tests/support/temp_dir.h"

namespace agent {
namespace {

namespace fs = std::filesystem;

class ProgramFilesTest : public testing::AgentFolderTest {
 protected:
  ProgramFilesTest() : AgentFolderTest("program_files", "P001") {}
};

TEST_F(ProgramFilesTest, EveryFileTheAgentMakesIsItsOwnersAloneUnderAnOpenUmask) {
  home_.write("platform.ini",
              "[drivers]\nSQL Server = embedded\nMySQL ODBC 3.51 Driver = mariadb\n"
              "[upload]\nchanges_only = yes\n");
  const mode_t saved = ::umask(022);
  testing::AgentProcess agent(home_.path(), {"--headless"});
  ::umask(saved);
  // The files are looked at while the agent runs, after its first cycle.
  const fs::path journal = home_.path() / "log" / "agent.log";
  auto cycleEnded = [&] {
    return fs::exists(journal) && testing::readFile(journal).find("cycle end") != std::string::npos;
  };
  for (int i = 0; i < 600 && !cycleEnded(); ++i) {
    ASSERT_FALSE(agent.wait(std::chrono::milliseconds(100)).has_value()) << agent.output();
  }
  ASSERT_TRUE(cycleEnded()) << agent.output();

  std::vector<std::string> made;
  for (const auto& entry : fs::recursive_directory_iterator(home_.path())) {
    const std::string name = entry.path().filename().string();
    // The settings files are the test's own.
    if (name == "platform.ini" || name == "remote-accounts.ini" || name == "Ostrel.INI") continue;
    struct stat st;
    ASSERT_EQ(::lstat(entry.path().c_str(), &st), 0);
    made.push_back(name);
    EXPECT_EQ(st.st_mode & 077, 0u) << entry.path() << " mode " << std::oct << (st.st_mode & 0777);
  }
  agent.signal(SIGTERM);
  EXPECT_TRUE(agent.wait(std::chrono::seconds(10)).has_value());
  for (const char* expected : {"upload-agent.lock", "agent.state", "upload-state.sqlite"}) {
    EXPECT_NE(std::find(made.begin(), made.end(), expected), made.end())
        << expected << " was not made: " << ::testing::PrintToString(made);
  }
}

}  // namespace
}  // namespace agent
