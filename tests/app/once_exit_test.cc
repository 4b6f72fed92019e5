// The exit status of `upload-agent --once`, which scripts and schedulers
// read: 0 when the cycle stamped its end, 1 when it ended early, 2 when the
// program could not run one (no settings file, unusable platform.ini).
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "config/local_settings.h"
#include "tests/support/program_folder.h"

namespace agent {
namespace {

using testing::LocalTestDatabase;
using testing::RemoteTestDatabase;

struct ProgramRun {
  int status = -1;
  std::string err;
};

// Runs the program once in home, without a display.
ProgramRun runOnce(const std::filesystem::path& home) {
  const std::filesystem::path binary =
      std::filesystem::path(AGENT_BINARY_DIR) / "bin" / "upload-agent";
  if (!std::filesystem::exists(binary)) {
    ADD_FAILURE() << "build the upload-agent target first: " << binary;
    return {};
  }
  const std::filesystem::path err = home / "stderr.txt";
  const std::string command = "env -u DISPLAY -u WAYLAND_DISPLAY " + binary.string() +
                              " --once --home " + home.string() + " 2>" + err.string();
  int raw = std::system(command.c_str());
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, testing::readFile(err)};
}

TEST(OnceExitStatus, ZeroOnlyForACycleThatStampedItsEnd) {
  LocalTestDatabase local("once");
  RemoteTestDatabase remote("once");
  testing::ProgramFolder home(local, remote, "P028");
  local.execute("insert into control (funivcode, frecno) values ('P028', NULL)");
  ProgramRun stamped = runOnce(home.path());
  EXPECT_EQ(stamped.status, 0) << stamped.err;
  EXPECT_NE(remote.scalar("select ifnull(flastupdendtime, 'none') from control"), "none");

  // No portal account for the institution: the cycle ends early, the
  // program does not.
  home.write("remote-accounts.ini", "");
  ProgramRun failed = runOnce(home.path());
  EXPECT_EQ(failed.status, 1) << failed.err;
  EXPECT_FALSE(failed.err.empty()) << "the cycle's message goes to standard error";
}

TEST(OnceExitStatus, TwoWhenTheProgramCannotRunACycle) {
  LocalTestDatabase local("once_end", /*withSchema=*/false);
  RemoteTestDatabase remote("once_end", /*withSchema=*/false);
  testing::ProgramFolder home(local, remote, "P028");

  std::filesystem::remove(home.path() / kSettingsFileName);
  ProgramRun noSettings = runOnce(home.path());
  EXPECT_EQ(noSettings.status, 2);
  EXPECT_NE(noSettings.err.find("DB Path Not Identified"), std::string::npos) << noSettings.err;

  home.write("platform.ini", "[drivers]\nSQL Server = sqlite\n");
  ProgramRun badPlatform = runOnce(home.path());
  EXPECT_EQ(badPlatform.status, 2);
  EXPECT_NE(badPlatform.err.find("sqlite"), std::string::npos) << badPlatform.err;
}

}  // namespace
}  // namespace agent
