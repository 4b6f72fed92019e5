// File names across the platform boundary: UTF-8 text inside the agent, the
// platform's own form at the file API (UTF-16 on Windows), and the name the
// remote ODBC driver is handed for a file it opens itself (the export file of
// LOAD DATA LOCAL INFILE). The platform parts live in file_names_posix.cc and
// file_names_win32.cc.
#ifndef AGENT_BASE_FILE_NAMES_H_
#define AGENT_BASE_FILE_NAMES_H_

#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

namespace agent {

// The UTF-8 text of a path, for journal lines, messages and statements.
std::string pathText(const std::filesystem::path& path);
// The path a UTF-8 text names (a settings value, an option).
std::filesystem::path pathFromText(std::string_view text);

// std::fopen by the path's native name, so any character of a folder name
// reaches the file system. Null with errno set on failure.
std::FILE* openFile(const std::filesystem::path& path, const char* mode);

// The absolute name under which the remote ODBC driver can open path. On
// Windows that is the Windows name (C:\Apps\Upload\CSV\UPCOLLEGE.csv); under
// Wine the driver is a Linux library that opens exactly the name it is
// given, so there it is the Unix name Wine maps the file to.
std::string remoteDriverFileName(const std::filesystem::path& path);
// The absolute, normalised UTF-8 name of path as the agent itself opens it
// (backslashes on Windows): what a LOAD DATA LOCAL statement names when the
// agent, not the driver, serves the server's request for the file.
std::string agentFileName(const std::filesystem::path& path);

}  // namespace agent

#endif  // AGENT_BASE_FILE_NAMES_H_
