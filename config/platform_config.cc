#include "config/platform_config.h"

#include <cstdlib>

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
  std::string changes = ini.get("upload", "changes_only", "no");
  if (equalsIgnoreCase(changes, "yes") || equalsIgnoreCase(changes, "true") || changes == "1") {
    config.changesOnly = true;
  } else if (!(equalsIgnoreCase(changes, "no") || equalsIgnoreCase(changes, "false") ||
               changes == "0")) {
    throw AgentError(error_number::kGenericFailure, file.string() + ": [upload] changes_only = " +
                                                        changes + ": expected yes or no");
  }
  std::string hours = ini.get("upload", "full_every_hours", "24");
  char* end = nullptr;
  long h = std::strtol(hours.c_str(), &end, 10);
  if (hours.empty() || *end != '\0' || h < 1 || h > 24 * 365) {
    throw AgentError(error_number::kGenericFailure,
                     file.string() + ": [upload] full_every_hours = " + hours +
                         ": expected a number of hours from 1 to 8760");
  }
  config.fullEveryHours = static_cast<int>(h);
  std::filesystem::path log = ini.get("log", "folder", "log");
  config.logFolder = log.is_absolute() ? log : home / log;
  return config;
}

}  // namespace agent
