// Two programs booking the same pending payments: two agents, each with
// its own connections to one local database and one portal, race through
// the posting stage; afterwards every order is booked exactly once, with no
// receipt number lost, and marked with the receipt that booked it. And a
// portal row taken by another program between the read and the mark keeps
// the other program's mark.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <latch>
#include <string>
#include <thread>
#include <utility>

#include "payments/payment_posting.h"
#include "payments/receipt_numbers.h"
#include "payments/sql_literal.h"
#include "tests/payments/payment_world.h"
#include "tests/support/program_folder.h"

namespace agent {
namespace {

using testing::PaymentWorld;
using testing::StageRun;

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

TEST(BookingRace, ARowTakenByAnotherProgramBeforeTheMarkKeepsItsMarkAndIsNamed) {
  PaymentWorld world("taken");
  world.twoPendingPayments();
  // Another program marks ORD-1 taken just before this agent's mark.
  bool taken = false;
  testing::BeforeStatement portal(world.remote(), "update rzp_paymentgateway", [&] {
    if (std::exchange(taken, true)) return;
    world.remote().execute(
        "update rzp_paymentgateway set frecno = 'OTHER-9', fdownloaddate = now() where forderid "
        "= 'ORD-1'");
  });
  {
    StageRun run(world, world.local(), portal);
    EXPECT_EQ(postGatewayPayments(run.context()), 2u);
  }
  EXPECT_EQ(world.remoteScalar("select frecno from rzp_paymentgateway where forderid = 'ORD-1'"),
            "OTHER-9");
  EXPECT_EQ(world.remoteScalar("select frecno from rzp_paymentgateway where forderid = 'ORD-2'"),
            "000002");
  EXPECT_EQ(testing::journalLinesWith(world.journal,
                                      "'ORD-1' was booked here as receipt 000001 but another "
                                      "program marked it taken on the portal meanwhile (receipt "
                                      "'OTHER-9')"),
            1u);
}

}  // namespace
}  // namespace agent
