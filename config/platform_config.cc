#include "config/platform_config.h"

#include <charconv>

#include "base/errors.h"
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

// A [remote] time-out: a whole number of seconds from 1 to a day.
int seconds(const Profile& ini, const std::filesystem::path& file, const char* key, int fallback) {
  const std::string text = trim(ini.get("remote", key, std::to_string(fallback)));
  int value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || value < 1 || value > 86400) {
    throw AgentError(error_number::kGenericFailure,
                     file.string() + ": [remote] " + key + " = " + text +
                         ": expected a whole number of seconds from 1 to 86400");
  }
  return value;
}

}  // namespace

PlatformConfig PlatformConfig::load(const std::filesystem::path& home) {
  const std::filesystem::path file = home / "platform.ini";
  Profile ini = Profile::load(file);
  PlatformConfig config;
  config.drivers = DriverMap(home);
  for (const auto& [name, value] : ini.entries("drivers")) {
    std::string v = trim(value);
    if (equalsIgnoreCase(v, "embedded")) {
      config.drivers.add(name, {DriverTarget::Kind::Embedded, {}});
    } else if (v.size() > 5 && equalsIgnoreCase(v.substr(0, 5), "odbc:")) {
      config.drivers.add(name, {DriverTarget::Kind::Odbc, trim(v.substr(5))});
    } else {
      throw AgentError(error_number::kGenericFailure,
                       file.string() + ": [drivers] " + name + " = " + value +
                           ": expected \"embedded\" or \"odbc:<registered driver name>\"");
    }
  }
  RegionalSettings& r = config.regional;
  r.shortDate = ini.get("regional", "short_date", r.shortDate);
  r.longTime = ini.get("regional", "long_time", r.longTime);
  r.dateSeparator = ini.get("regional", "date_separator", r.dateSeparator);
  r.timeSeparator = ini.get("regional", "time_separator", r.timeSeparator);
  r.decimalSeparator = ini.get("regional", "decimal_separator", r.decimalSeparator);

  std::string page = ini.get("export", "code_page", "windows-1252");
  if (equalsIgnoreCase(page, "utf-8") || equalsIgnoreCase(page, "utf8")) {
    config.exportCodePage = CodePage::Utf8;
  } else if (equalsIgnoreCase(page, "windows-1252") || equalsIgnoreCase(page, "cp1252")) {
    config.exportCodePage = CodePage::Windows1252;
  } else {
    throw AgentError(error_number::kGenericFailure, file.string() + ": [export] code_page = " +
                                                        page + ": expected windows-1252 or utf-8");
  }
  RemoteSettings& remote = config.remote;
  remote.connectTimeout = seconds(ini, file, "connect_timeout", remote.connectTimeout);
  remote.readTimeout = seconds(ini, file, "read_timeout", remote.readTimeout);
  remote.writeTimeout = seconds(ini, file, "write_timeout", remote.writeTimeout);

  std::filesystem::path log = ini.get("log", "folder", "log");
  config.logFolder = log.is_absolute() ? log : home / log;
  return config;
}

}  // namespace agent
