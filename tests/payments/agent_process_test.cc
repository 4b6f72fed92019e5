// Faults of the whole program around the payment posting, each on the real
// upload-agent program, the embedded local database and the test MariaDB
// server: two agents started together on one program folder, and a stop
// (SIGTERM) in the middle of the payment stage. Afterwards every order is
// booked exactly once and marked with the receipt that booked it.
#include <signal.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <thread>

#include "app/core/exit_status.h"
#include "base/code_page.h"
#include "config/local_settings.h"
#include "payments/sql_literal.h"
#include "tests/payments/payment_world.h"
#include "tests/support/agent_process.h"

namespace agent {
namespace {

using namespace std::chrono_literals;
using testing::AgentProcess;
using testing::PaymentWorld;

class AgentProcessTest : public ::testing::Test {
 protected:
  AgentProcessTest() : world("process") {
    const std::filesystem::path& home = world.office.folder.path();
    testing::writeFile(home / "platform.ini",
                       "[drivers]\nSQL Server = embedded\nMySQL ODBC 3.51 Driver = odbc:MySQL ODBC "
                       "3.51 Driver\n");
    testing::writeFile(home / "remote-accounts.ini",
                       world.remoteDatabase().accountSection(world.univCode));
    testing::writeFile(home / kSettingsFileName,
                       "[APATH]\r\nDBASEPATH=SQLSRVR\r\nSERVERNAME=" + (home / "server").string() +
                           "\r\nPASSWORD=" + utf8ToWindows1252(scramblePassword("Secret-1")) +
                           "\r\nDBNAME=office\r\n");
  }

  const std::filesystem::path& home() { return world.office.folder.path(); }

  // count students, each with two fee heads and one pending payment.
  void pendingPayments(int count) {
    world.office.db().execute("BEGIN TRAN");
    for (int i = 0; i < count; ++i) {
      const std::string admNo = "S" + std::to_string(1000 + i);
      world.office.addStudent(admNo, "Student " + std::to_string(i));
      world.office.addFee(admNo, "A", 1, 1000);
      world.office.addFee(admNo, "B", 2, 500);
    }
    world.office.db().execute("COMMIT");
    for (int i = 0; i < count; ++i) {
      world.portal().addPayment(
          {"S" + std::to_string(1000 + i), 1200, DateTime{2024, 3, 5, 8 + i / 60, i % 60},
           "ORD-" + std::to_string(i), "TXN-" + std::to_string(i), "UPI", "captured"});
    }
  }

  long remoteCount(const std::string& where) {
    return std::stol(world.remoteScalar("select count(*) from rzp_paymentgateway where " + where));
  }

  // Every order booked exactly once: one receipt header and one paygate
  // row per order, no receipt line without its header, and the portal
  // marked with the receipt that booked it.
  void expectEveryOrderBookedOnceAndMarked(int count) {
    EXPECT_EQ(world.office.count("rechead"), count);
    EXPECT_EQ(world.office.scalar("select count(distinct fremarks) from rechead"),
              std::to_string(count));
    EXPECT_EQ(world.office.count("paygate"), count);
    EXPECT_EQ(world.office.count("recdetl", "frecno not in (select frecno from rechead)"), 0);
    EXPECT_EQ(remoteCount("fdownloaddate is null"), 0);
    std::map<std::string, std::string> local, portal;
    for (auto rs = world.local().query("select fremarks, frecno from rechead", Cursor::Static);
         !rs->eof(); rs->moveNext()) {
      local[valueText(rs->field("fremarks"))] = valueText(rs->field("frecno"));
    }
    auto remote = world.remoteDatabase().connect();
    for (auto rs = remote->query("select forderid, frecno from rzp_paymentgateway", Cursor::Static);
         !rs->eof(); rs->moveNext()) {
      portal[valueText(rs->field("forderid"))] = valueText(rs->field("frecno"));
    }
    EXPECT_EQ(local, portal);
  }

  PaymentWorld world;
};

TEST_F(AgentProcessTest, TwoAgentsStartedTogetherBookEveryOrderOnce) {
  constexpr int kPayments = 120;
  pendingPayments(kPayments);

  const auto started = std::chrono::steady_clock::now();
  AgentProcess first(home(), {"--once"});
  AgentProcess second(home(), {"--once"});
  std::optional<int> a = first.wait(300s);
  std::optional<int> b = second.wait(300s);
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
  std::printf("[ figure ] two agents on %d payments: both ended after %.2f s\n", kPayments,
              took.count());
  ASSERT_TRUE(a && b) << first.output() << second.output();

  // One of them ran the cycle; the other ended at once and said why.
  EXPECT_EQ(std::min(*a, *b), exit_status::kSuccess) << first.output() << second.output();
  EXPECT_EQ(std::max(*a, *b), exit_status::kAnotherInstance) << first.output() << second.output();
  const std::string loser = *a == exit_status::kAnotherInstance ? first.output() : second.output();
  EXPECT_NE(loser.find("another upload-agent is already running"), std::string::npos) << loser;
  expectEveryOrderBookedOnceAndMarked(kPayments);

  // The lock went with the process: the next agent runs.
  AgentProcess next(home(), {"--once"});
  EXPECT_EQ(next.wait(300s), exit_status::kSuccess) << next.output();
}

TEST_F(AgentProcessTest, SigtermInThePaymentStageEndsWithinFiveSecondsAndLosesNothing) {
  constexpr int kPayments = 300;
  pendingPayments(kPayments);

  AgentProcess agent(home(), {"--once"});
  // Wait until the stage has marked a few payments on the portal.
  const auto limit = std::chrono::steady_clock::now() + 300s;
  while (remoteCount("fdownloaddate is not null") < 5 && std::chrono::steady_clock::now() < limit &&
         !agent.wait(0ms)) {
    std::this_thread::sleep_for(20ms);
  }
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
  // Nothing half-booked: every header has its paygate row and no line is
  // without its header.
  const long booked = world.office.count("rechead");
  EXPECT_LT(booked, kPayments);
  std::printf("[ figure ] SIGTERM in the payment stage: ended after %.2f s, %ld of %d booked\n",
              took.count(), booked, kPayments);
  EXPECT_EQ(world.office.count("paygate"), booked);
  EXPECT_EQ(world.office.count("recdetl", "frecno not in (select frecno from rechead)"), 0);

  AgentProcess next(home(), {"--once"});
  EXPECT_EQ(next.wait(300s), exit_status::kSuccess) << next.output();
  expectEveryOrderBookedOnceAndMarked(kPayments);
}

}  // namespace
}  // namespace agent
