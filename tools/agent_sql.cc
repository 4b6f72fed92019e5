// agent-sql: a small SQL shell over the agent's own connections, with
// sqlcmd's conventions. It is how the demo, the tests and an administrator
// create and inspect a local database (the embedded engine, or any ODBC
// driver that platform.ini maps a driver name to).
//
//   agent-sql -S <server folder or server> -U <user> -P <password>
//             [-d <database>] (-Q "<statement>" | -i <file.sql>...)
//   agent-sql --connect "<connection string>" [-d <database>] (-Q ... | -i ...)
//
// With -S the connection string is "Driver={SQL Server};Server=<S>;Uid=<U>;
// Pwd=<P>;", so platform.ini's driver map decides where it leads. A script
// (and the text of -Q) is cut into batches at lines holding only GO (any case). A batch that
// returns rows prints them pipe-separated under a header line; other
// batches print nothing. The first failing batch prints its error number
// and text to standard error and ends the program with status 1.
#include <fmt/format.h>
#include <CLI/CLI.hpp>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "base/arguments.h"
#include "base/file_names.h"
#include "base/process_hardening.h"
#include "base/text.h"
#include "config/platform_config.h"
#include "config/program_folder.h"
#include "db/drivers/driver_connection.h"
#include "db/error.h"
#include "db/script_batches.h"

namespace agent {
namespace {

struct Options {
  std::string server;
  std::string user;
  std::string password;
  std::string database;
  std::string connect;
  std::string statement;
  std::vector<std::string> inputFiles;
  std::string home;
};

void printRows(Recordset& rows, std::ostream& out) {
  const std::size_t columns = rows.fieldCount();
  if (columns == 0) return;
  for (std::size_t i = 0; i < columns; ++i) out << (i ? "|" : "") << rows.fieldName(i);
  out << '\n';
  for (; !rows.eof(); rows.moveNext()) {
    for (std::size_t i = 0; i < columns; ++i) out << (i ? "|" : "") << displayText(rows.field(i));
    out << '\n';
  }
}

std::string readScript(const std::string& path) {
  std::ifstream in(pathFromText(path), std::ios::binary);
  if (!in) throw AgentError(error_number::kFileError, "Cannot read the script file " + path + ".");
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A -S value that names an existing folder is made absolute, so that it is
// read from the current folder rather than the program folder.
std::string serverValue(const std::string& server) {
  std::error_code ec;
  std::filesystem::path folder = pathFromText(server);
  if (std::filesystem::is_directory(folder, ec)) {
    return pathText(std::filesystem::absolute(folder).lexically_normal());
  }
  return server;
}

void reportError(const AgentError& e) {
  std::cerr << "agent-sql: error " << e.number() << ": " << e.description();
  if (const auto* db = dynamic_cast<const DbError*>(&e)) {
    std::cerr << " (SQLSTATE " << db->sqlstate() << ", native " << db->nativeCode() << ")";
  }
  std::cerr << '\n';
}

int run(const Options& options, const char* argv0) {
  PlatformConfig config = PlatformConfig::load(programFolder(options.home, argv0));
  std::vector<std::string> batches;
  for (std::string& batch : splitBatches(options.statement)) batches.push_back(std::move(batch));
  for (const std::string& file : options.inputFiles) {
    for (std::string& batch : splitBatches(readScript(file))) batches.push_back(std::move(batch));
  }

  DriverConnection connection(config.drivers);
  if (!options.connect.empty()) {
    connection.open(options.connect, options.user, options.password);
  } else {
    connection.open("Driver={SQL Server};Server=" + serverValue(options.server) +
                    ";Uid=" + options.user + ";Pwd=" + options.password + ";");
  }
  if (!options.database.empty()) connection.setDefaultDatabase(options.database);

  for (const std::string& batch : batches) {
    auto rows = connection.query(batch, Cursor::Forward);
    printRows(*rows, std::cout);
  }
  std::cout.flush();
  return 0;
}

// The password from the first line of file, from standard input for "-",
// or from SQLCMDPASSWORD (as sqlcmd reads it) when no -P was given; false
// (said on standard error) when none can be read.
bool readPassword(const std::string& file, std::string* password) {
  std::string line;
  if (!file.empty()) {
    std::ifstream in(pathFromText(file), std::ios::binary);
    if (!std::getline(in, line)) {
      std::cerr << "agent-sql: cannot read a password from " << file << "\n";
      return false;
    }
  } else if (*password == "-") {
    if (!std::getline(std::cin, line)) {
      std::cerr << "agent-sql: no password on standard input\n";
      return false;
    }
  } else if (password->empty()) {
    if (const char* env = std::getenv("SQLCMDPASSWORD")) *password = env;
    return true;
  } else {
    return true;
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  *password = line;
  return true;
}

}  // namespace
}  // namespace agent

int main(int rawArgc, char** rawArgv) {
  agent::hardenProcess();
  agent::Utf8Arguments arguments(rawArgc, rawArgv);
  int argc = arguments.argc();
  char** argv = arguments.argv();
  agent::Options options;
  CLI::App app{"agent-sql: run SQL on the upload agent's local or remote connections"};
  app.add_option("-S,--server", options.server, "server folder (embedded engine) or server name");
  app.add_option("-U,--user", options.user, "login name");
  app.add_option("-P,--password", options.password,
                 "password (seen by other users in the process list; prefer "
                 "--password-file, SQLCMDPASSWORD, or -P - to read it from standard input)");
  std::string passwordFile;
  app.add_option("--password-file", passwordFile, "read the password from the file's first line")
      ->check(CLI::ExistingFile);
  app.add_option("-d,--database", options.database, "default database");
  app.add_option("-Q,--query", options.statement, "one statement (batch) to run");
  app.add_option("-i,--input", options.inputFiles, "script files, batches separated by GO lines")
      ->check(CLI::ExistingFile);
  app.add_option("--connect", options.connect, "a full connection string instead of -S/-U/-P");
  app.add_option("--home", options.home,
                 "program folder holding platform.ini (default: UPLOAD_AGENT_HOME, else the "
                 "folder of this program)");
  CLI11_PARSE(app, argc, argv);
  if (options.server.empty() == options.connect.empty()) {
    std::cerr << "agent-sql: give either -S or --connect\n";
    return 2;
  }
  if (options.statement.empty() && options.inputFiles.empty()) {
    std::cerr << "agent-sql: give -Q or -i\n";
    return 2;
  }
  if (!agent::readPassword(passwordFile, &options.password)) return 2;
  try {
    return agent::run(options, argv[0]);
  } catch (const agent::AgentError& e) {
    agent::reportError(e);
  } catch (const std::exception& e) {
    std::cerr << "agent-sql: " << e.what() << '\n';
  }
  return 1;
}
