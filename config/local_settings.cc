#include "config/local_settings.h"

#include "base/code_page.h"
#include "base/errors.h"
#include "base/text.h"
#include "config/profile.h"

namespace agent {

std::optional<LocalSettings> readLocalSettings(const std::filesystem::path& iniPath) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(iniPath, ec)) return std::nullopt;
  Profile ini = Profile::load(iniPath);
  LocalSettings s;
  s.dbType = trim(ini.get("APATH", "DBASEPATH"), " ");
  s.serverName = ini.get("APATH", "SERVERNAME");
  s.password = ini.get("APATH", "PASSWORD");
  s.dbName = ini.get("APATH", "DBNAME");
  s.readAsUtf8 = ini.readAsUtf8();
  return s;
}

std::string unscramblePassword(const std::string& stored) {
  std::string bytes = utf8ToWindows1252(stored);
  const int n = static_cast<int>(bytes.size());
  std::string plain;
  for (char c : bytes) {
    int code = static_cast<unsigned char>(c) - n;
    if (code < 0)
      throw AgentError(error_number::kInvalidArgument, "Invalid procedure call or argument");
    plain += static_cast<char>(code);
  }
  return windows1252ToUtf8(plain);
}

std::string scramblePassword(const std::string& plain) {
  std::size_t replaced = 0;
  std::string bytes = utf8ToWindows1252(plain, &replaced);
  if (replaced > 0) {
    throw AgentError(error_number::kInvalidArgument,
                     "The password holds a character outside the Windows-1252 code page");
  }
  const int n = static_cast<int>(bytes.size());
  std::string stored;
  for (char c : bytes) {
    int code = static_cast<unsigned char>(c) + n;
    if (code > 255) {
      throw AgentError(error_number::kInvalidArgument,
                       std::string("The password character '") +
                           windows1252ToUtf8(std::string(1, c)) + "' cannot be shifted by " +
                           std::to_string(n) + " within the code page");
    }
    stored += static_cast<char>(code);
  }
  return windows1252ToUtf8(stored);
}

std::string sqlServerConnectionString(const std::string& serverName, const std::string& password) {
  // The values come from the settings file: quoted, so that none adds a key.
  return "Driver={SQL Server};Server=" + braceQuoted(serverName) +
         ";Uid=SA;Pwd=" + braceQuoted(trim(password, " ")) + ";";
}

std::string oracleConnectionString(const std::string& serverName) {
  return "Provider=msdaora.1.0; data source = " + braceQuoted(serverName) +
         "; user id = qbt;pwd =qbt";
}

std::string localDatabaseName(const std::string& dbName,
                              const std::filesystem::path& programFolder) {
  std::string name = trim(dbName, " ");
  if (characterCount(name) >= 2) return replaceAll(name, "[", "");
  std::error_code ec;
  return std::filesystem::is_regular_file(programFolder / "x019.pms", ec) ? "ORBA_KLT" : "ORBA";
}

}  // namespace agent
