// A program folder for tests that run the whole agent: platform.ini with
// the embedded engine and the native driver over TLS verified against the
// test CA, a settings file naming a local test database, and
// remote-accounts.ini naming a remote one for an institution code.
#ifndef AGENT_TESTS_SUPPORT_PROGRAM_FOLDER_H_
#define AGENT_TESTS_SUPPORT_PROGRAM_FOLDER_H_

#include <filesystem>
#include <string>

#include "cycle/journal.h"
#include "tests/support/local_database.h"
#include "tests/support/remote_server.h"
#include "tests/support/temp_dir.h"

namespace agent::testing {

class ProgramFolder {
 public:
  ProgramFolder(const LocalTestDatabase& local, const RemoteTestDatabase& remote,
                const std::string& code);

  // Rewrites the settings file with these values (password in plain form).
  void settings(const std::string& type, const std::string& server, const std::string& db,
                const std::string& password);
  void write(const std::string& name, const std::string& bytes);
  const std::filesystem::path& path() const { return dir_.path(); }

 private:
  TempDir dir_;
};

// The bytes of a settings file (Windows-1252, as the office's programs
// write it) naming a local database, its password in plain form.
std::string settingsFileText(const std::string& server, const std::string& db,
                             const std::string& password, const std::string& type = "SQLSRVR");

// The number of journal lines that contain text.
std::size_t journalLinesWith(const Journal& journal, const std::string& text);

}  // namespace agent::testing

#endif  // AGENT_TESTS_SUPPORT_PROGRAM_FOLDER_H_
