#include "config/platform_config.h"

#include <cctype>
#include <charconv>
#include <cstdlib>
#include <string_view>

#include "base/errors.h"
#include "base/file_names.h"
#include "base/text.h"
#include "config/profile.h"

namespace agent {

void DriverMap::add(const std::string& name, DriverTarget target) {
  targets_[toUpperAscii(trim(name))] = std::move(target);
}

DriverTarget DriverMap::resolve(const std::string& driverName) const {
  auto it = targets_.find(toUpperAscii(trim(driverName)));
  if (it != targets_.end()) return it->second;
  return DriverTarget{DriverTarget::Kind::Odbc, driverName};
}

namespace {

[[noreturn]] void badValue(const std::filesystem::path& file, const std::string& section,
                           const std::string& key, const std::string& value,
                           const std::string& expected) {
  throw AgentError(error_number::kGenericFailure, file.string() + ": [" + section + "] " + key +
                                                      " = " + value + ": expected " + expected);
}

int readSeconds(const Profile& ini, const std::filesystem::path& file, const char* section,
                const char* key, int fallback) {
  std::string text = trim(ini.get(section, key, std::to_string(fallback)));
  int seconds = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), seconds);
  if (ec != std::errc() || end != text.data() + text.size() || seconds <= 0 || seconds > 86400) {
    badValue(file, section, key, text, "a number of seconds from 1 to 86400");
  }
  return seconds;
}

// A regional separator goes into statements (the remote control stamps) and
// export fields as it stands: one character, and none that could end a
// literal, escape the next character or be taken for part of a number or
// a date (a quote, a backslash, a letter, a digit, a control character).
void checkSeparator(const std::filesystem::path& file, const char* key, const std::string& value) {
  const unsigned char first = value.empty() ? 0 : static_cast<unsigned char>(value[0]);
  std::size_t length = first < 0x80 ? 1 : first >= 0xF0 ? 4 : first >= 0xE0 ? 3 : 2;
  bool usable =
      !value.empty() && value.size() == length && first >= 0x20 && first != 0x7F &&
      std::string_view("'\"`\\").find(static_cast<char>(first)) == std::string_view::npos &&
      !std::isalnum(first);
  if (!usable) {
    throw AgentError(error_number::kGenericFailure,
                     pathText(file) + ": [regional] " + key + " = \"" + value +
                         "\": expected one character that is not a quote, a backslash, a "
                         "letter or a digit");
  }
}

// A name under which an ODBC driver is registered, never a path to a
// library: the driver manager loads a driver given by path, so a settings
// file could make the agent run any library.
bool isRegisteredDriverName(const std::string& name) {
  return !name.empty() && name.find_first_of("/\\;{}=") == std::string::npos &&
         !hasControlCharacter(name);
}

}  // namespace

RemoteLink overrideLink(const RemoteLink& defaults, const std::string& tls,
                        const std::string& tlsCa, const std::string& where,
                        const std::filesystem::path& home) {
  RemoteLink link = defaults;
  if (!trim(tls).empty()) {
    std::optional<TlsMode> mode = parseTlsMode(tls);
    if (!mode) {
      throw AgentError(
          error_number::kGenericFailure,
          where + " tls = " + tls + ": expected off, required, verify-ca or verify-identity");
    }
    link.tls = *mode;
  }
  std::filesystem::path ca = trim(tlsCa);
  if (!ca.empty()) link.tlsCa = ca.is_absolute() ? ca : home / ca;
  if (link.tls == TlsMode::VerifyCa && link.tlsCa.empty()) {
    throw AgentError(error_number::kGenericFailure,
                     where + " tls = verify-ca: tls_ca must name the CA certificate file");
  }
  return link;
}

PlatformConfig PlatformConfig::load(const std::filesystem::path& home) {
  const std::filesystem::path file = home / "platform.ini";
  Profile ini = Profile::load(file);
  PlatformConfig config;
  config.drivers = DriverMap(home);
  for (const auto& [name, value] : ini.entries("drivers")) {
    std::string v = trim(value);
    if (equalsIgnoreCase(v, "embedded")) {
      config.drivers.add(name, {DriverTarget::Kind::Embedded, {}});
    } else if (equalsIgnoreCase(v, "mariadb")) {
      config.drivers.add(name, {DriverTarget::Kind::MariaDb, {}});
    } else if (v.size() > 5 && equalsIgnoreCase(v.substr(0, 5), "odbc:") &&
               isRegisteredDriverName(trim(v.substr(5)))) {
      config.drivers.add(name, {DriverTarget::Kind::Odbc, trim(v.substr(5))});
    } else {
      throw AgentError(
          error_number::kGenericFailure,
          pathText(file) + ": [drivers] " + name + " = " + value +
              ": expected \"embedded\", \"mariadb\" or \"odbc:<registered driver name>\" (a "
              "name, not a path: no /, \\, ;, {, } or =)");
    }
  }
  RegionalSettings& r = config.regional;
  r.shortDate = ini.get("regional", "short_date", r.shortDate);
  r.longTime = ini.get("regional", "long_time", r.longTime);
  r.dateSeparator = ini.get("regional", "date_separator", r.dateSeparator);
  r.timeSeparator = ini.get("regional", "time_separator", r.timeSeparator);
  r.decimalSeparator = ini.get("regional", "decimal_separator", r.decimalSeparator);
  checkSeparator(file, "date_separator", r.dateSeparator);
  checkSeparator(file, "time_separator", r.timeSeparator);
  checkSeparator(file, "decimal_separator", r.decimalSeparator);

  std::string page = trim(ini.get("export", "code_page", "auto"));
  if (equalsIgnoreCase(page, "utf-8") || equalsIgnoreCase(page, "utf8")) {
    config.exportCodePage = CodePage::Utf8;
  } else if (equalsIgnoreCase(page, "windows-1252") || equalsIgnoreCase(page, "cp1252")) {
    config.exportCodePage = CodePage::Windows1252;
  } else if (!page.empty() && !equalsIgnoreCase(page, "auto")) {
    throw AgentError(error_number::kGenericFailure, pathText(file) +
                                                        ": [export] code_page = " + page +
                                                        ": expected auto, windows-1252 or utf-8");
  }
  std::string changes = ini.get("upload", "changes_only", "no");
  if (equalsIgnoreCase(changes, "yes") || equalsIgnoreCase(changes, "true") || changes == "1") {
    config.changesOnly = true;
  } else if (!(equalsIgnoreCase(changes, "no") || equalsIgnoreCase(changes, "false") ||
               changes == "0")) {
    throw AgentError(error_number::kGenericFailure, pathText(file) + ": [upload] changes_only = " +
                                                        changes + ": expected yes or no");
  }
  std::string hours = ini.get("upload", "full_every_hours", "24");
  char* end = nullptr;
  long h = std::strtol(hours.c_str(), &end, 10);
  if (hours.empty() || *end != '\0' || h < 1 || h > 24 * 365) {
    throw AgentError(error_number::kGenericFailure,
                     pathText(file) + ": [upload] full_every_hours = " + hours +
                         ": expected a number of hours from 1 to 8760");
  }
  config.fullEveryHours = static_cast<int>(h);
  config.cycleLockWait = readSeconds(ini, file, "upload", "cycle_lock_wait", config.cycleLockWait);
  std::filesystem::path log = pathFromText(ini.get("log", "folder", "log"));
  config.logFolder = log.is_absolute() ? log : home / log;

  RemoteLink defaults;
  defaults.connectTimeout =
      readSeconds(ini, file, "remote", "connect_timeout", defaults.connectTimeout);
  defaults.readTimeout = readSeconds(ini, file, "remote", "read_timeout", defaults.readTimeout);
  defaults.writeTimeout = readSeconds(ini, file, "remote", "write_timeout", defaults.writeTimeout);
  config.lockWaitTimeout =
      readSeconds(ini, file, "remote", "lock_wait_timeout", config.lockWaitTimeout);
  config.remote = overrideLink(defaults, ini.get("remote", "tls"), ini.get("remote", "tls_ca"),
                               file.string() + ": [remote]", home);
  return config;
}

}  // namespace agent
