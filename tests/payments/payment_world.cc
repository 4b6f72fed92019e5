#include "tests/payments/payment_world.h"

#include <gtest/gtest.h>

#include <map>

#include "base/text.h"
#include "db/embedded/embedded_engine.h"
#include "payments/sql_literal.h"
#include "tests/support/local_database.h"

namespace agent::testing {

namespace {

constexpr const char* kSaPassword = "Secret-1";

std::string cellText(const Value& v) {
  return v.isDateTime() ? dayMonthYear(v.dateTimeValue()) : valueText(v);
}

}  // namespace

StageRun::StageRun(PaymentWorld& world) : StageRun(world, world.local(), world.remote()) {}

StageRun::StageRun(PaymentWorld& world, Connection& localTarget, Connection& remoteTarget)
    : local_(localTarget, localTarget, world.journal),
      remote_(remoteTarget, localTarget, world.journal),
      context_{local_,        remote_,        world.office.folder.path(),
               world.config,  world.univCode, world.messages,
               world.journal, world.clock} {
  // Work ahead gets a second connection, as in the program: a payment stage
  // must keep it from starting before the payment is booked.
  context_.hooks.connectLocalAgain = [&office = world.office] { return office.connectAgain(); };
}

std::unique_ptr<Connection> LocalOffice::connectAgain() const {
  std::unique_ptr<Connection> c = openEmbeddedConnection(folder / "server", "SA", kSaPassword);
  c->setDefaultDatabase("office");
  c->execute("SET DATEFORMAT DMY");
  return c;
}

LocalOffice::LocalOffice(std::string_view hint, const std::string& univCode) : folder(hint) {
  createEmbeddedServer(folder / "server", kSaPassword);
  db_ = openEmbeddedConnection(folder / "server", "SA", kSaPassword);
  db_->execute("CREATE DATABASE office");
  db_->setDefaultDatabase("office");
  db_->execute("SET DATEFORMAT DMY");
  runTSqlScript(*db_, readFile(std::filesystem::path(AGENT_SOURCE_DIR) / "schema" / "local.sql"));
  db_->execute("insert into control(funivcode, frecno) values(" + localLiteral(univCode) +
               ", NULL)");
  db_->execute("insert into college(fcollcode, fcollname) values('C1', 'Main College')");
}

std::string LocalOffice::scalar(const std::string& sql) {
  const std::string all = row(sql);
  return all.substr(0, all.find('|'));
}

std::string LocalOffice::row(const std::string& sql) {
  auto rs = db_->query(sql, Cursor::Static);
  std::string out;
  for (std::size_t i = 0; !rs->eof() && i < rs->fieldCount(); ++i) {
    out += (i ? "|" : "") + cellText(rs->field(i));
  }
  return out;
}

std::string LocalOffice::head(const std::string& recNo, const std::string& columns) {
  return row("select " + columns + " from rechead where frecno = " + localLiteral(recNo));
}

PortalReceipt portalReceipt(const std::string& recNo) {
  PortalReceipt r;
  r.recNo = recNo;
  r.date = DateTime{2024, 3, 5, 10, 30, 0};
  r.admNo = "S1";
  r.degree = "BSC";
  r.examNo = "1";
  r.total = r.netTotal = 1500;
  return r;
}

std::string journalLines(const Journal& journal, const std::string& level) {
  std::string lines;
  for (const std::string& line : journal.recentLines()) {
    if (line.rfind(level + " ", 0) == 0) lines += line + "\n";
  }
  return lines;
}

long LocalOffice::count(const std::string& table, const std::string& where) {
  return static_cast<long>(leadingNumber(
      scalar("select count(*) from " + table + (where.empty() ? "" : " where " + where))));
}

void LocalOffice::addStudent(const std::string& admNo, const std::string& name,
                             std::initializer_list<double> fees) {
  db_->execute("insert into student(fadmno, fname, fdegree, fcollcode, fexamno) values(" +
               localLiteral(admNo) + ", " + localLiteral(name) + ", 'BSC', 'C1', '1')");
  int order = 0;
  for (double fee : fees) {
    const std::string code(1, static_cast<char>('A' + order++));
    const std::string head = localLiteral(code);
    if (count("mashead", "fheadcode = " + head) == 0) {
      db_->execute("insert into mashead(fheadcode, fheaddesc, forder) values(" + head + ", " +
                   localLiteral(code + " fee") + ", " + std::to_string(order) + ")");
    }
    db_->execute(
        "insert into feestrv(fdegree, fadmno, fheadcode, fyear, fmonth, ffee, fexamno, flastdate, "
        "ffine) values('BSC', " +
        localLiteral(admNo) + ", " + head + ", '2024', '', " + amountText(fee) +
        ", '1', convert(datetime,'31/12/2099'), 0)");
  }
}

PaymentWorld::PaymentWorld(std::string_view hint, std::string code)
    : univCode(std::move(code)),
      office(hint, univCode),
      remoteDb_(hint),
      remote_(remoteDb_.connect()),
      portal_(*remote_) {
  // The program folder's export folder, as the agent makes it at start.
  std::filesystem::create_directories(office.folder / "CSV");
}

void PaymentWorld::capture(const std::string& admNo, std::optional<double> amount,
                           const std::string& orderId, int minutes) {
  portal_.addPayment({admNo, amount, DateTime{2024, 3, 5, 10, 30 + minutes, 0}, orderId,
                      "TXN-" + orderId, "UPI", "captured"});
}

void PaymentWorld::pendingPayments(int count) {
  office.db().execute("BEGIN TRAN");
  for (int i = 0; i < count; ++i) {
    const std::string admNo = "S" + std::to_string(1000 + i);
    office.addStudent(admNo, "Student " + std::to_string(i), {1000, 500});
  }
  office.db().execute("COMMIT");
  for (int i = 0; i < count; ++i) {
    portal_.addPayment({"S" + std::to_string(1000 + i), 1200,
                        DateTime{2024, 3, 5, 8 + i / 60, i % 60}, "ORD-" + std::to_string(i),
                        "TXN-" + std::to_string(i), "UPI", "captured"});
  }
}

void PaymentWorld::expectEveryOrderBookedOnceAndMarked(int count) {
  const std::string n = std::to_string(count);
  EXPECT_EQ(office.count("rechead"), count);
  EXPECT_EQ(office.scalar("select count(distinct fremarks) from rechead"), n);
  EXPECT_EQ(office.count("paygate"), count);
  EXPECT_EQ(office.scalar("select count(distinct forderid) from paygate"), n);
  EXPECT_EQ(office.count("recdetl", "frecno not in (select frecno from rechead)"), 0);
  EXPECT_EQ(remoteScalar("select count(*) from rzp_paymentgateway where fdownloaddate is null"),
            "0");
  auto booked = [](Connection& c, const std::string& sql) {
    std::map<std::string, std::string> pairs;
    for (auto rs = c.query(sql, Cursor::Static); !rs->eof(); rs->moveNext())
      pairs[valueText(rs->field(std::size_t{0}))] = valueText(rs->field(std::size_t{1}));
    return pairs;
  };
  EXPECT_EQ(booked(office.db(), "select fremarks, frecno from rechead"),
            booked(*remoteDb_.connect(), "select forderid, frecno from rzp_paymentgateway"));
}

}  // namespace agent::testing
