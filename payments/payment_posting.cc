#include "payments/payment_posting.h"

#include <exception>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "base/text.h"
#include "payments/local_transaction.h"
#include "payments/payment_allocation.h"
#include "payments/receipt_numbers.h"
#include "payments/sql_literal.h"

namespace agent {

namespace {

constexpr const char* kPendingPayments =
    "select * from rzp_paymentgateway where fstatus = 'captured' and fdownloaddate is null "
    "order by fdate";

// A pending payment as read from the portal.
struct GatewayPayment {
  std::string admNo;
  double paidAmount = 0;
  std::string payDate;  // dd/mm/yyyy
  std::string orderId;
  std::string transactionId;
  std::string paymentMode;
};

// The paying student's local row.
struct LocalStudent {
  std::string degree;
  std::string collegeCode;
  std::string name;
  std::string examNo;
};

// The payment of the current row, or nullopt (with a journal warning) when
// it cannot be booked and stays pending: its amount or date is NULL, or its
// order id or transaction id holds a control character. Such an id could
// reach the local database cut at a NUL, and the payment would be booked
// under an id the portal does not know and never marked taken.
std::optional<GatewayPayment> readPayment(const Recordset& row, Journal& journal) {
  GatewayPayment p;
  p.orderId = valueText(row.field("forderid"));
  p.transactionId = valueText(row.field("ftransactionid"));
  if (hasControlCharacter(p.orderId) || hasControlCharacter(p.transactionId)) {
    journal.warning("gateway payment with order id '" + p.orderId + "' and transaction id '" +
                    p.transactionId + "' holds a control character in an id; left pending");
    return std::nullopt;
  }
  std::optional<double> amount = numberOf(row.field("famtpaidtoinst"));
  std::optional<DateTime> date = dateTimeOf(row.field("fdate"));
  if (!amount || !date) {
    journal.warning("gateway payment with order id '" + p.orderId + "' has no " +
                    (!amount ? "amount" : "date") + "; left pending");
    return std::nullopt;
  }
  p.admNo = valueText(row.field("fadmno"));
  p.paidAmount = *amount;
  p.payDate = dayMonthYear(*date);
  p.paymentMode = valueText(row.field("fmodeofpayment"));
  return p;
}

std::optional<LocalStudent> findStudent(Connection& local, const std::string& admNo) {
  auto rs = local.query("select fdegree, fcollcode, fname, fexamno from student where fadmno = " +
                            localLiteral(admNo),
                        Cursor::Static);
  if (rs->eof()) return std::nullopt;
  return LocalStudent{valueText(rs->field("fdegree")), valueText(rs->field("fcollcode")),
                      valueText(rs->field("fname")), valueText(rs->field("fexamno"))};
}

bool alreadyBooked(Connection& local, const std::string& orderId) {
  auto rs = local.query("select * from paygate where forderid = " + localLiteral(orderId),
                        Cursor::Static);
  return !rs->eof();
}

// The views FEEPG, RECPG and BALPG for one student. A view left by the
// previous payment makes its CREATE fail; the cycle's connection drops it
// and creates it again.
void createBalanceViews(Connection& local, const std::string& degree, const std::string& admNo) {
  const std::string degreeLit = localLiteral(degree);
  const std::string admNoLit = localLiteral(admNo);
  local.execute(
      "CREATE VIEW FEEPG AS  SELECT F.FDEGREE, F.FADMNO, F.FHEADCODE, H.FHEADDESC, H.FORDER, "
      "ISNULL(F.FYEAR,'') + ISNULL(F.FMONTH,'') AS FMONTH, F.FFEE, F.FEXAMNO, F.FLASTDATE, "
      "F.FFINE FROM FEESTRV F, MASHEAD H WHERE F.FHEADCODE = H.FHEADCODE AND F.FDEGREE = " +
      degreeLit + " AND F.FADMNO = " + admNoLit);
  local.execute(
      "CREATE VIEW RECPG AS SELECT FDEGREE, FRECCODE AS FADMNO, FHEADCODE, ISNULL(FMONTH,'') AS "
      "FMONTH, SUM(FAMOUNT) AS FAMOUNT FROM RECDETL, RECHEAD WHERE RECHEAD.FRECNO = "
      "RECDETL.FRECNO  AND RECHEAD.FDEGREE = " +
      degreeLit + " AND RECHEAD.FRECCODE = " + admNoLit +
      " AND ISNULL(RECHEAD.FDELETED,'F') <> 'T' GROUP BY FDEGREE, FRECCODE, FHEADCODE, "
      "ISNULL(FMONTH,'')");
  local.execute(
      "CREATE VIEW BALPG AS SELECT FEE.FADMNO, FEE.FHEADCODE, FEE.FHEADDESC, FEE.FORDER, "
      "FEE.FMONTH, FEE.FFEE, ISNULL(REC.FAMOUNT,0) AS FAMOUNT, FEE.FFEE - ISNULL(REC.FAMOUNT,0) "
      "AS FBAL,CASE WHEN DATEDIFF(D,GETDATE(),FLASTDATE) < 0 AND FEE.FFEE - "
      "ISNULL(REC.FAMOUNT,0) > 0 THEN FEE.FFINE ELSE 0 END AS FFINEAMT,FEE.FEXAMNO FROM FEEPG "
      "FEE LEFT OUTER JOIN RECPG REC ON FEE.FDEGREE = REC.FDEGREE AND FEE.FADMNO = REC.FADMNO "
      "AND FEE.FHEADCODE = REC.FHEADCODE AND ISNULL(FEE.FMONTH,'') = ISNULL(REC.FMONTH,'')");
}

// The student's balance rows in allocation order.
std::vector<FeeBalance> readBalances(Connection& local, const std::string& admNo) {
  auto rs = local.query("SELECT * FROM BALPG WHERE FADMNO = " + localLiteral(admNo) +
                            " ORDER BY FEXAMNO, FORDER, CASE WHEN FBAL < 0 THEN 1 ELSE 2 END, "
                            "FHEADCODE, FMONTH",
                        Cursor::Static);
  std::vector<FeeBalance> balances;
  for (; !rs->eof(); rs->moveNext()) {
    balances.push_back({valueText(rs->field("FHEADCODE")), numberOf(rs->field("FBAL"))});
  }
  return balances;
}

// The receipt that booked a payment: the gateway receipt header whose
// remarks hold the order id; empty when there is none.
std::string bookingReceipt(Connection& local, const std::string& orderId) {
  auto rs = local.query("select frecno from rechead where fremarks = " + localLiteral(orderId) +
                            " and faccno = 'PAYG' order by frecno",
                        Cursor::Static);
  return rs->eof() ? std::string() : valueText(rs->field("frecno"));
}

// Receipt lines, header and payment log of one payment, all or nothing.
// False (nothing written) when paygate holds the order id by the time the
// transaction has begun: another program on the same database booked it
// since the first look.
bool writeReceipt(CycleContext& ctx, const std::string& recNo, const GatewayPayment& p,
                  const LocalStudent& s, const std::vector<ReceiptLine>& lines) {
  const std::string recNoLit = localLiteral(recNo);
  const std::string amount = amountText(p.paidAmount);
  const std::string payDate = "convert(datetime," + localLiteral(p.payDate) + ")";
  LocalTransaction transaction(ctx.local, ctx.journal);
  if (alreadyBooked(ctx.local, p.orderId)) {
    ctx.journal.warning("gateway payment with order id '" + p.orderId +
                        "' was booked by another program meanwhile; receipt number " + recNo +
                        " is left unused");
    return false;
  }
  for (const ReceiptLine& line : lines) {
    ctx.local.execute("insert into recdetl(frecno, fheadcode, famount) values(" + recNoLit + ", " +
                      localLiteral(line.headCode) + ", " + amountText(line.amount) + ")");
  }
  ctx.local.execute(
      "insert into rechead(frecno, frecdate, frectype, freccode, fname, faccno, ftotal, fdegree, "
      "fexamno, fremarks, fnettotal, fusername, fcardamount, fcardno, fcarddate, fcardbankname, "
      "fdiscount) values(" +
      recNoLit + ", " + payDate + ", 'S', " + localLiteral(p.admNo) + ", " + localLiteral(s.name) +
      ", 'PAYG', " + amount + ", " + localLiteral(s.degree) + ", " + localLiteral(s.examNo) + ", " +
      localLiteral(p.orderId) + ", " + amount + ", 'online', " + amount + ", " +
      localLiteral(p.transactionId) + ", " + payDate + ", 'ONLINE',0)");
  ctx.local.execute(
      "insert into paygate(fadmno, forderid, forderdate, famount, fmode, ftranid) values(" +
      localLiteral(p.admNo) + ", " + localLiteral(p.orderId) + ", " + payDate + ", " + amount +
      ", " + localLiteral(p.paymentMode) + ", " + localLiteral(p.transactionId) + ")");
  transaction.commit();
  return true;
}

}  // namespace

std::string markTakenStatement(const std::string& recNo, const std::string& orderId) {
  return "update rzp_paymentgateway set frecno = " + remoteLiteral(recNo) +
         ", fdownloaddate = now() where forderid = " + remoteLiteral(orderId);
}

namespace {

// Marks the payment taken on the portal. The local receipt is committed by
// then, so a failure here leaves a booked payment that the portal still
// shows as pending; the next cycle finds its paygate row and marks it.
void markTaken(CycleContext& ctx, const std::string& recNo, const std::string& orderId) {
  try {
    ctx.remote.execute(markTakenStatement(recNo, orderId));
  } catch (const std::exception& e) {
    ctx.journal.error("gateway payment with order id '" + orderId + "' is booked as receipt " +
                      recNo + " but could not be marked taken on the portal (" + e.what() +
                      "); the next cycle marks it");
    throw;
  }
}

// What one run of the stage remembers across its payments.
struct PostingRun {
  // Order ids marked in this run: a second pending row of the same order
  // id (the mark covers every row of it) needs no repair.
  std::set<std::string> marked;
  // Order ids in paygate, pending on the portal, with no receipt to mark
  // them with.
  std::vector<std::string> unmarkable;
};

// A pending payment whose order id is in paygate was booked by an earlier
// cycle whose mark was lost (a failed update, a killed agent or server):
// the portal gets the mark the booking would have written.
void repairLostMark(CycleContext& ctx, const GatewayPayment& p, PostingRun& run) {
  if (run.marked.count(p.orderId) != 0) return;
  const std::string recNo = bookingReceipt(ctx.local, p.orderId);
  if (recNo.empty()) {
    run.unmarkable.push_back(p.orderId);
    return;
  }
  markTaken(ctx, recNo, p.orderId);
  run.marked.insert(p.orderId);
  ctx.journal.info("gateway payment with order id '" + p.orderId + "' was booked as receipt " +
                   recNo + " but not marked taken on the portal; marked now");
}

// Books one payment; false when it is passed over.
bool postPayment(CycleContext& ctx, const GatewayPayment& p, PostingRun& run) {
  if (alreadyBooked(ctx.local, p.orderId)) {
    repairLostMark(ctx, p, run);
    return false;
  }
  std::optional<LocalStudent> student = findStudent(ctx.local, p.admNo);
  if (!student) return false;
  createBalanceViews(ctx.local, student->degree, p.admNo);
  std::vector<FeeBalance> balances = readBalances(ctx.local, p.admNo);
  if (balances.empty()) return false;
  const std::string recNo = getRecNo(ctx.local, ctx.messages, student->collegeCode);
  if (recNo.empty()) {
    ctx.messages.show(kDuplicateReceiptNumberMessage, MessageIcon::Exclamation);
    throw CycleAbort(kDuplicateReceiptNumberMessage);
  }
  if (!writeReceipt(ctx, recNo, p, *student, allocatePayment(p.paidAmount, balances))) {
    return false;
  }
  markTaken(ctx, recNo, p.orderId);
  run.marked.insert(p.orderId);
  return true;
}

}  // namespace

std::size_t postGatewayPayments(CycleContext& ctx) {
  // Read whole: local and remote statements run while the rows are walked.
  auto pending = ctx.remote.query(kPendingPayments, Cursor::Static);
  std::size_t booked = 0;
  PostingRun run;
  for (; !pending->eof(); pending->moveNext()) {
    std::optional<GatewayPayment> payment = readPayment(*pending, ctx.journal);
    if (payment && postPayment(ctx, *payment, run)) ++booked;
  }
  if (!run.unmarkable.empty()) {
    // One line a cycle, however many: it repeats every cycle until someone
    // puts the receipt or the paygate row right.
    std::string ids;
    for (const std::string& id : run.unmarkable) ids += (ids.empty() ? "'" : ", '") + id + "'";
    ctx.journal.warning(std::to_string(run.unmarkable.size()) +
                        " pending gateway payment(s) are in paygate but no local receipt holds "
                        "their order id (" +
                        ids + "); left pending on the portal");
  }
  return booked;
}

}  // namespace agent
