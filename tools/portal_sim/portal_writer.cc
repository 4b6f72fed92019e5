#include "tools/portal_sim/portal_writer.h"

#include <cstdio>

#include "base/regional.h"

namespace agent {

namespace {

std::string sqlDate(const std::optional<DateTime>& dt) {
  if (!dt) return "NULL";
  char buf[32];
  std::snprintf(buf, sizeof buf, "'%04d-%02d-%02d %02d:%02d:%02d'", dt->year, dt->month, dt->day,
                dt->hour, dt->minute, dt->second);
  return buf;
}

std::string sqlAmount(const std::optional<double>& amount) {
  return amount ? plainNumber(*amount, ".") : "NULL";
}

// A hexadecimal literal with a character set introducer: stored as given
// in any SQL mode and converted to the column's character set.
std::string sqlText(const std::string& text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out = "_utf8mb4 X'";
  for (unsigned char c : text) {
    out += kHex[c >> 4];
    out += kHex[c & 0x0F];
  }
  return out + "'";
}

}  // namespace

void PortalWriter::addPayment(const CapturedPayment& p) {
  remote_.execute(
      "insert into rzp_paymentgateway(fadmno, famtpaidtoinst, fdate, forderid, ftransactionid, "
      "fmodeofpayment, fstatus) values(" +
      sqlText(p.admNo) + ", " + sqlAmount(p.amount) + ", " + sqlDate(p.date) + ", " +
      sqlText(p.orderId) + ", " + sqlText(p.transactionId) + ", " + sqlText(p.mode) + ", " +
      sqlText(p.status) + ")");
}

void PortalWriter::addReceipt(const PortalReceipt& r) {
  const std::string recNo = sqlText(r.recNo);
  const std::string deleted = r.deleted.empty() ? "NULL" : sqlText(r.deleted);
  remote_.execute(
      "insert into rechead(frecno, frecdate, fadmno, ftotal, fdegree, fexamno, fdiscount, "
      "fnettotal, fremarks, fpaytype, fdeleted) values(" +
      recNo + ", " + sqlDate(r.date) + ", " + sqlText(r.admNo) + ", " + sqlAmount(r.total) + ", " +
      sqlText(r.degree) + ", " + sqlText(r.examNo) + ", 0, " + sqlAmount(r.netTotal) + ", " +
      sqlText(r.remarks) + ", 'PG', " + deleted + ")");
  for (const PortalReceiptLine& line : r.lines) {
    remote_.execute("insert into recdetl(frecno, fheadcode, famount, fpaytype, fdeleted) values(" +
                    recNo + ", " + sqlText(line.headCode) + ", " + sqlAmount(line.amount) +
                    ", 'PG', " + deleted + ")");
  }
  for (const PortalPaymentMode& mode : r.modes) {
    remote_.execute(
        "insert into recmode(frecno, fpaytype, famount, finstrno, finstrdate, finstrbank, "
        "fdeleted) values(" +
        recNo + ", 'PG', " + sqlAmount(mode.amount) + ", " + sqlText(mode.instrumentNo) + ", " +
        sqlDate(mode.instrumentDate) + ", 'ONLINE', " + deleted + ")");
  }
}

void PortalWriter::addStudent(const std::string& admNo, const std::string& name,
                              const std::string& degree) {
  remote_.execute("insert into student(fadmno, fname, fdegree) values(" + sqlText(admNo) + ", " +
                  sqlText(name) + ", " + sqlText(degree) + ")");
}

}  // namespace agent
