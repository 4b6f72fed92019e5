#include "config/platform_config.h"

#include <cctype>
#include <string_view>

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
                     file.string() + ": [regional] " + key + " = \"" + value +
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

PlatformConfig PlatformConfig::load(const std::filesystem::path& home) {
  const std::filesystem::path file = home / "platform.ini";
  Profile ini = Profile::load(file);
  PlatformConfig config;
  config.drivers = DriverMap(home);
  for (const auto& [name, value] : ini.entries("drivers")) {
    std::string v = trim(value);
    if (equalsIgnoreCase(v, "embedded")) {
      config.drivers.add(name, {DriverTarget::Kind::Embedded, {}});
    } else if (v.size() > 5 && equalsIgnoreCase(v.substr(0, 5), "odbc:") &&
               isRegisteredDriverName(trim(v.substr(5)))) {
      config.drivers.add(name, {DriverTarget::Kind::Odbc, trim(v.substr(5))});
    } else {
      throw AgentError(
          error_number::kGenericFailure,
          file.string() + ": [drivers] " + name + " = " + value +
              ": expected \"embedded\" or \"odbc:<registered driver name>\" (a name, not a "
              "path: no /, \\, ;, {, } or =)");
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

  std::string page = ini.get("export", "code_page", "windows-1252");
  if (equalsIgnoreCase(page, "utf-8") || equalsIgnoreCase(page, "utf8")) {
    config.exportCodePage = CodePage::Utf8;
  } else if (equalsIgnoreCase(page, "windows-1252") || equalsIgnoreCase(page, "cp1252")) {
    config.exportCodePage = CodePage::Windows1252;
  } else {
    throw AgentError(error_number::kGenericFailure, file.string() + ": [export] code_page = " +
                                                        page + ": expected windows-1252 or utf-8");
  }
  std::filesystem::path log = ini.get("log", "folder", "log");
  config.logFolder = log.is_absolute() ? log : home / log;
  return config;
}

}  // namespace agent
