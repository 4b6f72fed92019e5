// The settings file Ostrel.INI (section APATH) and what the local
// connection is built from: the database type, the server, the SA password
// in its scrambled form, and the database name with its defaults.
#ifndef AGENT_CONFIG_LOCAL_SETTINGS_H_
#define AGENT_CONFIG_LOCAL_SETTINGS_H_

#include <filesystem>
#include <optional>
#include <string>

namespace agent {

inline constexpr const char* kSettingsFileName = "Ostrel.INI";

struct LocalSettings {
  std::string dbType;       // DBASEPATH, blanks removed
  std::string serverName;   // SERVERNAME
  std::string password;     // PASSWORD, still scrambled
  std::string dbName;       // DBNAME
  bool readAsUtf8 = false;  // the file started with the UTF-8 byte-order mark
};

// Reads the four keys of section APATH, in the order DBASEPATH, SERVERNAME,
// PASSWORD, DBNAME. Returns nullopt when no file exists at the path.
std::optional<LocalSettings> readLocalSettings(const std::filesystem::path& iniPath);

// The plain password: every character shifted down in the Windows-1252 code
// page by the number of characters of the stored value. Throws AgentError
// (5, "Invalid procedure call or argument") when a character would fall
// below code 0.
std::string unscramblePassword(const std::string& stored);

// The stored form of a plain password (every character shifted up by the
// length). Throws AgentError naming the character when it is outside
// Windows-1252 or would pass code 255.
std::string scramblePassword(const std::string& plain);

// "Driver={SQL Server};Server={<server>};Uid=SA;Pwd={<password trimmed>};"
// (values brace-quoted, see braceQuoted)
std::string sqlServerConnectionString(const std::string& serverName, const std::string& password);
// "Provider=msdaora.1.0; data source = {<server>}; user id = qbt;pwd =qbt"
std::string oracleConnectionString(const std::string& serverName);

// The database the local connection works in: DBNAME trimmed without any
// "[" when it has two characters or more; otherwise ORBA_KLT when the file
// x019.pms is in the program folder, else ORBA.
std::string localDatabaseName(const std::string& dbName,
                              const std::filesystem::path& programFolder);

}  // namespace agent

#endif  // AGENT_CONFIG_LOCAL_SETTINGS_H_
