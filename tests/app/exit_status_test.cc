// The built program's exit statuses: its start-up refusals, --once's
// outcome, and --headless outlasting a database out of reach.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <optional>
#include <thread>

#include "app/core/exit_status.h"
#include "config/instance_lock.h"
#include "tests/support/agent_process.h"
#include "tests/support/local_database.h"
#include "tests/support/program_folder.h"
#include "tests/support/temp_dir.h"

namespace agent {
namespace {

using namespace std::chrono_literals;
using testing::AgentProcess;

// Runs the program in home; it must end with status, its output holding said.
void expectExit(const std::filesystem::path& home, const std::vector<std::string>& args, int status,
                const std::string& said) {
  AgentProcess agent(home, args);
  EXPECT_EQ(agent.wait(60s).value_or(-1), status) << agent.output();
  EXPECT_NE(agent.output().find(said), std::string::npos) << agent.output();
}

// The journal's text once it holds what (or after a minute).
std::string journalOnceItHas(const std::filesystem::path& home, const std::string& what) {
  const std::filesystem::path log = home / "log" / "agent.log";
  std::string text;
  for (int i = 0; i < 600 && text.find(what) == std::string::npos; ++i) {
    std::this_thread::sleep_for(100ms);
    std::error_code ec;
    if (std::filesystem::exists(log, ec)) text = testing::readFile(log);
  }
  return text;
}

TEST(ExitStatus, StartUpRefusalsOnceAndAHeadlessProgramOutlastingADatabaseOutOfReach) {
  // The start-up refusals each have their status and say why.
  testing::TempDir dir("exit-status");
  expectExit(dir.path(), {"--onse"}, exit_status::kUsage, "--onse");
  const std::filesystem::path missing = dir / "no-such-folder";
  expectExit(missing, {"--once"}, exit_status::kUsage, "does not exist");
  EXPECT_FALSE(std::filesystem::exists(missing));
  {
    InstanceLock held(dir.path());
    ASSERT_EQ(held.outcome(), InstanceLock::Outcome::Held);
    for (const char* mode : {"--once", "--headless"})
      expectExit(dir.path(), {mode}, exit_status::kAnotherInstance, "another upload-agent is");
  }
  // The lock is free again; no settings file ends the program.
  expectExit(dir.path(), {"--once"}, exit_status::kProgramEnded, "DB Path Not Identified");
  testing::writeFile(dir / "platform.ini", "[remote]\nread_timeout = soon\n");
  expectExit(dir.path(), {"--once"}, exit_status::kProgramEnded, "");
  EXPECT_NE(testing::readFile(dir / "log" / "agent.log").find("[remote] read_timeout = soon"),
            std::string::npos);

  testing::LocalTestDatabase local("busy-start");
  testing::RemoteTestDatabase remote("busy-start");
  testing::ProgramFolder home(local, remote, "P028");
  local.execute("insert into control (funivcode, frecno) values ('P028', NULL)");
  home.write("platform.ini",
             testing::readFile(home.path() / "platform.ini") + "[upload]\nchanges_only = yes\n");
  const mode_t savedUmask = ::umask(022);  // a desktop session's, open to others
  // --once: 0 only for a cycle that stamped its end. No portal account for
  // the institution ends the cycle early (its message on the output), not
  // the program.
  expectExit(home.path(), {"--once"}, exit_status::kSuccess, "");
  EXPECT_NE(remote.scalar("select ifnull(flastupdendtime, 'none') from control"), "none");
  const std::string accounts = testing::readFile(home.path() / "remote-accounts.ini");
  home.write("remote-accounts.ini", "");
  expectExit(home.path(), {"--once"}, exit_status::kCycleEndedEarly,
             "Operation is not allowed when the object is closed");
  home.write("remote-accounts.ini", accounts);
  std::filesystem::remove(home.path() / "log" / "agent.log");  // the --headless run's own

  // --headless with its local database out of reach when it starts does not
  // end (the service unit would not restart it): a later cycle stamps its
  // end, SIGTERM ends it with status 0. Run as systemd runs it
  // (JOURNAL_STREAM set), the summaries, the failure and the stop reach
  // standard error with their levels. Under an umask open to others, it
  // leaves only owner-only files.
  ::setenv("UPLOAD_AGENT_INTERVAL_SECONDS", "2", 1);
  ::setenv("JOURNAL_STREAM", "8:12345", 1);
  std::optional<AgentProcess> agent;
  {
    testing::DatabaseMovedAway away(local);
    agent.emplace(home.path(), std::vector<std::string>{"--headless"});
    const std::string journal = journalOnceItHas(home.path(), "cycle summary: ended early");
    EXPECT_NE(journal.find("local connection failed: Error -2147217900: Cannot open database"),
              std::string::npos)
        << journal;
    EXPECT_NE(journal.find("the next cycle, at "), std::string::npos) << journal;
  }
  ::unsetenv("UPLOAD_AGENT_INTERVAL_SECONDS");
  ::unsetenv("JOURNAL_STREAM");
  journalOnceItHas(home.path(), "cycle summary: stamped");  // the output shows it below
  ::umask(savedUmask);
  // What the program left in its folder is its account's alone: the lock
  // file, the state --status reports, the journal, the change-detection
  // state store with the files the embedded engine keeps beside it.
  std::vector<std::string> made;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(home.path())) {
    const std::string name = entry.path().filename().string();
    if (name == "platform.ini" || name == "remote-accounts.ini" || name == "Ostrel.INI") continue;
    made.push_back(name);
    const auto mode = std::filesystem::symlink_status(entry.path()).permissions();
    EXPECT_EQ(static_cast<unsigned>(mode) & 077, 0u) << entry.path();
  }
  for (const char* expected : {"upload-agent.lock", "agent.state", "upload-state.sqlite"}) {
    EXPECT_NE(std::ranges::find(made, expected), made.end()) << expected << " was not made";
  }
  EXPECT_EQ(agent->wait(0ms), std::nullopt) << "the program went on: " << agent->output();
  agent->signal(SIGTERM);
  EXPECT_EQ(agent->wait(60s), exit_status::kSuccess) << agent->output();
  const std::string output = agent->output();
  EXPECT_NE(output.find("<3>local connection failed"), std::string::npos) << output;
  EXPECT_NE(output.find("<6>cycle summary: ended early"), std::string::npos) << output;
  EXPECT_NE(output.find("<6>cycle summary: stamped"), std::string::npos) << output;
  EXPECT_NE(output.find("<6>upload-agent stopped on request"), std::string::npos) << output;
  EXPECT_EQ(output.find("<6>stage "), std::string::npos) << "not every stage: " << output;
}

}  // namespace
}  // namespace agent
