// The whole program on a MariaDB server of the test's own, frozen (SIGSTOP)
// before the connect and mid-statement (it must end within its time-outs)
// and killed mid-load (the next cycle must equal a fresh load).
#include <signal.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <thread>

#include "app/core/exit_status.h"
#include "base/code_page.h"
#include "config/local_settings.h"
#include "db/odbc_connection.h"
#include "payments/sql_literal.h"
#include "tests/support/agent_process.h"
#include "tests/support/local_database.h"
#include "tests/support/private_server.h"
#include "tests/support/program_folder.h"
#include "tests/support/temp_dir.h"

namespace agent {
namespace {

using namespace std::chrono_literals;
using testing::AgentProcess;
using Seconds = std::chrono::duration<double>;

constexpr int kTimeout = 3;  // connect, read and write time-out of these tests, in seconds

// The tables every cycle mirrors (smslog's rows are sent once, then marked).
constexpr const char* kMirrored[] = {"college",  "degree",       "subject",  "mascat",  "mashead",
                                     "masroute", "student",      "masuser",  "result",  "studsub",
                                     "studfee",  "rechead",      "recdetl",  "recmode", "masemp",
                                     "hosthead", "hostroomtype", "hostrooms"};

class ServerFaultTest : public ::testing::Test {
 protected:
  ServerFaultTest() : local_("fault"), home_("fault-home") {
    const std::string t = std::to_string(kTimeout);
    testing::writeFile(home_ / "platform.ini",
                       "[drivers]\nSQL Server = embedded\nMySQL ODBC 3.51 Driver = odbc:MySQL ODBC "
                       "3.51 Driver\n[remote]\nconnect_timeout = " +
                           t + "\nread_timeout = " + t + "\nwrite_timeout = " + t + "\n");
    testing::writeFile(home_ / kSettingsFileName,
                       testing::settingsFileText(local_.serverFolder().string(), local_.name(),
                                                 testing::LocalTestDatabase::kSaPassword));
    useDatabase("agent_fault");
  }

  // Points the program folder at database (made with the remote schema).
  void useDatabase(const std::string& database) {
    auto root = openOdbcConnection(server_.server().connectionString(""), "", "");
    root->execute("create database if not exists " + database);
    root->setDefaultDatabase(database);
    testing::runMySqlScript(
        *root, testing::readFile(std::string(AGENT_SOURCE_DIR) + "/schema/remote.sql"));
    testing::writeFile(home_ / "remote-accounts.ini", server_.accountSection("P001", database));
  }

  // Demo rows for the institution P001 in the local database.
  void demoData(int students) {
    const std::string command =
        std::string(AGENT_BINARY_DIR) + "/bin/demo-data --home '" + home_.path().string() +
        "' --connect '" + local_.connectionString() + "' --database " + local_.name() +
        " --institution P001 --students " + std::to_string(students) + " > /dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
  }

  std::string journal() {
    std::error_code ec;
    auto file = home_ / "log" / "agent.log";
    return std::filesystem::exists(file, ec) ? testing::readFile(file) : "";
  }

  // The server's checksum of a table's rows (the same rows in any order give
  // the same sum) and their number.
  static std::string content(Connection& db, const std::string& table) {
    const std::string sum =
        valueText(db.query("checksum table " + table, Cursor::Forward)->field(1));
    return valueText(db.query("select count(*) from " + table, Cursor::Forward)->field(0)) +
           " rows, checksum " + sum;
  }

  testing::PrivateServer server_;
  testing::LocalTestDatabase local_;
  testing::TempDir home_;
};

// Frozen before the connect and while the statements run, the cycle ends
// early within the time-outs; killed mid-load, the server's next cycle
// leaves the portal as a fresh load of the same rows does.
TEST_F(ServerFaultTest, FrozenAndKilledServersEndTheCycleAndTheNextRepairsThePortal) {
  demoData(1000);
  // Runs a cycle and, once its journal lines hold after (at once when
  // empty), does fault; the cycle must end early within limit, its lines
  // holding expected.
  auto faultyRun = [this](const std::string& after, const std::function<void()>& fault,
                          const std::string& expected, double limit, const char* figure) {
    const std::size_t from = journal().size();
    if (after.empty()) fault();
    AgentProcess agent(home_.path(), {"--once"});
    const auto deadline = std::chrono::steady_clock::now() + 120s;
    while (!after.empty() && journal().find(after, from) == std::string::npos &&
           std::chrono::steady_clock::now() < deadline && !agent.wait(0ms)) {
      std::this_thread::sleep_for(5ms);
    }
    if (!after.empty()) {
      ASSERT_FALSE(agent.wait(0ms)) << "the cycle ended before the fault: " << journal();
      fault();
    }
    const auto started = std::chrono::steady_clock::now();
    std::optional<int> status = agent.wait(60s);
    const Seconds took = std::chrono::steady_clock::now() - started;
    std::printf("[ figure ] %s: ended after %.1f s\n", figure, took.count());
    ASSERT_TRUE(status) << agent.output();
    EXPECT_EQ(*status, exit_status::kCycleEndedEarly) << agent.output();
    EXPECT_LT(took.count(), limit) << journal();
    EXPECT_NE(journal().find(expected, from), std::string::npos) << journal();
  };
  const auto freeze = [this] { server_.freeze(); };
  faultyRun("", freeze, "remote connection to 127.0.0.1 database agent_fault failed",
            4.0 * kTimeout + 5, "frozen before connect");
  server_.resume();
  // Once a stage has ended: the line names the next stage and its statement.
  faultyRun("stage college", freeze, ", remote statement \"", 4.0 * kTimeout + 5,
            "frozen mid-cycle");
  server_.resume();
  faultyRun(
      "stage masroute", [this] { server_.kill(); }, "cycle summary: ended early", 60,
      "server killed mid-load");
  server_.restart();

  AgentProcess repair(home_.path(), {"--once"});
  ASSERT_EQ(repair.wait(300s), exit_status::kSuccess) << repair.output() << journal();
  // A fresh load of the same local data into an empty database.
  useDatabase("agent_fresh");
  AgentProcess fresh(home_.path(), {"--once"});
  ASSERT_EQ(fresh.wait(300s), exit_status::kSuccess) << fresh.output() << journal();
  auto repaired = openOdbcConnection(server_.server().connectionString("agent_fault"), "", "");
  auto loaded = openOdbcConnection(server_.server().connectionString("agent_fresh"), "", "");
  for (const char* table : kMirrored) {
    EXPECT_EQ(content(*repaired, table), content(*loaded, table)) << table;
  }
  EXPECT_NE(content(*loaded, "student").rfind("0 rows", 0), 0u) << "the fresh load is empty";
}

}  // namespace
}  // namespace agent
