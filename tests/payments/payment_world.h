// The world a payment stage runs in: the office's embedded database, a
// fresh portal database on the test MariaDB server with the portal writing
// into it, and a cycle context that recovers leftover views as the cycle's.
#ifndef AGENT_TESTS_PAYMENTS_PAYMENT_WORLD_H_
#define AGENT_TESTS_PAYMENTS_PAYMENT_WORLD_H_

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "config/platform_config.h"
#include "cycle/clock.h"
#include "cycle/cycle_context.h"
#include "cycle/journal.h"
#include "cycle/leftover_recovery.h"
#include "cycle/message_sink.h"
#include "db/connection.h"
#include "tests/support/doubles.h"
#include "tests/support/remote_server.h"
#include "tests/support/temp_dir.h"
#include "tools/portal_sim/portal_writer.h"

namespace agent::testing {

class PaymentWorld;

// The local schema, a control row for the institution, college C1 (no group).
class LocalOffice {
 public:
  explicit LocalOffice(std::string_view hint, const std::string& univCode = "P001");

  Connection& db() { return *db_; }
  // The first row's columns joined by "|" ("" for no row; NULL as "",
  // numbers in plain decimal text, dates as dd/mm/yyyy); scalar: its first.
  std::string row(const std::string& sql);
  std::string scalar(const std::string& sql);
  std::string head(const std::string& recNo, const std::string& columns);  // of rechead
  long count(const std::string& table, const std::string& where = "");
  // Another connection to the database, as a second program opens it.
  std::unique_ptr<Connection> connectAgain() const;

  // A student of college C1 in BSC, exam 1, owing fees under heads A, B,
  // ... in that order (made in MASHEAD when new).
  void addStudent(const std::string& admNo, const std::string& name = "Student",
                  std::initializer_list<double> fees = {});

  TempDir folder;

 private:
  std::unique_ptr<Connection> db_;
};

// The connections and context of one stage run. The targets are what the
// statements reach beneath the leftover recovery: the databases or decorators.
class StageRun {
 public:
  explicit StageRun(PaymentWorld& world);
  StageRun(PaymentWorld& world, Connection& localTarget, Connection& remoteTarget);
  CycleContext& context() { return context_; }

 private:
  RecoveringConnection local_;
  RecoveringConnection remote_;
  CycleContext context_;
};

// Calls hook just before each execute() whose text starts with prefix:
// what another program does at that moment.
class BeforeStatement : public ConnectionWrapper {
 public:
  BeforeStatement(Connection& inner, std::string prefix, std::function<void()> hook)
      : ConnectionWrapper(inner), prefix_(std::move(prefix)), hook_(std::move(hook)) {}
  void execute(const std::string& sql) override {
    if (sql.starts_with(prefix_)) hook_();
    ConnectionWrapper::execute(sql);
  }

 private:
  std::string prefix_;
  std::function<void()> hook_;
};

// A portal 'PG' receipt of student S1 in BSC, exam 1, dated 5 March 2024
// 10:30, total and net total 1500, without lines or modes.
PortalReceipt portalReceipt(const std::string& recNo);

// The journal lines of level ("WARN", "ERROR"), one a line.
std::string journalLines(const Journal& journal, const std::string& level);

class PaymentWorld {
 public:
  explicit PaymentWorld(std::string_view hint, std::string univCode = "P001");

  Connection& local() { return office.db(); }  // without recovery
  Connection& remote() { return *remote_; }
  RemoteTestDatabase& remoteDatabase() { return remoteDb_; }
  PortalWriter& portal() { return portal_; }
  std::string remoteScalar(const std::string& sql) { return remoteDb_.scalar(sql); }

  // A captured payment on the portal, dated 5 March 2024 10:30 plus minutes.
  void capture(const std::string& admNo, std::optional<double> amount, const std::string& orderId,
               int minutes = 0);
  // count students S1000 on, each owing 1000 under head A and 500 under B,
  // and a pending payment of 1200 each (ORD-0 on, a minute apart).
  void pendingPayments(int count);
  // One receipt header and paygate row per order, no receipt line without
  // its header, the portal marked with the receipt that booked it.
  void expectEveryOrderBookedOnceAndMarked(int count);

  std::string univCode;
  LocalOffice office;
  testing::RecordedMessages messages;
  Journal journal;
  SystemClock clock;
  PlatformConfig config;

 private:
  RemoteTestDatabase remoteDb_;
  std::unique_ptr<Connection> remote_;
  PortalWriter portal_;
};

}  // namespace agent::testing

#endif  // AGENT_TESTS_PAYMENTS_PAYMENT_WORLD_H_
