// Where the program folder is: the folder named by --home, else by the
// environment variable UPLOAD_AGENT_HOME, else the executable's own folder.
#ifndef AGENT_CONFIG_PROGRAM_FOLDER_H_
#define AGENT_CONFIG_PROGRAM_FOLDER_H_

#include <filesystem>
#include <string>

namespace agent {

// homeOption: the value of --home (empty when not given). argv0: the
// program's argv[0], the fallback where the platform does not tell.
std::filesystem::path programFolder(const std::string& homeOption, const char* argv0);

// The running executable's absolute path (program_folder_posix.cc,
// program_folder_win32.cc); argv0 made absolute where the platform does not
// tell.
std::filesystem::path executablePath(const char* argv0);

}  // namespace agent

#endif  // AGENT_CONFIG_PROGRAM_FOLDER_H_
