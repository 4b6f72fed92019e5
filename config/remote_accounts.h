// The built-in table of remote accounts, one row per institution code. The
// codes and their order are fixed here; the values (user, password, server,
// database, optional port, tls and tls_ca) come from remote-accounts.ini in the program
// folder, one section per code.
#ifndef AGENT_CONFIG_REMOTE_ACCOUNTS_H_
#define AGENT_CONFIG_REMOTE_ACCOUNTS_H_

#include <array>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace agent {

inline constexpr const char* kRemoteAccountsFileName = "remote-accounts.ini";

// The institution codes, in the order they are tried.
inline constexpr std::array<const char*, 18> kInstitutionCodes = {
    "999",  "P001", "P002", "P005", "P014", "P019", "P022", "P023", "P026",
    "P027", "P028", "P030", "P032", "P034", "P035", "P036", "P037", "P038"};

struct RemoteAccount {
  std::string code;
  std::string user;
  std::string password;
  std::string server;
  std::string database;
  std::string port;  // optional; empty when the section names none
  // Optional: the link's TLS mode and CA file, over platform.ini's [remote].
  std::string tls;
  std::string tlsCa;
};

class RemoteAccounts {
 public:
  // Reads the file (a missing file leaves every row empty). Sections whose
  // name is no code of the table are ignored; warnings lists them.
  static RemoteAccounts load(const std::filesystem::path& file,
                             std::vector<std::string>* warnings = nullptr);

  // The row whose code equals univCode exactly (case-sensitive), or nullopt.
  std::optional<RemoteAccount> find(const std::string& univCode) const;

 private:
  std::array<RemoteAccount, kInstitutionCodes.size()> rows_;
};

// "DRIVER={MySQL ODBC 3.51 Driver};SERVER={<server>};DATABASE={<database>};
// UID={<user>};PWD={<password>}; OPTION=3", then ";PORT={<port>}" when a port
// is given; every value brace-quoted (braceQuoted).
std::string remoteConnectionString(const std::string& server, const std::string& database,
                                   const std::string& user, const std::string& password,
                                   const std::string& port = "");

}  // namespace agent

#endif  // AGENT_CONFIG_REMOTE_ACCOUNTS_H_
