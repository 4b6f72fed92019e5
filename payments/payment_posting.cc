#include "payments/payment_posting.h"

#include <exception>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "base/text.h"
#include "cycle/conflict_retry.h"
#include "db/remote_literal.h"
#include "payments/local_transaction.h"
#include "payments/payment_allocation.h"
#include "payments/receipt_numbers.h"
#include "payments/set_aside.h"
#include "payments/sql_literal.h"

namespace agent {

namespace {

// The pending payments in fdate order, the primary key after it so that the
// order is total; fpagedate is fdate as the server holds it (to the
// microsecond), for the next batch's start.
constexpr const char* kPendingPayments =
    "select *, date_format(fdate, '%Y-%m-%d %H:%i:%s.%f') as fpagedate from rzp_paymentgateway "
    "where fstatus = 'captured' and fdownloaddate is null";
constexpr const char* kPendingOrder = " order by fdate, fid limit ";
// Rows read at a time: memory stays flat however many are pending.
constexpr std::size_t kPendingBatch = 1000;

// The pending payments, read a batch at a time. Each batch starts after the
// last row of the one before by (fdate, fid), a total order on the rows
// that booking does not change, so no payment is read twice or passed by
// in one run: a booked payment leaves the pending rows anyway, one set
// aside stays behind the start. A row the portal adds meanwhile with a date
// before the start is read in the next cycle.
class PendingPayments {
 public:
  explicit PendingPayments(Connection& remote) : remote_(remote) {}

  // The next batch, read whole (local and remote statements run while its
  // rows are walked); an empty one at the end.
  std::unique_ptr<Recordset> next() {
    std::string sql = kPendingPayments;
    if (started_) {
      const std::string fid = amountText(lastFid_);
      sql += lastDate_.empty()
                 ? " and ((fdate is null and fid > " + fid + ") or fdate is not null)"
                 : " and (fdate > cast(" + remoteLiteral(lastDate_) +
                       " as datetime(6)) or (fdate = cast(" + remoteLiteral(lastDate_) +
                       " as datetime(6)) and fid > " + fid + "))";
    }
    sql += kPendingOrder + std::to_string(kPendingBatch);
    return remote_.query(sql, Cursor::Static);
  }
  // Notes row as the last one read.
  void passed(const Recordset& row) {
    started_ = true;
    lastDate_ = valueText(row.field("fpagedate"));
    lastFid_ = numberOf(row.field("fid")).value_or(0);
  }

 private:
  Connection& remote_;
  bool started_ = false;
  std::string lastDate_;  // empty for a NULL fdate
  double lastFid_ = 0;
};

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

// The payment of the current row, or nullopt with *problem set when its
// own values keep it from being booked: a control character in a text (a
// NUL would cut an id, and the payment would be booked under an id the
// portal does not know and never marked taken), no amount or date, or an
// amount the local money columns cannot hold.
std::optional<GatewayPayment> readPayment(const Recordset& row, std::string* problem) {
  GatewayPayment p;
  p.orderId = valueText(row.field("forderid"));
  p.transactionId = valueText(row.field("ftransactionid"));
  p.admNo = valueText(row.field("fadmno"));
  p.paymentMode = valueText(row.field("fmodeofpayment"));
  for (auto [field, text] : {std::pair<const char*, const std::string*>{"order id", &p.orderId},
                             {"transaction id", &p.transactionId},
                             {"admission number", &p.admNo},
                             {"payment mode", &p.paymentMode}}) {
    if (std::optional<std::string> bad = textProblem(field, *text)) {
      *problem = *bad;
      return std::nullopt;
    }
  }
  std::optional<double> amount = numberOf(row.field("famtpaidtoinst"));
  std::optional<DateTime> date = dateTimeOf(row.field("fdate"));
  if (!amount || !date) {
    *problem = std::string("it has no ") + (!amount ? "amount" : "date");
    return std::nullopt;
  }
  if (std::optional<std::string> bad = amountProblem(*amount)) {
    *problem = *bad;
    return std::nullopt;
  }
  p.paidAmount = *amount;
  p.payDate = dayMonthYear(*date);
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

// The claim on an order id, first statement of the booking transaction: a
// locking read of paygate (update locks held to the end of the transaction,
// the range too), so that of two programs booking on one database the
// second waits here until the first has committed, and then finds its row.
// Under read committed a plain look would let both through.
bool claimedElsewhere(Connection& local, const std::string& orderId) {
  auto rs = local.query(
      "select * from paygate with (updlock, holdlock) where forderid = " + localLiteral(orderId),
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

// Messages held back while a transaction is open (a modal box must not
// keep the local database locked while nobody answers), shown afterwards.
class HeldMessages : public MessageSink {
 public:
  void show(const std::string& text, MessageIcon icon) override { held_.push_back({text, icon}); }
  void showOn(MessageSink& sink) const {
    for (const auto& [text, icon] : held_) sink.show(text, icon);
  }

 private:
  std::vector<std::pair<std::string, MessageIcon>> held_;
};

// How a booking ended.
enum class Booking { Written, BookedElsewhere, NoReceiptNumber };

// The claim, the receipt number, the receipt lines, header and payment log
// of one payment: one local transaction, so that a failure leaves neither
// rows nor a spent receipt number. *recNo receives the number.
Booking writeReceipt(CycleContext& ctx, const GatewayPayment& p, const LocalStudent& s,
                     const std::vector<FeeBalance>& balances, HeldMessages& held,
                     std::string* recNo) {
  const std::string amount = amountText(p.paidAmount);
  const std::string payDate = "convert(datetime," + localLiteral(p.payDate) + ")";
  LocalTransaction transaction(ctx.local, ctx.journal);
  if (claimedElsewhere(ctx.local, p.orderId)) {
    ctx.journal.warning("gateway payment with order id '" + shownValue(p.orderId) +
                        "' was booked by another program meanwhile");
    return Booking::BookedElsewhere;
  }
  *recNo = getRecNo(ctx.local, held, s.collegeCode);
  if (recNo->empty()) return Booking::NoReceiptNumber;
  const std::string recNoLit = localLiteral(*recNo);
  for (const ReceiptLine& line : allocatePayment(p.paidAmount, balances)) {
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
  return Booking::Written;
}

}  // namespace

std::string markTakenStatement(const std::string& recNo, const std::string& orderId) {
  return "update rzp_paymentgateway set frecno = " + remoteLiteral(recNo) +
         ", fdownloaddate = now() where forderid = " + remoteLiteral(orderId) +
         " and fdownloaddate is null";
}

namespace {

// The receipt numbers other than recNo on the portal's taken rows of
// orderId. The mark changes only rows still pending, so a row another
// program marked between the read and the mark keeps its number and shows
// up here.
std::string otherMarks(Connection& remote, const std::string& recNo, const std::string& orderId) {
  auto rs = remote.query(
      "select distinct ifnull(frecno, '') as frecno from rzp_paymentgateway where forderid = " +
          remoteLiteral(orderId) + " and fdownloaddate is not null and ifnull(frecno, '') <> " +
          remoteLiteral(recNo),
      Cursor::Static);
  std::string marks;
  for (; !rs->eof(); rs->moveNext()) {
    marks += (marks.empty() ? "'" : ", '") + shownValue(valueText(rs->field("frecno"))) + "'";
  }
  return marks;
}

// Marks the payment taken on the portal. The local receipt is committed by
// then, so a failure here leaves a booked payment that the portal still
// shows as pending; the next cycle finds its paygate row and marks it. A
// row that another program took meanwhile is left as it is and named in
// the journal: the payment then has a receipt in each.
void markTaken(CycleContext& ctx, const std::string& recNo, const std::string& orderId) {
  try {
    // The mark changes only a row still pending: sent again after a
    // cluster node refused it, it cannot mark a payment twice.
    const std::string mark = markTakenStatement(recNo, orderId);
    runRetryingRefusals(ctx, "payment mark", [&] { ctx.remote.execute(mark); });
  } catch (const std::exception& e) {
    ctx.journal.error("gateway payment with order id '" + shownValue(orderId) +
                      "' is booked as receipt " + recNo +
                      " but could not be marked taken on the portal (" + e.what() +
                      "); the next cycle marks it");
    throw;
  }
  const std::string others = otherMarks(ctx.remote, recNo, orderId);
  if (!others.empty()) {
    ctx.journal.error("gateway payment with order id '" + shownValue(orderId) +
                      "' was booked here as receipt " + recNo +
                      " but another program marked it taken on the portal meanwhile (receipt " +
                      others + "); the portal's mark is kept: cancel one of the two receipts");
  }
}

// What one run of the stage remembers across its payments.
struct PostingRun {
  explicit PostingRun(Journal& journal) : setAside(journal, "gateway payment") {}
  // Order ids marked in this batch: a second pending row of the same order
  // id read with it (the mark covers every row of it) needs no repair. A
  // later batch is read after the mark and no longer holds such a row.
  std::set<std::string> marked;
  // Order ids in paygate, pending on the portal, with no receipt to mark
  // them with: how many, and the first of them.
  std::size_t unmarkable = 0;
  std::vector<std::string> unmarkableNamed;
  // Payments left pending for their own values.
  SetAsideRows setAside;
};

// A pending payment whose order id is in paygate was booked by an earlier
// cycle whose mark was lost (a failed update, a killed agent or server):
// the portal gets the mark the booking would have written.
void repairLostMark(CycleContext& ctx, const GatewayPayment& p, PostingRun& run) {
  if (run.marked.count(p.orderId) != 0) return;
  const std::string recNo = bookingReceipt(ctx.local, p.orderId);
  if (recNo.empty()) {
    if (++run.unmarkable <= SetAsideRows::kNamedRows) run.unmarkableNamed.push_back(p.orderId);
    return;
  }
  markTaken(ctx, recNo, p.orderId);
  run.marked.insert(p.orderId);
  ctx.journal.info("gateway payment with order id '" + shownValue(p.orderId) +
                   "' was booked as receipt " + recNo +
                   " but not marked taken on the portal; marked now");
}

// Books one payment; false when it is passed over.
bool postPayment(CycleContext& ctx, const GatewayPayment& p, PostingRun& run) {
  if (alreadyBooked(ctx.local, p.orderId)) {
    repairLostMark(ctx, p, run);
    return false;
  }
  std::optional<LocalStudent> student = findStudent(ctx.local, p.admNo);
  if (!student) {
    run.setAside.note("order id", p.orderId,
                      "student '" + shownValue(p.admNo) + "' is unknown locally");
    return false;
  }
  createBalanceViews(ctx.local, student->degree, p.admNo);
  std::vector<FeeBalance> balances = readBalances(ctx.local, p.admNo);
  if (balances.empty()) {
    run.setAside.note("order id", p.orderId,
                      "student '" + shownValue(p.admNo) + "' has no fee rows locally");
    return false;
  }
  HeldMessages held;
  std::string recNo;
  Booking booking = Booking::Written;
  try {
    booking = writeReceipt(ctx, p, *student, balances, held, &recNo);
  } catch (const AgentError& e) {
    // Rolled back by now, the receipt number with it.
    if (!isDataError(e)) throw;
    if (ctx.watch != nullptr) ctx.watch->clearFailure();  // handled here, not the cycle's end
    run.setAside.note("order id", p.orderId,
                      "the local database refused its values (" + e.description() + ")");
    return false;
  }
  held.showOn(ctx.messages);
  if (booking == Booking::NoReceiptNumber) {
    ctx.messages.show(kDuplicateReceiptNumberMessage, MessageIcon::Exclamation);
    throw CycleAbort(kDuplicateReceiptNumberMessage);
  }
  if (booking == Booking::BookedElsewhere) return false;
  markTaken(ctx, recNo, p.orderId);
  run.marked.insert(p.orderId);
  return true;
}

}  // namespace

std::size_t postGatewayPayments(CycleContext& ctx) {
  std::size_t booked = 0;
  PostingRun run(ctx.journal);
  PendingPayments pending(ctx.remote);
  for (auto batch = pending.next(); !batch->eof(); batch = pending.next()) {
    run.marked.clear();
    for (; !batch->eof(); batch->moveNext()) {
      pending.passed(*batch);
      std::string problem;
      std::optional<GatewayPayment> payment = readPayment(*batch, &problem);
      if (!payment) {
        run.setAside.note("order id", valueText(batch->field("forderid")), problem);
        continue;
      }
      if (postPayment(ctx, *payment, run)) ++booked;
    }
  }
  if (run.unmarkable > 0) {
    // One line a cycle, however many: it repeats every cycle until someone
    // puts the receipt or the paygate row right.
    std::string ids;
    for (const std::string& id : run.unmarkableNamed) {
      ids += (ids.empty() ? "'" : ", '") + shownValue(id) + "'";
    }
    if (run.unmarkable > run.unmarkableNamed.size()) ids += ", ...";
    ctx.journal.warning(std::to_string(run.unmarkable) +
                        " pending gateway payment(s) are in paygate but no local receipt holds "
                        "their order id (" +
                        ids + "); left pending on the portal");
  }
  return booked;
}

}  // namespace agent
