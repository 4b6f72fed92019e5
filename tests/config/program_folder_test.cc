// Where the program folder is: --home first, then UPLOAD_AGENT_HOME, then
// the executable's own folder (whatever argv[0] says).
#include "config/program_folder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

namespace agent {
namespace {

namespace fs = std::filesystem;

// Sets UPLOAD_AGENT_HOME for one test and puts back what was there.
class HomeVariable {
 public:
  explicit HomeVariable(const char* value) {
    if (const char* old = std::getenv(kName)) saved_ = old;
    if (value != nullptr) {
      setenv(kName, value, 1);
    } else {
      unsetenv(kName);
    }
  }
  ~HomeVariable() {
    if (saved_) {
      setenv(kName, saved_->c_str(), 1);
    } else {
      unsetenv(kName);
    }
  }

 private:
  static constexpr const char* kName = "UPLOAD_AGENT_HOME";
  std::optional<std::string> saved_;
};

TEST(ProgramFolder, HomeOptionThenEnvironmentThenTheExecutablesFolder) {
  const fs::path executableFolder = fs::read_symlink("/proc/self/exe").parent_path();
  {
    HomeVariable home("/srv/from-environment");
    EXPECT_EQ(programFolder("/srv/from-option", "/elsewhere/upload-agent"), "/srv/from-option");
    EXPECT_EQ(programFolder("", "/elsewhere/upload-agent"), "/srv/from-environment");
  }
  {
    HomeVariable empty("");  // set but empty counts as not set
    EXPECT_EQ(programFolder("", "/elsewhere/upload-agent"), executableFolder);
  }
  {
    HomeVariable unset(nullptr);
    EXPECT_EQ(programFolder("", "/elsewhere/upload-agent"), executableFolder)
        << "the platform's answer wins over argv[0]";
  }
}

}  // namespace
}  // namespace agent
