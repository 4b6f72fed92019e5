#include "config/program_folder.h"

#include "base/environment.h"
#include "base/file_names.h"

namespace agent {

std::filesystem::path programFolder(const std::string& homeOption, const char* argv0) {
  if (!homeOption.empty()) return std::filesystem::absolute(pathFromText(homeOption));
  if (auto env = environmentVariable("UPLOAD_AGENT_HOME"); env && !env->empty()) {
    return std::filesystem::absolute(pathFromText(*env));
  }
  return executablePath(argv0).parent_path();
}

}  // namespace agent
