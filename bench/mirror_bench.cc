// Mirrors one large studsub table through MirrorTable and, side by side in
// the same run, feeds the same remote statements (staging load, merge
// update, insert load) from the same export file to the mariadb command-line
// client. Reports both times, their ratio and the agent's peak memory.
//
//   scripts/test-env.sh build/bin/mirror_bench [--rows N ...] [--mode M ...]
//
// Modes (odbc when none is given), each measured on a fresh remote table:
//   odbc        the ODBC driver: the export file, then the statements
//   sequential  the native driver, in the same order
//   streamed    the native driver as the cycle runs it (MirrorTable::run):
//               the staging load reads the file while it is written
//
// Runs against the throwaway MariaDB server of scripts/test-env.sh. The
// local side is the embedded engine, filled before the measurement; the
// mirror runs in a child process of its own so that its peak resident size
// is the agent's alone. The remote table holds half of the rows beforehand,
// so the merge updates half and the insert load adds half.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "config/platform_config.h"
#include "cycle/cycle_context.h"
#include "cycle/message_sink.h"
#include "db/drivers/driver_connection.h"
#include "db/embedded/embedded_engine.h"
#include "db/mariadb_connection.h"
#include "db/odbc_connection.h"
#include "tests/support/doubles.h"
#include "upload/mirror_description.h"
#include "upload/mirror_table.h"

namespace agent {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr const char* kSaPassword = "Bench-1";
constexpr const char* kLocalDatabase = "bench";
constexpr int kSubjects = 25;

std::string env(const char* name) {
  const char* value = std::getenv(name);
  if (!value || !*value) {
    std::fprintf(stderr, "%s is not set: run under scripts/test-env.sh\n", name);
    std::exit(2);
  }
  return value;
}

struct Server {
  std::string host = env("AGENT_TEST_MARIADB_HOST");
  std::string port = env("AGENT_TEST_MARIADB_PORT");
  std::string user = env("AGENT_TEST_MARIADB_USER");
  std::string password = env("AGENT_TEST_MARIADB_PASSWORD");

  std::string connectionString(const std::string& database) const {
    return "DRIVER={MySQL ODBC 3.51 Driver};SERVER=" + host + ";DATABASE=" + database +
           ";UID=" + user + ";PWD=" + password + "; OPTION=3;PORT=" + port;
  }
};

double seconds(Clock::time_point from) {
  return std::chrono::duration<double>(Clock::now() - from).count();
}

std::string pad(long value, int width) {
  std::string s = std::to_string(value);
  return std::string(width > static_cast<int>(s.size()) ? width - s.size() : 0, '0') + s;
}

// The studsub row i, keyed (C1, BSC, 1, S<i % 25>, A<i / 25>).
std::string localRow(long i) {
  std::string remarks = i % 7 == 0 ? "NULL" : "'remark " + std::to_string(i % 1000) + "'";
  return "('C1', 'BSC', '1', 'S" + pad(i % kSubjects, 2) + "', 'A" + pad(i / kSubjects, 7) +
         "', 'P', 'MAR2024', " + std::to_string(i % 100) + ".50, " + remarks + ")";
}

void fillLocal(const fs::path& serverFolder, long rows) {
  createEmbeddedServer(serverFolder, kSaPassword);
  DriverMap drivers(serverFolder.parent_path());
  drivers.add("SQL Server", DriverTarget{DriverTarget::Kind::Embedded, ""});
  DriverConnection local(drivers);
  local.open("Driver={SQL Server};Server=" + serverFolder.string(), "sa", kSaPassword);
  local.execute(std::string("CREATE DATABASE ") + kLocalDatabase);
  local.setDefaultDatabase(kLocalDatabase);
  local.execute(
      "create table studsub (fcollcode varchar(10) not null, fdegree varchar(10) not null, "
      "fexamno varchar(10) not null, fsubcode varchar(20) not null, fadmno varchar(20) not null, "
      "fpass varchar(10) null, fpassmth varchar(20) null, fmarks numeric(6,2) null, fremarks "
      "varchar(100) null, primary key (fcollcode, fdegree, fexamno, fsubcode, fadmno))");
  local.execute("BEGIN TRANSACTION");
  const long kBatch = 1000;
  for (long first = 0; first < rows; first += kBatch) {
    std::string sql =
        "insert into studsub (fcollcode, fdegree, fexamno, fsubcode, fadmno, fpass, fpassmth, "
        "fmarks, fremarks) values ";
    for (long i = first; i < std::min(rows, first + kBatch); ++i) {
      if (i > first) sql += ", ";
      sql += localRow(i);
    }
    local.execute(sql);
  }
  local.execute("COMMIT");
}

// The remote studsub as the mirror finds it: the first half of the rows,
// with old values.
void resetRemote(Connection& remote, long rows) {
  remote.execute("drop table if exists studsub");
  remote.execute("drop table if exists tmpstudsub");
  remote.execute(
      "CREATE TABLE studsub (fcollcode VARCHAR(10) NOT NULL, fdegree VARCHAR(10) NOT NULL, "
      "fexamno VARCHAR(10) NOT NULL, fsubcode VARCHAR(20) NOT NULL, fadmno VARCHAR(20) NOT NULL, "
      "fpass VARCHAR(10) NULL, fpassmth VARCHAR(20) NULL, fmarks VARCHAR(10) NULL, fremarks "
      "VARCHAR(100) NULL, fdeleted CHAR(1) NULL, PRIMARY KEY (fcollcode, fdegree, fexamno, "
      "fsubcode, fadmno)) DEFAULT CHARSET latin1");
  if (rows / 2 > 0) {
    remote.execute(
        "insert into studsub select 'C1', 'BSC', '1', concat('S', lpad(seq % 25, 2, '0')), "
        "concat('A', lpad(seq div 25, 7, '0')), 'F', '', '0', 'old', 'T' from seq_0_to_" +
        std::to_string(rows / 2 - 1));
  }
}

struct MirrorFigures {
  double seconds = 0;
  double remoteSeconds = 0;
  long rows = 0;
  long peakKiB = 0;
};

// The child: one MirrorTable run; prints "<rows> <seconds> <remote seconds>"
// (remote seconds 0 when streamed: the parts overlap).
int runMirrorChild(const fs::path& home, const std::string& database, const std::string& mode) {
  Server server;
  PlatformConfig config;
  config.drivers = DriverMap(home);
  config.drivers.add("SQL Server", DriverTarget{DriverTarget::Kind::Embedded, ""});
  DriverConnection local(config.drivers);
  local.open("Driver={SQL Server};Server=" + (home / "server").string(), "sa", kSaPassword);
  local.setDefaultDatabase(kLocalDatabase);
  std::unique_ptr<Connection> remote;
  if (mode == "odbc") {
    remote = openOdbcConnection(server.connectionString(database), "", "");
  } else {
    remote = MariaDbConnection::open(server.connectionString(database));
  }
  testing::RecordedMessages messages;
  Journal journal;
  SystemClock clock;
  CycleContext ctx{local, *remote, home, config, "P028", messages, journal, clock};

  const MirrorDescription& description = findMirrorDescription(resultDescriptions(), "studsub");
  MirrorTable table(ctx, description);
  auto start = Clock::now();
  if (mode == "streamed") {
    std::size_t rows = table.run();
    std::printf("%zu %.3f 0\n", rows, seconds(start));
    return 0;
  }
  std::size_t rows;
  {
    auto source = table.openSource();
    rows = hasNoRows(*source) ? 0 : MirrorTable::exportRows(*source, {&table});
  }
  auto remoteStart = Clock::now();
  table.sendRemote(table.plan().fullStatements());
  std::printf("%zu %.3f %.3f\n", rows, seconds(start), seconds(remoteStart));
  return 0;
}

MirrorFigures mirrorInChild(const fs::path& home, const std::string& database,
                            const std::string& mode) {
  int pipeFds[2];
  if (pipe(pipeFds) != 0) throw std::runtime_error("pipe failed");
  pid_t pid = fork();
  if (pid == 0) {
    dup2(pipeFds[1], STDOUT_FILENO);
    close(pipeFds[0]);
    execl("/proc/self/exe", "mirror_bench", "--mirror-child", home.c_str(), database.c_str(),
          mode.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(pipeFds[1]);
  std::string output;
  char buf[256];
  ssize_t n;
  while ((n = read(pipeFds[0], buf, sizeof buf)) > 0) output.append(buf, n);
  close(pipeFds[0]);
  int status = 0;
  struct rusage usage {};
  wait4(pid, &status, 0, &usage);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
    throw std::runtime_error("the mirror child failed: " + output);
  MirrorFigures figures;
  std::istringstream in(output);
  in >> figures.rows >> figures.seconds >> figures.remoteSeconds;
  figures.peakKiB = usage.ru_maxrss;
  return figures;
}

// The same statements through the command-line client, from the same file.
double clientSeconds(const std::vector<std::string>& statements, const std::string& database,
                     const fs::path& scriptFile) {
  Server server;
  {
    std::ofstream script(scriptFile);
    for (const std::string& sql : statements) script << sql << ";\n";
  }
  std::string command = "MYSQL_PWD='" + server.password +
                        "' mariadb --no-defaults --local-infile=1 --protocol=tcp -h " +
                        server.host + " -P " + server.port + " -u " + server.user + " " + database +
                        " < '" + scriptFile.string() + "'";
  auto start = Clock::now();
  if (std::system(command.c_str()) != 0) throw std::runtime_error("mariadb client failed");
  return seconds(start);
}

void benchRows(long rows, const std::vector<std::string>& modes) {
  Server server;
  fs::path home = fs::temp_directory_path() /
                  ("mirror-bench-" + std::to_string(getpid()) + "-" + std::to_string(rows));
  fs::remove_all(home);
  fs::create_directories(home / "CSV");
  std::string database = "mirror_bench_" + std::to_string(getpid());

  auto fillStart = Clock::now();
  fillLocal(home / "server", rows);
  std::printf("rows %ld: local table filled in %.1f s\n", rows, seconds(fillStart));

  auto admin = openOdbcConnection(server.connectionString(""), "", "");
  admin->execute("create database " + database);
  auto remote = openOdbcConnection(server.connectionString(database), "", "");

  for (const std::string& mode : modes) {
    resetRemote(*remote, rows);
    MirrorFigures agent = mirrorInChild(home, database, mode);

    // The statements MirrorTable sent, for the client.
    PlatformConfig config;
    testing::RecordedMessages messages;
    Journal journal;
    SystemClock clock;
    CycleContext ctx{*remote, *remote, home, config, "P028", messages, journal, clock};
    MirrorTable table(ctx, findMirrorDescription(resultDescriptions(), "studsub"));
    resetRemote(*remote, rows);
    double client =
        clientSeconds(statementsOf(table.plan().fullStatements()), database, home / "client.sql");

    std::printf("rows %ld, %s: agent %.2f s", agent.rows, mode.c_str(), agent.seconds);
    if (mode != "streamed") {
      std::printf(" (export %.2f s, remote %.2f s)", agent.seconds - agent.remoteSeconds,
                  agent.remoteSeconds);
    }
    std::printf(", client %.2f s; ratio %.2f; agent peak memory %.1f MiB\n", client,
                agent.seconds / client, agent.peakKiB / 1024.0);
    std::fflush(stdout);
  }
  admin->execute("drop database " + database);
  fs::remove_all(home);
}

}  // namespace
}  // namespace agent

int main(int argc, char** argv) {
  try {
    if (argc == 5 && std::string(argv[1]) == "--mirror-child") {
      return agent::runMirrorChild(argv[2], argv[3], argv[4]);
    }
    std::vector<long> sizes;
    std::vector<std::string> modes;
    for (int i = 1; i + 1 < argc; i += 2) {
      if (std::string(argv[i]) == "--rows") sizes.push_back(std::atol(argv[i + 1]));
      if (std::string(argv[i]) == "--mode") modes.push_back(argv[i + 1]);
    }
    if (sizes.empty()) sizes = {100000, 1000000};
    if (modes.empty()) modes = {"odbc"};
    for (long rows : sizes) agent::benchRows(rows, modes);
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "mirror_bench: %s\n", e.what());
    return 1;
  }
}
