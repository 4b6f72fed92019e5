#include "tests/support/program_folder.h"

#include "base/code_page.h"
#include "config/local_settings.h"

namespace agent::testing {

ProgramFolder::ProgramFolder(const LocalTestDatabase& local, const RemoteTestDatabase& remote,
                             const std::string& code) {
  write("platform.ini",
        "[drivers]\nSQL Server = embedded\nMySQL ODBC 3.51 Driver = mariadb\n\n[remote]\n"
        "tls = verify-identity\ntls_ca = " +
            remote.server().tlsCa + "\n");
  write("remote-accounts.ini", remote.accountSection(code));
  settings("SQLSRVR", local.serverFolder().string(), local.name(), LocalTestDatabase::kSaPassword);
}

void ProgramFolder::settings(const std::string& type, const std::string& server,
                             const std::string& db, const std::string& password) {
  write(kSettingsFileName, settingsFileText(server, db, password, type));
}

std::string settingsFileText(const std::string& server, const std::string& db,
                             const std::string& password, const std::string& type) {
  return "[APATH]\r\nDBASEPATH=" + type + "\r\nSERVERNAME=" + server +
         "\r\nPASSWORD=" + utf8ToWindows1252(scramblePassword(password)) + "\r\nDBNAME=" + db +
         "\r\n";
}

void ProgramFolder::write(const std::string& name, const std::string& bytes) {
  // Settings files hold passwords: the owner's alone, as an installer makes them.
  writeFile(dir_.path() / name, bytes);
  std::filesystem::permissions(
      dir_.path() / name, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

std::size_t journalLinesWith(const Journal& journal, const std::string& text) {
  std::size_t n = 0;
  for (const std::string& line : journal.recentLines()) n += line.find(text) != line.npos;
  return n;
}

}  // namespace agent::testing
