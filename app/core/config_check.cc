#include "app/core/config_check.h"

#include <algorithm>
#include <map>
#include <optional>
#include <set>

#include <fmt/format.h>

#include "app/core/portal_link.h"
#include "base/private_file.h"
#include "base/text.h"
#include "config/local_settings.h"
#include "config/platform_config.h"
#include "config/profile.h"
#include "config/remote_accounts.h"
#include "cycle/cycle.h"
#include "cycle/export_encoding.h"
#include "db/connection_string.h"
#include "db/drivers/driver_connection.h"
#include "db/error.h"
#include "db/odbc_connection.h"
#include "payments/payment_posting.h"
#include "upload/mirror_catalog.h"

namespace agent {

namespace {

using Result = CheckLine::Result;

// Blanks and line ends around a piece of a statement or setting.
std::string trimmed(std::string_view s) {
  return trim(s, " \t\r\n");
}

// Splits text at the separators that stand outside quotes and brackets.
std::vector<std::string> splitOutside(std::string_view text, char separator) {
  std::vector<std::string> parts;
  std::string current;
  char quote = 0;
  int depth = 0;
  for (char c : text) {
    if (quote) {
      if (c == quote) quote = 0;
    } else if (c == '\'' || c == '"') {
      quote = c;
    } else if (c == '(') {
      ++depth;
    } else if (c == ')') {
      --depth;
    } else if (c == separator && depth == 0) {
      parts.push_back(trimmed(current));
      current.clear();
      continue;
    }
    current += c;
  }
  parts.push_back(trimmed(current));
  return parts;
}

// The first needle in text at or after from that stands outside quotes.
std::size_t findOutside(std::string_view text, std::string_view needle, std::size_t from = 0) {
  char quote = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (quote) {
      if (c == quote) quote = 0;
    } else if (c == '\'' || c == '"') {
      quote = c;
    } else if (i >= from && text.substr(i, needle.size()) == needle) {
      return i;
    }
  }
  return std::string_view::npos;
}

// "x1.fname = x2.fname" -> "fname".
std::string assignedColumn(const std::string& assignment) {
  std::size_t eq = assignment.find('=');
  std::string name = trimmed(assignment.substr(0, eq));
  std::size_t dot = name.rfind('.');
  if (dot != std::string::npos) name = name.substr(dot + 1);
  return toLowerAscii(name);
}

void addColumns(std::vector<RemoteColumns>& all, RemoteColumns more) {
  auto it = std::find_if(all.begin(), all.end(),
                         [&](const RemoteColumns& c) { return c.table == more.table; });
  if (it == all.end()) {
    all.push_back(std::move(more));
    return;
  }
  for (std::string& column : more.columns) {
    if (std::find(it->columns.begin(), it->columns.end(), column) == it->columns.end())
      it->columns.push_back(std::move(column));
  }
}

class Checklist {
 public:
  void ok(std::string subject, std::string detail) {
    lines_.push_back({Result::Ok, std::move(subject), std::move(detail)});
  }
  void warn(std::string subject, std::string detail) {
    lines_.push_back({Result::Warning, std::move(subject), std::move(detail)});
  }
  void fail(std::string subject, std::string detail) {
    lines_.push_back({Result::Failed, std::move(subject), std::move(detail)});
  }
  bool lastFailed() const { return !lines_.empty() && lines_.back().result == Result::Failed; }
  std::vector<CheckLine> take() { return std::move(lines_); }

 private:
  std::vector<CheckLine> lines_;
};

// A driver name of a connection string, through platform.ini's driver map.
void checkDriver(Checklist& list, const DriverMap& drivers, const std::string& driverName) {
  const std::string subject = "driver \"" + driverName + "\"";
  DriverTarget target = drivers.resolve(driverName);
  if (target.kind == DriverTarget::Kind::Embedded) {
    list.ok(subject, "the embedded engine");
  } else if (target.kind == DriverTarget::Kind::MariaDb) {
    list.ok(subject, "the native MariaDB driver (MariaDB Connector/C)");
  } else if (odbcDriverRegistered(target.odbcName)) {
    list.ok(subject, "ODBC driver \"" + target.odbcName + "\"");
  } else {
    list.fail(subject, "no ODBC driver \"" + target.odbcName +
                           "\" is registered; install it and register it under that name "
                           "(odbcinst.ini), or map the name in platform.ini [drivers]");
  }
}

// A folder the agent writes at start-up or in every cycle.
void checkWritableFolder(Checklist& list, const std::string& subject,
                         const std::filesystem::path& folder, const std::string& madeBy) {
  std::error_code ec;
  if (std::filesystem::is_directory(folder, ec)) {
    if (mayWrite(folder))
      list.ok(subject, folder.string());
    else
      list.fail(subject, folder.string() + " is not writable by this user; give it write access");
  } else if (std::filesystem::exists(folder, ec)) {
    list.fail(subject, folder.string() + " is a file; move it out of the way");
  } else {
    std::filesystem::path parent = folder.parent_path();
    while (!parent.empty() && !std::filesystem::exists(parent, ec) &&
           parent != parent.parent_path())
      parent = parent.parent_path();
    if (mayWrite(parent))
      list.ok(subject, folder.string() + " (missing; " + madeBy + " makes it)");
    else
      list.fail(subject, folder.string() + " is missing and " + parent.string() +
                             " is not writable; make the folder");
  }
}

// Separators that would break an export line, a statement or a number the
// portal reads.
void checkRegional(Checklist& list, const RegionalSettings& r) {
  std::vector<std::string> problems;
  auto check = [&](const char* key, const std::string& value) {
    if (value.size() != 1) {
      problems.push_back(fmt::format("{} = \"{}\" must be one character", key, value));
      return;
    }
    char c = value[0];
    if (c == '|' || c == '\'' || c == '"' || c == '\\' || c == '\r' || c == '\n' ||
        std::isalnum(static_cast<unsigned char>(c)))
      problems.push_back(fmt::format(
          "{} = \"{}\" cannot be used (it is a letter, a digit, a quote, a backslash or the "
          "export's field separator |)",
          key, value));
  };
  check("date_separator", r.dateSeparator);
  check("time_separator", r.timeSeparator);
  check("decimal_separator", r.decimalSeparator);
  if (r.decimalSeparator.size() == 1 && r.decimalSeparator != ".")
    problems.push_back("decimal_separator = \"" + r.decimalSeparator +
                       "\": the portal reads amounts with a point and would cut them at the "
                       "separator; set decimal_separator = .");
  if (r.shortDate.empty()) problems.push_back("short_date is empty");
  if (r.longTime.empty()) problems.push_back("long_time is empty");
  if (problems.empty()) {
    list.ok("regional settings",
            fmt::format("short date {}, long time {}, separators {} {} {}", r.shortDate, r.longTime,
                        r.dateSeparator, r.timeSeparator, r.decimalSeparator));
  } else {
    std::string all;
    for (const std::string& p : problems) all += (all.empty() ? "" : "; ") + p;
    list.fail("regional settings", "platform.ini [regional]: " + all);
  }
}

// The CA file the link names, which the driver opens itself.
void checkTlsCa(Checklist& list, const RemoteLink& link) {
  if (link.tlsCa.empty()) return;
  std::error_code ec;
  std::FILE* f = std::filesystem::is_regular_file(link.tlsCa, ec)
                     ? std::fopen(link.tlsCa.string().c_str(), "rb")
                     : nullptr;
  if (f) {
    std::fclose(f);
    list.ok("TLS CA file", link.tlsCa.string());
  } else {
    list.fail("TLS CA file", link.tlsCa.string() + " is missing or not readable by this user");
  }
}

// The program folder and the settings files that hold the passwords: only
// the agent's own accounts (and the administrators) may read them.
void checkPrivacy(Checklist& list, const std::filesystem::path& home) {
  std::vector<std::string> open;
  for (const std::filesystem::path& p :
       {home, home / kSettingsFileName, home / kRemoteAccountsFileName}) {
    if (othersMayRead(p)) open.push_back(p.string());
  }
  if (open.empty()) {
    list.ok("program folder access", "only the agent's own account may read the passwords");
    return;
  }
  std::string names;
  for (const std::string& n : open) names += (names.empty() ? "" : ", ") + n;
  list.warn("program folder access", "other users may read " + names +
                                         ", which hold the portal's and the SA password; " +
                                         narrowAccessAdvice());
}

// The local side: settings file, driver, connection, the control row.
// Returns the institution code when the control row could be read.
std::optional<std::string> checkLocal(Checklist& list, const std::filesystem::path& home,
                                      const PlatformConfig& config) {
  const std::filesystem::path iniPath = home / kSettingsFileName;
  std::optional<LocalSettings> settings = readLocalSettings(iniPath);
  if (!settings) {
    list.fail(kSettingsFileName, iniPath.string() +
                                     " is missing; write it with section [APATH] (DBASEPATH, "
                                     "SERVERNAME, PASSWORD, DBNAME)");
    return std::nullopt;
  }
  if (settings->dbType != "SQLSRVR" && settings->dbType != "ORACLE") {
    list.fail(kSettingsFileName,
              "DBASEPATH = \"" + settings->dbType + "\"; set it to SQLSRVR or ORACLE (upper case)");
    return std::nullopt;
  }
  if (trimmed(settings->serverName).empty()) {
    list.fail(kSettingsFileName, "SERVERNAME is empty; set it to the local server");
    return std::nullopt;
  }
  std::string password;
  try {
    password = unscramblePassword(settings->password);
  } catch (const AgentError& e) {
    list.fail(kSettingsFileName, "PASSWORD cannot be read (" + e.description() +
                                     "); write it with upload-agent --scramble-password");
    return std::nullopt;
  }
  const bool oracle = settings->dbType == "ORACLE";
  const std::string dbName = localDatabaseName(settings->dbName, home);
  list.ok(kSettingsFileName,
          oracle ? "Oracle data source " + settings->serverName
                 : fmt::format("SQL Server {}, database {}", settings->serverName, dbName));

  const std::string connection = oracle ? oracleConnectionString(settings->serverName)
                                        : sqlServerConnectionString(settings->serverName, password);
  checkDriver(list, config.drivers, ConnectionString(connection).driverName());
  if (list.lastFailed()) return std::nullopt;

  DriverConnection local(config.drivers);
  try {
    if (oracle) {
      local.open(connection, "qbt", "qbt");
    } else {
      local.open(connection);
      local.setDefaultDatabase(dbName);
    }
  } catch (const AgentError& e) {
    list.fail("local connection", e.text() + "; check SERVERNAME, PASSWORD and DBNAME in " +
                                      kSettingsFileName + " and that the server runs");
    return std::nullopt;
  }
  list.ok("local connection", "opened");
  try {
    auto rs = local.query("select * from control", Cursor::Static);
    if (rs->eof() && rs->bof()) {
      list.fail("local control row",
                "the table control has no row; the institution code (funivcode) comes from it");
      return std::nullopt;
    }
    std::string code = displayText(rs->field("funivcode"));
    list.ok("local control row", "institution \"" + code + "\"");
    return code;
  } catch (const AgentError& e) {
    list.fail("local control row", "select * from control: " + e.text());
    return std::nullopt;
  }
}

// The portal side: account, driver, TLS files, connection, and the probes.
void checkRemote(Checklist& list, const std::filesystem::path& home, const PlatformConfig& config,
                 const std::string& univCode) {
  const std::filesystem::path accountsPath = home / kRemoteAccountsFileName;
  std::error_code ec;
  if (!std::filesystem::exists(accountsPath, ec)) {
    list.fail(kRemoteAccountsFileName, accountsPath.string() + " is missing; write a section [" +
                                           univCode + "] with user, password, server and database");
    return;
  }
  std::vector<std::string> warnings;
  RemoteAccounts accounts = RemoteAccounts::load(accountsPath, &warnings);
  for (const std::string& w : warnings) list.warn(kRemoteAccountsFileName, w);
  Profile accountsIni = Profile::load(accountsPath);
  const bool known = std::find(kInstitutionCodes.begin(), kInstitutionCodes.end(), univCode) !=
                     kInstitutionCodes.end();
  std::optional<RemoteAccount> account = accounts.find(univCode);
  if (!known || !account) {
    std::string codes;
    for (const char* c : kInstitutionCodes) codes += (codes.empty() ? "" : " ") + std::string(c);
    list.fail("portal account", "institution \"" + univCode + "\" is not one the agent serves (" +
                                    codes + "); correct funivcode in the local control table");
    return;
  }
  const std::vector<std::string> sections = accountsIni.sections();
  // Section names are matched as the profile reader matches them: in any case.
  if (std::none_of(sections.begin(), sections.end(),
                   [&](const std::string& name) { return equalsIgnoreCase(name, univCode); })) {
    list.fail("portal account", "institution \"" + univCode + "\" has no section [" + univCode +
                                    "] in " + kRemoteAccountsFileName +
                                    "; add one with user, password, server and database");
    return;
  }
  std::vector<std::string> missing;
  if (account->user.empty()) missing.push_back("user");
  if (account->server.empty()) missing.push_back("server");
  if (account->database.empty()) missing.push_back("database");
  if (!missing.empty()) {
    std::string keys;
    for (const std::string& k : missing) keys += (keys.empty() ? "" : ", ") + k;
    list.fail("portal account", "section [" + univCode + "] of " + kRemoteAccountsFileName +
                                    " lacks " + keys + "; add them");
    return;
  }
  list.ok("portal account", fmt::format("[{}] {} on {}, database {}", univCode, account->user,
                                        account->server, account->database));

  // The link every cycle opens: the same settings, driver rules and
  // connection.
  PortalLink planned;
  try {
    planned = planPortalLink(config, *account, home);
  } catch (const AgentError& e) {
    list.fail("portal link", e.description());
    return;
  }
  checkDriver(list, config.drivers, ConnectionString(planned.connectionString).driverName());
  if (list.lastFailed()) return;
  for (const std::string& w : planned.warnings) list.warn("portal link", w);
  checkTlsCa(list, planned.link);

  std::unique_ptr<DriverConnection> portalConnection;
  std::string hostName = account->server;
  try {
    OpenedPortal opened = openFirstReadyPortal(config, *account, home);
    for (const std::string& p : opened.passedOver) list.warn("portal host", p + " (passed over)");
    portalConnection = std::move(opened.connection);
    planned = std::move(opened.planned);
    hostName = opened.host.name();
  } catch (const AgentError& e) {
    list.fail("portal connection",
              e.text() + "; check server, port, user and password in section [" + univCode +
                  "] of " + kRemoteAccountsFileName + " and that the portal's server is reachable");
    return;
  }
  Connection& remote = *portalConnection;
  try {
    list.ok("portal connection",
            "opened to " + hostName + ", " + describeOpenLink(remote, planned.link));
  } catch (const AgentError& e) {
    list.fail("portal connection", "the link's TLS status: " + e.text());
    return;
  }

  try {
    std::string v = toLowerAscii(queryFirstText(remote, "select @@global.local_infile"));
    if (v == "1" || v == "on")
      list.ok("portal file loads", "local_infile is on");
    else
      list.fail("portal file loads",
                "the portal's server refuses LOAD DATA LOCAL INFILE (local_infile = " + v +
                    "); set local_infile=ON in its configuration");
  } catch (const AgentError& e) {
    list.fail("portal file loads", "select @@global.local_infile: " + e.text());
  }

  // Every column of every table of the portal's database, and the
  // character set its server reads load files in.
  std::map<std::string, std::set<std::string>> columns;
  std::string charset;
  try {
    auto rs = remote.query(
        "select table_name as t, column_name as c from information_schema.columns "
        "where table_schema = database()");
    for (; !rs->eof(); rs->moveNext())
      columns[displayText(rs->field("t"))].insert(toLowerAscii(displayText(rs->field("c"))));
    charset = portalFileCharset(remote);
  } catch (const AgentError& e) {
    list.fail("portal tables", "information_schema: " + e.text());
    return;
  }

  for (const RemoteColumns& need : remoteColumnsWritten()) {
    if (!stageApplies(Stage{"", nullptr, need.gate}, univCode)) continue;
    const std::string subject = "portal table " + need.table;
    auto table = columns.find(need.table);
    if (table == columns.end()) {
      list.fail(subject, "missing; create it (schema/remote.sql)");
      continue;
    }
    std::string absent;
    for (const std::string& c : need.columns) {
      if (!table->second.count(c)) absent += (absent.empty() ? "" : ", ") + c;
    }
    if (!absent.empty()) {
      list.fail(subject, "lacks column(s) " + absent + "; add them (schema/remote.sql)");
      continue;
    }
    list.ok(subject, fmt::format("{} column(s) the cycle writes", need.columns.size()));
  }
  // The server converts from the files' character set to each table's own,
  // so only the database's character set must match the files.
  const std::optional<CodePage> portal = codePageForCharset(charset);
  if (!config.exportCodePage && !portal) {
    list.fail("code page", "the portal's server reads load files in \"" + charset +
                               "\", which the export cannot write; convert the portal's "
                               "database to latin1 or utf8mb4 or set platform.ini [export] "
                               "code_page");
  } else if (config.exportCodePage && portal != config.exportCodePage) {
    list.fail("code page", std::string("the export writes ") +
                               codePageName(*config.exportCodePage) +
                               " (platform.ini [export] code_page) but the portal's server reads "
                               "load files in \"" +
                               charset + "\"; set code_page = auto");
  } else {
    list.ok("code page",
            fmt::format("{}, the character set {} the portal's server reads load files in",
                        codePageName(config.exportCodePage.value_or(*portal)), charset));
  }
}

}  // namespace

RemoteColumns columnsOfUpdate(std::string_view statement) {
  RemoteColumns out;
  const std::string text = toLowerAscii(statement);
  if (text.rfind("update ", 0) != 0) return out;
  std::size_t set = findOutside(text, " set ");
  if (set == std::string::npos) return out;
  // The first table named is the one written ("update t x1, tmpt x2 set").
  std::string tables = trimmed(std::string_view(text).substr(7, set - 7));
  out.table = trimmed(splitOutside(tables, ',').front());
  out.table = out.table.substr(0, out.table.find(' '));
  std::size_t where = findOutside(text, " where ", set);
  std::string_view assignments = std::string_view(text).substr(
      set + 5, where == std::string::npos ? std::string::npos : where - set - 5);
  for (const std::string& a : splitOutside(assignments, ','))
    out.columns.push_back(assignedColumn(a));
  if (where != std::string::npos) {
    std::string condition = text.substr(where + 7);
    std::size_t from = 0;
    while (true) {
      std::size_t next = findOutside(condition, " and ", from);
      std::string part =
          condition.substr(from, next == std::string::npos ? std::string::npos : next - from);
      if (part.find('=') != std::string::npos) {
        std::string column = assignedColumn(part);
        if (std::find(out.columns.begin(), out.columns.end(), column) == out.columns.end())
          out.columns.push_back(column);
      }
      if (next == std::string::npos) break;
      from = next + 5;
    }
  }
  return out;
}

std::vector<RemoteColumns> remoteColumnsWritten() {
  std::vector<RemoteColumns> all;
  addColumns(all, columnsOfUpdate(startStampStatement("")));
  addColumns(all, columnsOfUpdate(endStampStatement("")));
  for (const MirrorDescription* description : allMirrorDescriptions()) {
    RemoteColumns table{description->tableName, {}, StageGate::Always};
    for (const MirrorColumn& c : description->columns)
      table.columns.push_back(toLowerAscii(c.name));
    addColumns(all, std::move(table));
  }
  RemoteColumns mark = columnsOfUpdate(markTakenStatement("", ""));
  mark.gate = StageGate::PostingUnlessDownload;
  addColumns(all, std::move(mark));
  return all;
}

std::vector<CheckLine> checkConfiguration(const std::filesystem::path& home) {
  Checklist list;
  std::error_code ec;
  if (!std::filesystem::is_directory(home, ec)) {
    list.fail("program folder", home.string() + " is not a folder; give --home the program folder");
    return list.take();
  }
  list.ok("program folder", home.string());

  PlatformConfig config;
  try {
    config = PlatformConfig::load(home);
    list.ok("platform.ini", std::filesystem::exists(home / "platform.ini", ec)
                                ? "read"
                                : "absent; every key has its default");
  } catch (const AgentError& e) {
    list.fail("platform.ini", e.description());
    return list.take();
  }
  checkRegional(list, config.regional);
  checkWritableFolder(list, "export folder", home / "CSV", "the agent's start-up");
  checkWritableFolder(list, "log folder", config.logFolder, "the agent's start-up");
  checkPrivacy(list, home);

  std::optional<std::string> univCode = checkLocal(list, home, config);
  if (!univCode) {
    list.fail("portal", "not checked: the institution code comes from the local database");
    return list.take();
  }
  checkRemote(list, home, config, *univCode);
  return list.take();
}

int printCheck(const std::vector<CheckLine>& lines, std::ostream& out) {
  std::size_t failed = 0;
  for (const CheckLine& line : lines) {
    const char* mark = line.result == Result::Ok        ? "OK      "
                       : line.result == Result::Warning ? "WARNING "
                                                        : "FAILED  ";
    if (line.result == Result::Failed) ++failed;
    out << mark << line.subject << ": " << line.detail << "\n";
  }
  if (failed == 0) {
    out << "A cycle could run.\n";
    return 0;
  }
  out << failed << (failed == 1 ? " check" : " checks") << " failed: a cycle would not run.\n";
  return 1;
}

}  // namespace agent
