// Where the program folder is: --home first, then UPLOAD_AGENT_HOME, then
// the executable's own folder (whatever argv[0] says).
#include "config/program_folder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

namespace agent {
namespace {

TEST(ProgramFolder, HomeOptionThenEnvironmentThenTheExecutablesFolder) {
  const std::filesystem::path executableFolder =
      std::filesystem::read_symlink("/proc/self/exe").parent_path();
  ::setenv("UPLOAD_AGENT_HOME", "/srv/from-environment", 1);
  EXPECT_EQ(programFolder("/srv/from-option", "/elsewhere/upload-agent"), "/srv/from-option");
  EXPECT_EQ(programFolder("", "/elsewhere/upload-agent"), "/srv/from-environment");
  ::setenv("UPLOAD_AGENT_HOME", "", 1);  // set but empty counts as not set
  EXPECT_EQ(programFolder("", "/elsewhere/upload-agent"), executableFolder);
  ::unsetenv("UPLOAD_AGENT_HOME");
  EXPECT_EQ(programFolder("", "/elsewhere/upload-agent"), executableFolder)
      << "the platform's answer wins over argv[0]";
}

}  // namespace
}  // namespace agent
