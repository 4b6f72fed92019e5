// The whole program on a MariaDB server of the test's own, frozen (SIGSTOP)
// before the connect and mid-statement (it must end within its time-outs)
// and killed mid-load (the next cycle must equal a fresh load).
#include <signal.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
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

TEST_F(ServerFaultTest, FrozenServerEndsTheCycleWithinTheTimeOuts) {
  demoData(300);
  // Freezes the server once the journal holds after (at once when empty);
  // the cycle must end early within the time-outs, its line holding expected.
  auto frozenRun = [this](const std::string& after, const std::string& expected,
                          const char* figure) {
    if (after.empty()) server_.freeze();
    AgentProcess agent(home_.path(), {"--once"});
    const auto limit = std::chrono::steady_clock::now() + 60s;
    while (!after.empty() && journal().find(after) == std::string::npos &&
           std::chrono::steady_clock::now() < limit && !agent.wait(0ms)) {
      std::this_thread::sleep_for(5ms);
    }
    if (!after.empty()) server_.freeze();
    const auto started = std::chrono::steady_clock::now();
    std::optional<int> status = agent.wait(60s);
    const Seconds took = std::chrono::steady_clock::now() - started;
    server_.resume();
    ASSERT_TRUE(status) << agent.output();
    EXPECT_EQ(*status, exit_status::kCycleEndedEarly) << agent.output();
    EXPECT_LT(took.count(), 4.0 * kTimeout + 5) << journal();
    EXPECT_NE(journal().find(expected), std::string::npos) << journal();
    std::printf("[ figure ] %s: ended after %.1f s\n", figure, took.count());
  };
  // Frozen before the connect: the connect times out.
  frozenRun("", "remote connection to 127.0.0.1 database agent_fault failed",
            "frozen before connect");
  // Frozen while the cycle's statements run: the statement times out and
  // the line names the stage and the statement.
  frozenRun("remote connection: 127.0.0.1", ", remote statement \"", "frozen mid-cycle");
  // The next cycle starts afresh and completes.
  AgentProcess next(home_.path(), {"--once"});
  EXPECT_EQ(next.wait(120s), exit_status::kSuccess) << next.output() << journal();
}

TEST_F(ServerFaultTest, ServerKilledMidLoadIsRepairedByTheNextCycle) {
  demoData(1000);
  AgentProcess agent(home_.path(), {"--once"});
  // Kill the server once the students' load is under way.
  const auto limit = std::chrono::steady_clock::now() + 120s;
  while (journal().find("stage studsub") == std::string::npos &&
         journal().find("stage masroute") == std::string::npos &&
         std::chrono::steady_clock::now() < limit && !agent.wait(0ms)) {
    std::this_thread::sleep_for(5ms);
  }
  ASSERT_FALSE(agent.wait(0ms)) << "the cycle ended before the kill: " << journal();
  server_.kill();
  const auto killed = std::chrono::steady_clock::now();
  std::optional<int> status = agent.wait(60s);
  std::printf("[ figure ] server killed mid-load: the agent ended after %.2f s\n",
              Seconds(std::chrono::steady_clock::now() - killed).count());
  ASSERT_TRUE(status) << agent.output();
  EXPECT_EQ(*status, exit_status::kCycleEndedEarly) << journal();
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
