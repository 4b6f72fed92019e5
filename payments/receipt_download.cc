#include "payments/receipt_download.h"

#include <initializer_list>
#include <optional>
#include <string>

#include "base/text.h"
#include "payments/sql_literal.h"

namespace agent {

namespace {

constexpr const char* kPortalHeaders =
    "select rechead.*, student.fname from rechead, student where rechead.fadmno = "
    "student.fadmno and rechead.fpaytype = 'PG' and ifnull(rechead.fdeleted,'') <> 'T' order by "
    "rechead.frecno";
constexpr const char* kPortalLines =
    "select * from recdetl where fpaytype = 'PG' and ifnull(fdeleted,'') <> 'T' order by frecno, "
    "fheadcode";
constexpr const char* kPortalModes =
    "select * from recmode where fpaytype = 'PG' and ifnull(fdeleted,'') <> 'T' order by frecno";

// The name used when the portal's student has none.
constexpr const char* kNameless = "NAME";

// The text of field as a local literal: the platform's default conversion,
// quoted safely.
std::string textLiteral(const Recordset& row, std::string_view field) {
  return localLiteral(valueText(row.field(field)));
}

// convert(datetime,'dd/mm/yyyy[ HH:mm:ss]') for a date field, nullopt when
// the field holds no date.
std::optional<std::string> dateExpression(const Recordset& row, std::string_view field) {
  std::optional<DateTime> dt = dateTimeOf(row.field(field));
  if (!dt) return std::nullopt;
  return "convert(datetime," + localLiteral(dayMonthYearTime(*dt)) + ")";
}

std::optional<std::string> amountOf(const Recordset& row, std::string_view field) {
  std::optional<double> amount = numberOf(row.field(field));
  if (!amount) return std::nullopt;
  return amountText(*amount);
}

// The name the header carries: the student's, or "NAME" when that is
// empty. The student's name is the last fname of the row (the joined
// student column comes after the header's own).
std::string studentName(const Recordset& row) {
  std::string name;
  for (std::size_t i = 0; i < row.fieldCount(); ++i) {
    if (equalsIgnoreCase(row.fieldName(i), "fname")) name = valueText(row.field(i));
  }
  return name.empty() ? kNameless : name;
}

bool found(Connection& local, const std::string& sql) {
  return !local.query(sql, Cursor::Static)->eof();
}

void warnLeftOut(CycleContext& ctx, const std::string& what, const std::string& recNo) {
  ctx.journal.warning("portal " + what + " of receipt '" + recNo +
                      "' has a NULL amount or date; left out");
}

// False, with a journal warning, when one of the identifier fields of the
// row (receipt number, instrument number) holds a control character: the
// row is left out rather than booked under an id cut at a NUL or one that
// matches no portal row.
bool identifiersUsable(CycleContext& ctx, const std::string& what, const Recordset& row,
                       std::initializer_list<std::string_view> fields) {
  for (std::string_view field : fields) {
    const std::string text = valueText(row.field(field));
    if (hasControlCharacter(text)) {
      ctx.journal.warning("portal " + what + " with " + std::string(field) + " '" + text +
                          "' holds a control character in an id; left out");
      return false;
    }
  }
  return true;
}

std::size_t copyHeaders(CycleContext& ctx) {
  std::size_t inserted = 0;
  auto rows = ctx.remote.query(kPortalHeaders, Cursor::Forward);
  for (; !rows->eof(); rows->moveNext()) {
    const Recordset& row = *rows;
    if (!identifiersUsable(ctx, "header", row, {"frecno"})) continue;
    const std::string recNo = textLiteral(row, "frecno");
    if (found(ctx.local, "select * from rechead where frecno = " + recNo)) continue;
    std::optional<std::string> recDate = dateExpression(row, "frecdate");
    std::optional<std::string> total = amountOf(row, "ftotal");
    std::optional<std::string> netTotal = amountOf(row, "fnettotal");
    if (!recDate || !total || !netTotal) {
      warnLeftOut(ctx, "header", valueText(row.field("frecno")));
      continue;
    }
    ctx.local.execute(
        "insert into rechead(frecno, frecdate, frectype, freccode, fname, faccno, ftotal, "
        "fdegree, fexamno, fremarks, fnettotal, fusername, fcardamount, fcardno, fcarddate, "
        "fcardbankname, fdiscount) values(" +
        recNo + ", " + *recDate + ", 'S', " + textLiteral(row, "fadmno") + ", " +
        localLiteral(studentName(row)) + ", " + textLiteral(row, "fpaytype") + ", " + *total +
        ", " + textLiteral(row, "fdegree") + ", " + textLiteral(row, "fexamno") + ", " +
        textLiteral(row, "fremarks") + ", " + *netTotal + ", 'online', " + *netTotal + ", " +
        recNo + ", " + *recDate + ", 'ONLINE',0)");
    ++inserted;
  }
  return inserted;
}

std::size_t copyLines(CycleContext& ctx) {
  std::size_t inserted = 0;
  auto rows = ctx.remote.query(kPortalLines, Cursor::Forward);
  for (; !rows->eof(); rows->moveNext()) {
    const Recordset& row = *rows;
    if (!identifiersUsable(ctx, "line", row, {"frecno"})) continue;
    const std::string recNo = textLiteral(row, "frecno");
    const std::string headCode = textLiteral(row, "fheadcode");
    if (found(ctx.local,
              "select * from recdetl where frecno = " + recNo + " and fheadcode = " + headCode)) {
      continue;
    }
    std::optional<std::string> amount = amountOf(row, "famount");
    if (!amount) {
      warnLeftOut(ctx, "line", valueText(row.field("frecno")));
      continue;
    }
    ctx.local.execute("insert into recdetl(frecno, fheadcode, famount) values(" + recNo + ", " +
                      headCode + ", " + *amount + ")");
    ++inserted;
  }
  return inserted;
}

void applyPaymentModes(CycleContext& ctx) {
  auto rows = ctx.remote.query(kPortalModes, Cursor::Forward);
  for (; !rows->eof(); rows->moveNext()) {
    const Recordset& row = *rows;
    if (!identifiersUsable(ctx, "payment mode", row, {"frecno", "finstrno"})) continue;
    const std::string recNo = textLiteral(row, "frecno");
    std::optional<std::string> amount = amountOf(row, "famount");
    std::optional<std::string> instrumentDate = dateExpression(row, "finstrdate");
    if (!amount || !instrumentDate) {
      warnLeftOut(ctx, "payment mode", valueText(row.field("frecno")));
      continue;
    }
    ctx.local.execute(
        "update rechead set fcardamount = " + *amount +
        ", fcardno = " + textLiteral(row, "finstrno") + ", fcarddate = " + *instrumentDate +
        ", fcardbankname = 'ONLINE' where frecno = " + recNo + " and fcardno = " + recNo);
  }
}

}  // namespace

std::size_t downloadPortalReceipts(CycleContext& ctx) {
  std::size_t inserted = copyHeaders(ctx);
  inserted += copyLines(ctx);
  applyPaymentModes(ctx);
  return inserted;
}

}  // namespace agent
