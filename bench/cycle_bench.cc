// Whole upload cycles of the real agent (build/bin/upload-agent --once) on a
// large university (demo-data --profile university), each side by side with
// the server floor: the same remote statements, taken from the server's
// general log of the agent's session, fed from the same export files to the
// mariadb command-line client against a twin portal database. Cycles:
//
//   first      change detection on, no state yet: every table in full
//   full       change detection off, nothing changed: the ordinary cycle
//   unchanged  change detection on, nothing changed
//   1% changed change detection on, after 1% of the marks, fee rows,
//              students and receipts changed
//
// For each: seconds, the ratio to the floor, the agent's peak resident
// memory, and the rows the server read and wrote (handler counters of SHOW
// GLOBAL STATUS around the run). Every run starts once the server has
// purged what the run before left behind.
//
//   scripts/test-env.sh build/bin/cycle_bench [--students N] [--work DIR]
//
// --students defaults to 50,000 (1,000,000 studsub rows); --work keeps the
// generated local database in DIR for the next run (same N). With
// CYCLE_BENCH_PERF=<prefix> each agent cycle runs under perf record, its
// profile in <prefix>-<pid>.data (perf report -i ...). CYCLE_BENCH_TLS=off
// has the agent reach the server without TLS (bench/cluster-bench.sh).
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::string env(const char* name) {
  const char* v = std::getenv(name);
  if (!v) {
    std::fprintf(stderr, "cycle_bench: %s is not set; run it through scripts/test-env.sh\n", name);
    std::exit(2);
  }
  return v;
}

fs::path g_root;  // the repository (for scripts/ and schema/)
fs::path g_bin;   // the folder of the binaries
std::string g_client;

void run(const std::string& command) {
  if (std::system(command.c_str()) != 0) {
    std::fprintf(stderr, "cycle_bench: failed: %s\n", command.c_str());
    std::exit(1);
  }
}

std::string capture(const std::string& command) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  char buf[4096];
  while (p && fgets(buf, sizeof buf, p)) out += buf;
  if (p) pclose(p);
  return out;
}

// Rows read and rows written by the server since it started.
struct Handlers {
  long long read = 0;
  long long written = 0;
};

Handlers handlers() {
  std::istringstream in(capture(g_client + " -N -e \"show global status like 'Handler%'\""));
  Handlers h;
  std::string name;
  long long value;
  while (in >> name >> value) {
    if (name.rfind("Handler_read_", 0) == 0) h.read += value;
    if (name == "Handler_write" || name == "Handler_update" || name == "Handler_delete") {
      h.written += value;
    }
  }
  return h;
}

struct Measure {
  double seconds = 0;
  double cpuSeconds = 0;  // the agent's own processor time, user and system
  long peakKiB = 0;
  Handlers rows;
};

Measure agentCycle(const fs::path& home) {
  Handlers before = handlers();
  auto start = Clock::now();
  pid_t pid = fork();
  if (pid == 0) {
    std::string agent = (g_bin / "upload-agent").string();
    std::string homeArg = home.string();
    if (const char* perf = std::getenv("CYCLE_BENCH_PERF")) {
      std::string out = std::string(perf) + "-" + std::to_string(getpid()) + ".data";
      execlp("perf", "perf", "record", "-F", "499", "-g", "-o", out.c_str(), agent.c_str(),
             "--home", homeArg.c_str(), "--once", static_cast<char*>(nullptr));
      _exit(127);
    }
    execl(agent.c_str(), agent.c_str(), "--home", homeArg.c_str(), "--once",
          static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  Measure m;
  m.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  m.peakKiB = usage.ru_maxrss;
  auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
  m.cpuSeconds = seconds(usage.ru_utime) + seconds(usage.ru_stime);
  Handlers after = handlers();
  m.rows = {after.read - before.read, after.written - before.written};
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "cycle_bench: the cycle did not stamp its end; see %s/log\n",
                 home.c_str());
    std::exit(1);
  }
  return m;
}

// The statements of the agent's session from the general log that change
// the portal (loads, merges, staging tables, the SQL mode).
std::vector<std::string> agentStatements(const fs::path& log) {
  std::ifstream in(log);
  std::string line;
  std::map<std::string, std::vector<std::string>> byThread;
  std::string stampThread;
  while (std::getline(in, line)) {
    // "<time>\t    <id> Query\t<statement>" or "\t\t    <id> Query\t<statement>"
    std::size_t query = line.find(" Query\t");
    if (query == std::string::npos) continue;
    std::size_t idEnd = query;
    std::size_t idStart = line.find_last_of(" \t", idEnd - 1) + 1;
    std::string thread = line.substr(idStart, idEnd - idStart);
    std::string sql = line.substr(query + 7);
    byThread[thread].push_back(sql);
    if (sql.rfind("update control set flastupdstarttime", 0) == 0) stampThread = thread;
  }
  std::vector<std::string> kept;
  for (const std::string& sql : byThread[stampThread]) {
    std::string head = sql.substr(0, 12);
    for (char& c : head) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const char* verb :
         {"drop ", "create ", "load data", "update ", "delete ", "insert ", "set sql_mode"}) {
      if (head.rfind(verb, 0) == 0) {
        kept.push_back(sql);
        break;
      }
    }
  }
  return kept;
}

// Waits until the server has purged the old row versions of the work
// before (a full merge leaves millions), so that a run does not pay for the
// run before it on the same cores.
void waitForQuietServer() {
  run(g_client + " -e 'set global innodb_max_purge_lag_wait = 0'");
}

Measure floorRun(const std::vector<std::string>& statements, const fs::path& file,
                 const std::string& database) {
  {
    std::ofstream out(file);
    for (const std::string& sql : statements) out << sql << ";\n";
  }
  waitForQuietServer();
  Handlers before = handlers();
  auto start = Clock::now();
  run(g_client + " --local-infile=1 " + database + " < " + file.string());
  Measure m;
  m.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  Handlers after = handlers();
  m.rows = {after.read - before.read, after.written - before.written};
  return m;
}

void setChangesOnly(const fs::path& home, bool on) {
  std::ifstream in(home / "platform.ini");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::size_t at = text.find("[upload]");
  if (at != std::string::npos) text.erase(at);
  text += std::string("[upload]\nchanges_only = ") + (on ? "yes" : "no") + "\n";
  std::ofstream(home / "platform.ini", std::ios::trunc) << text;
}

}  // namespace

// The program folder, the portal database (portalArgs: demo_prepare's host,
// port, user, password and database) and a local database of the profile,
// kept between runs in work.
void prepareProgramFolder(const fs::path& work, const fs::path& home, long students,
                          const std::string& portalArgs) {
  std::string marker = (work / ("students-" + std::to_string(students))).string();
  bool fresh = !fs::exists(marker);
  std::string prepare =
      "cd '" + g_root.string() + "' && source scripts/demo-lib.sh && demo_prepare '" +
      (g_bin.parent_path()).string() + "' '" + home.string() + "' " + portalArgs + " > /dev/null";
  if (fresh) {
    std::printf("preparing a university of %ld students in %s ...\n", students, work.c_str());
    std::fflush(stdout);
    auto start = Clock::now();
    fs::remove_all(home);
    std::string sql = "'" + (g_bin / "agent-sql").string() + "' --home '" + home.string() +
                      "' -S '" + (home / "local-server").string() + "' -U SA -P Demo-Secret-1";
    run("bash -c \"" + prepare + "\"");
    fs::remove(home / "local-server" / "ORBA.sqlite");
    fs::remove(home / "local-server" / "ORBA.sqlite-wal");
    fs::remove(home / "local-server" / "ORBA.sqlite-shm");
    run(sql + " -Q 'CREATE DATABASE ORBA' > /dev/null");
    run(sql + " -d ORBA -i '" + (g_root / "schema/local.sql").string() + "' > /dev/null");
    run("'" + (g_bin / "demo-data").string() + "' --home '" + home.string() +
        "' --connect 'Driver={SQL Server};Server=" + (home / "local-server").string() +
        ";Uid=SA;Pwd=Demo-Secret-1;' --database ORBA --institution P028 --profile university "
        "--students " +
        std::to_string(students) + " > /dev/null");
    std::ofstream(marker) << students << "\n";
    std::printf("  made in %.0f s\n", std::chrono::duration<double>(Clock::now() - start).count());
  } else {
    // Keep the local database, make the portal side afresh.
    fs::rename(home / "local-server", work / "local-server.kept");
    run("bash -c \"" + prepare + "\"");
    fs::remove_all(home / "local-server");
    fs::rename(work / "local-server.kept", home / "local-server");
  }
}

// Changes 1% of each large table of the local database in home.
void changeOnePercent(const fs::path& home) {
  std::string sql = "'" + (g_bin / "agent-sql").string() + "' --home '" + home.string() + "' -S '" +
                    (home / "local-server").string() + "' -U SA -P Demo-Secret-1 -d ORBA";
  // 1% of each large table: marks of two subjects of every tenth student,
  // the fees, contact and receipts of every hundredth.
  run(sql +
      " -Q \"update studsub set fmarks = fmarks + 1 where fadmno like '%0' and fsubcode in "
      "('S01', 'S02')\" > /dev/null");
  run(sql + " -Q \"update FEESTRV set FFEE = FFEE + 10 where FADMNO like '%00'\" > /dev/null");
  // Each run changes them again (the local database is kept between runs):
  // a contact number of this run, receipts cancelled or restored.
  run(sql + " -Q \"update student set fmobile = '" +
      std::to_string(9000000000LL + std::time(nullptr) % 1000000000LL) +
      "' where fadmno like '%00'\" > /dev/null");
  run(sql +
      " -Q \"update RECHEAD set FDELETED = case when FDELETED = 'T' then NULL else 'T' end "
      "where FRECCODE like '%00'\" > /dev/null");
}

// Sets every run up to send the same statements, makes the floor's empty
// portal, and turns the server's general log (log) on.
void prepareRuns(const fs::path& home, const std::string& floorDb, const fs::path& log) {
  // Every run sends the same messages: the SMS log's upload marks of the
  // runs before are cleared (the first cycles send 9,999 a cycle).
  run("'" + (g_bin / "agent-sql").string() + "' --home '" + home.string() + "' -S '" +
      (home / "local-server").string() +
      "' -U SA -P Demo-Secret-1 -d ORBA -Q \"update smslog set fupload = null\" > /dev/null");
  // demo_prepare names the institution P001 (payments booked); the profile
  // is P028, which uses no payment stage.
  run("sed -i 's/^\\[P001\\]/[P028]/' '" + (home / "remote-accounts.ini").string() + "'");
  // A server that serves no TLS (the test cluster's nodes) is reached in
  // plain text, as the floor's client reaches every server.
  if (const char* tls = std::getenv("CYCLE_BENCH_TLS")) {
    run("sed -i 's/^tls = .*/tls = " + std::string(tls) + "/' '" +
        (home / "platform.ini").string() + "'");
  }
  fs::remove(home / "upload-state.sqlite");
  fs::remove_all(home / "CSV");
  fs::create_directories(home / "CSV");
  run(g_client + " -e 'drop database if exists " + floorDb + "; create database " + floorDb + "'");
  run(g_client + " " + floorDb + " < '" + (g_root / "schema/remote.sql").string() + "'");
  run(g_client + " -e \"set global general_log_file = '" + log.string() +
      "', global log_output = 'FILE', global general_log = 1\"");
}

int main(int argc, char** argv) {
  long students = 50000;
  fs::path work;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string a = argv[i];
    if (a == "--students") students = std::atol(argv[i + 1]);
    if (a == "--work") work = fs::absolute(argv[i + 1]);
  }
  g_bin = fs::canonical("/proc/self/exe").parent_path();
  g_root = fs::canonical(g_bin / ".." / "..");
  std::string host = env("AGENT_TEST_MARIADB_HOST"), port = env("AGENT_TEST_MARIADB_PORT"),
              user = env("AGENT_TEST_MARIADB_USER"), password = env("AGENT_TEST_MARIADB_PASSWORD");
  g_client = "mariadb --no-defaults --protocol=tcp -h " + host + " -P " + port + " -u " + user +
             " -p'" + password + "'";
  bool keep = !work.empty();
  if (!keep) work = fs::temp_directory_path() / ("cycle-bench-" + std::to_string(getpid()));
  fs::path home = work / "home";
  fs::create_directories(work);
  const std::string agentDb = "cb_agent", floorDb = "cb_floor";
  const std::string portalArgs = host + " " + port + " " + user + " '" + password + "' " + agentDb;

  prepareProgramFolder(work, home, students, portalArgs);
  fs::path log = work / "general.log";
  prepareRuns(home, floorDb, log);

  struct Row {
    std::string name;
    Measure agent, floor;
  };
  std::vector<Row> rows;
  auto cycle = [&](const std::string& name, bool changesOnly) {
    setChangesOnly(home, changesOnly);
    std::ofstream(log, std::ios::trunc).close();
    run(g_client + " -e 'flush general logs'");
    waitForQuietServer();
    Row r{name, agentCycle(home), {}};
    r.floor = floorRun(agentStatements(log), work / "floor.sql", floorDb);
    std::printf(
        "  %-11s agent %7.2f s  floor %7.2f s  ratio %5.2f  peak %6.1f MiB  server rows "
        "read %10lld written %9lld (floor %10lld / %9lld)  agent cpu %.2f s\n",
        name.c_str(), r.agent.seconds, r.floor.seconds,
        r.floor.seconds > 0 ? r.agent.seconds / r.floor.seconds : 0.0, r.agent.peakKiB / 1024.0,
        r.agent.rows.read, r.agent.rows.written, r.floor.rows.read, r.floor.rows.written,
        r.agent.cpuSeconds);
    std::fflush(stdout);
    rows.push_back(r);
  };

  std::printf("cycles of %ld students:\n", students);
  cycle("first", true);
  cycle("full", false);
  cycle("unchanged", true);
  changeOnePercent(home);
  cycle("1% changed", true);

  run(g_client + " -e 'set global general_log = 0'");
  const Row& full = rows[1];
  auto share = [&](const Row& r) {
    double rowsShare = static_cast<double>(full.agent.rows.read + full.agent.rows.written) /
                       std::max<long long>(1, r.agent.rows.read + r.agent.rows.written);
    std::printf("  %-11s time %.3f of the full cycle, server rows %.1fx fewer\n", r.name.c_str(),
                r.agent.seconds / full.agent.seconds, rowsShare);
  };
  std::printf("against the full cycle:\n");
  share(rows[2]);
  share(rows[3]);
  std::printf("first cycle / floor: %.2f\n", rows[0].agent.seconds / rows[0].floor.seconds);
  if (!keep) fs::remove_all(work);
  return 0;
}
