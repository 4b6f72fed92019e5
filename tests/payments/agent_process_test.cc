// Several programs booking the same pending payments, on the embedded
// local database and the test MariaDB server: the real upload-agent program
// twice on one program folder, stopped (SIGTERM) in the payment stage, or
// installed twice on one database and portal account; and two agents
// racing through the posting stage, each with its own connections.
// Afterwards every order is booked exactly once, with no receipt number
// lost, and marked with the receipt that booked it.
#include <signal.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <latch>
#include <map>
#include <string>
#include <thread>

#include "app/core/exit_status.h"
#include "config/local_settings.h"
#include "payments/payment_posting.h"
#include "payments/receipt_numbers.h"
#include "tests/payments/payment_world.h"
#include "tests/support/agent_process.h"
#include "tests/support/program_folder.h"

namespace agent {
namespace {

using namespace std::chrono_literals;
using testing::AgentProcess;
using testing::PaymentWorld;
using testing::StageRun;

// The number of rows of each portal table (staging tables left out).
std::map<std::string, int> rowsPerTable(const testing::RemoteTestDatabase& remote) {
  std::map<std::string, int> rows;
  for (const std::string& row : testing::portalRows(remote)) ++rows[row.substr(0, row.find('|'))];
  return rows;
}

class AgentProcessTest : public ::testing::Test {
 protected:
  AgentProcessTest() : world("process") { writeProgramFolder(home()); }

  // A program folder on the office's database and the portal.
  void writeProgramFolder(const std::filesystem::path& folder,
                          const std::string& platformExtra = "") {
    testing::writeFile(folder / "platform.ini",
                       "[drivers]\nSQL Server = embedded\nMySQL ODBC 3.51 Driver = odbc:MySQL ODBC "
                       "3.51 Driver\n" +
                           platformExtra);
    testing::writeFile(folder / "remote-accounts.ini",
                       world.remoteDatabase().accountSection(world.univCode));
    testing::writeFile(
        folder / kSettingsFileName,
        testing::settingsFileText((home() / "server").string(), "office", "Secret-1"));
  }

  // Waits (at most 300 s) until count payments are marked or the agent ends.
  void waitForMarks(AgentProcess& agent, long count) {
    const auto limit = std::chrono::steady_clock::now() + 300s;
    while (remoteCount("fdownloaddate is not null") < count &&
           std::chrono::steady_clock::now() < limit && !agent.wait(0ms)) {
      std::this_thread::sleep_for(20ms);
    }
  }

  // Starts two agents together on the program folder: one runs the cycle,
  // the other ends at once (the refusal's message is the exit status
  // test's). SIGTERM in the payment stage of the one running ends it within
  // five seconds with nothing half-booked: *booked payments.
  void startTwoAndStopTheOneRunning(int payments, long* booked) {
    AgentProcess first(home(), {"--once"});
    AgentProcess second(home(), {"--once"});
    waitForMarks(first, 5);
    waitForMarks(second, 5);
    AgentProcess& agent = first.wait(0ms) ? second : first;
    AgentProcess& refused = &agent == &first ? second : first;
    EXPECT_EQ(refused.wait(10s), exit_status::kAnotherInstance) << refused.output();
    ASSERT_FALSE(agent.wait(0ms)) << "the cycle ended before the stop: " << agent.output();
    const auto stopped = std::chrono::steady_clock::now();
    agent.signal(SIGTERM);
    std::optional<int> status = agent.wait(10s);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - stopped;
    ASSERT_TRUE(status) << agent.output();
    EXPECT_LT(took.count(), 5.0);
    EXPECT_EQ(*status, exit_status::kCycleEndedEarly) << agent.output();
    const std::string journal = testing::readFile(home() / "log" / "agent.log");
    EXPECT_NE(journal.find("cycle stopped on request in stage payment posting"), std::string::npos)
        << journal;
    // Every header has its paygate row and no line is without its header.
    *booked = world.office.count("rechead");
    EXPECT_LT(*booked, payments);
    std::printf("[ figure ] SIGTERM in the payment stage: ended after %.2f s, %ld of %d booked\n",
                took.count(), *booked, payments);
    EXPECT_EQ(world.office.count("paygate"), *booked);
    EXPECT_EQ(world.office.count("recdetl", "frecno not in (select frecno from rechead)"), 0);
  }

  const std::filesystem::path& home() { return world.office.folder.path(); }

  long remoteCount(const std::string& where) {
    return std::stol(world.remoteScalar("select count(*) from rzp_paymentgateway where " + where));
  }

  PaymentWorld world;
};

// Two agents on one program folder, the one running stopped by SIGTERM;
// then two installs, each in its own program folder, on one local database
// and one portal account: the second, started while the first books the
// rest, waits [upload] cycle_lock_wait (1 s) for the first's cycle, then
// ends its own with a line naming the first. Nothing is booked twice, and
// the portal's tables are as one install alone leaves them.
TEST_F(AgentProcessTest, TwoOnOneFolderThenASecondInstallOnOneDatabaseBookEveryOrderOnce) {
  constexpr int kPayments = 300;
  world.pendingPayments(kPayments);
  testing::TempDir otherFolder("other-install");
  const std::string waits = "[remote]\nlock_wait_timeout = 5\n[upload]\ncycle_lock_wait = 1\n";
  writeProgramFolder(home(), waits);
  writeProgramFolder(otherFolder.path(), waits);
  long booked = 0;
  startTwoAndStopTheOneRunning(kPayments, &booked);
  if (HasFatalFailure()) return;

  AgentProcess first(home(), {"--once"});
  waitForMarks(first, booked + 5);
  // Another session holds the portal's control row: the first install's
  // end stamp waits for it, its cycle (and its lock) lasting until the
  // second has given up.
  std::unique_ptr<Connection> portal = world.remoteDatabase().connect();
  portal->execute("start transaction");
  portal->query("select * from control for update", Cursor::Static);
  ASSERT_FALSE(first.wait(0ms)) << "the cycle ended before the second started: " << first.output();
  const auto started = std::chrono::steady_clock::now();
  AgentProcess second(otherFolder.path(), {"--once"});
  std::optional<int> b = second.wait(300s);
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
  std::printf("[ figure ] the second install ended %.2f s after its start\n", took.count());
  portal->execute("commit");
  std::optional<int> a = first.wait(300s);
  ASSERT_TRUE(a && b) << first.output() << second.output();
  EXPECT_EQ(*a, exit_status::kSuccess) << first.output();
  EXPECT_EQ(*b, exit_status::kCycleEndedEarly) << second.output();
  const std::string journal = testing::readFile(otherFolder / "log" / "agent.log");
  EXPECT_NE(journal.find("in use by another upload agent (program folder " + home().string()),
            std::string::npos)
      << journal;
  world.expectEveryOrderBookedOnceAndMarked(kPayments);

  // Every portal table holds the rows the second install's next cycle,
  // alone, leaves in it (the values it merges again may differ: a first
  // merge leaves studfee.fdeleted NULL, a later one 'F').
  const std::map<std::string, int> afterRace = rowsPerTable(world.remoteDatabase());
  AgentProcess again(otherFolder.path(), {"--once"});
  EXPECT_EQ(again.wait(300s), exit_status::kSuccess) << again.output();
  EXPECT_EQ(rowsPerTable(world.remoteDatabase()), afterRace);
  world.expectEveryOrderBookedOnceAndMarked(kPayments);
}

// One agent's connections.
struct Agent {
  explicit Agent(PaymentWorld& world)
      : local(world.office.connectAgain()), remote(world.remoteDatabase().connect()) {}
  std::unique_ptr<Connection> local;
  std::unique_ptr<Connection> remote;
};

TEST(BookingRace, TwoAgentsOnOneDatabaseBookEachPaymentExactlyOnce) {
  constexpr int kPayments = 40;
  PaymentWorld world("race");
  world.pendingPayments(kPayments);
  Agent first(world), second(world);

  // Both start together on the same pending rows, round after round until
  // none is left. A run may end early (the fixed views of the fee chain
  // are shared, and one agent may drop a view the other is reading); what
  // it booked is committed and marked, and the next round goes on.
  int rounds = 0;
  std::atomic<int> endedEarly = 0;
  for (int round = 0; round < 10 && world.remoteScalar("select count(*) from rzp_paymentgateway "
                                                       "where fdownloaddate is null") != "0";
       ++round) {
    ++rounds;
    std::latch start(2);
    auto race = [&](Agent& agent) {
      start.arrive_and_wait();
      try {
        StageRun run(world, *agent.local, *agent.remote);
        postGatewayPayments(run.context());
      } catch (const AgentError& e) {
        ++endedEarly;  // judged below by what the databases hold
        std::printf("[ figure ] a run ended early: %s\n", e.what());
      }
    };
    std::thread a(race, std::ref(first));
    std::thread b(race, std::ref(second));
    a.join();
    b.join();
  }

  std::printf("[ figure ] %d rounds, %d runs ended early, %zu claims found booked meanwhile\n",
              rounds, endedEarly.load(),
              testing::journalLinesWith(world.journal, "booked by another program meanwhile"));
  world.expectEveryOrderBookedOnceAndMarked(kPayments);
  // No number lost or given twice: the counter stands at the last receipt.
  EXPECT_EQ(world.office.scalar("select frecno from control"), formatReceiptNumber("", kPayments));
  EXPECT_EQ(testing::journalLinesWith(world.journal, "marked it taken on the portal meanwhile"),
            0u);
}

}  // namespace
}  // namespace agent
