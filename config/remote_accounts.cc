#include "config/remote_accounts.h"

#include "base/file_names.h"
#include "base/text.h"
#include "config/profile.h"

namespace agent {

RemoteAccounts RemoteAccounts::load(const std::filesystem::path& file,
                                    std::vector<std::string>* warnings) {
  Profile ini = Profile::load(file);
  RemoteAccounts accounts;
  for (std::size_t i = 0; i < kInstitutionCodes.size(); ++i) {
    RemoteAccount& row = accounts.rows_[i];
    row.code = kInstitutionCodes[i];
    row.user = ini.get(row.code, "user");
    row.password = ini.get(row.code, "password");
    row.server = ini.get(row.code, "server");
    row.database = ini.get(row.code, "database");
    row.port = ini.get(row.code, "port");
    row.tls = ini.get(row.code, "tls");
    row.tlsCa = ini.get(row.code, "tls_ca");
  }
  if (warnings != nullptr) {
    if (ini.readAsUtf8()) {
      warnings->push_back(file.string() + ": starts with a UTF-8 byte-order mark; read as UTF-8");
    }
    for (const std::string& section : ini.sections()) {
      bool known = false;
      for (const char* code : kInstitutionCodes) known = known || equalsIgnoreCase(section, code);
      if (!known) {
        warnings->push_back(pathText(file) + ": section [" + section +
                            "] is no institution code of the account table; ignored");
      }
    }
  }
  return accounts;
}

std::optional<RemoteAccount> RemoteAccounts::find(const std::string& univCode) const {
  for (const RemoteAccount& row : rows_) {
    if (row.code == univCode) return row;
  }
  return std::nullopt;
}

std::string remoteConnectionString(const std::string& server, const std::string& database,
                                   const std::string& user, const std::string& password,
                                   const std::string& port) {
  // Every value comes from remote-accounts.ini: quoted, so that a value such
  // as "127.0.0.1;DRIVER=/path/lib.so" stays one server name.
  std::string s = "DRIVER={MySQL ODBC 3.51 Driver};SERVER=" + braceQuoted(server) +
                  ";DATABASE=" + braceQuoted(database) + ";UID=" + braceQuoted(user) +
                  ";PWD=" + braceQuoted(password) + "; OPTION=3";
  if (!port.empty()) s += ";PORT=" + braceQuoted(port);
  return s;
}

}  // namespace agent
