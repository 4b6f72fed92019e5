#include "payments/receipt_download.h"

#include <initializer_list>
#include <optional>
#include <string>

#include "base/text.h"
#include "payments/set_aside.h"
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

// Why the row's own values keep it out of the local tables, or nullopt:
// a control character in one of its texts (an id cut at a NUL would match
// no portal row), a NULL date, a NULL amount or one that is not positive or
// does not fit the local money columns.
std::optional<std::string> rowProblem(const Recordset& row,
                                      std::initializer_list<std::string_view> texts,
                                      std::initializer_list<std::string_view> amounts,
                                      std::initializer_list<std::string_view> dates) {
  for (std::string_view field : texts) {
    if (auto bad = textProblem(field, valueText(row.field(field)))) return bad;
  }
  for (std::string_view field : dates) {
    if (!dateTimeOf(row.field(field))) return std::string(field) + " is NULL or no date";
  }
  for (std::string_view field : amounts) {
    std::optional<double> amount = numberOf(row.field(field));
    if (!amount) return std::string(field) + " is NULL";
    if (auto bad = amountProblem(*amount)) return std::string(field) + ": " + *bad;
  }
  return std::nullopt;
}

// Runs one local insert or update of a portal row; false, with the row set
// aside, when the local database refuses the row's values (text longer than
// its column, a number out of range). Other errors are thrown.
bool writeRow(CycleContext& ctx, SetAsideRows& setAside, const std::string& recNo,
              const std::string& sql) {
  try {
    ctx.local.execute(sql);
    return true;
  } catch (const AgentError& e) {
    if (!isDataError(e)) throw;
    if (ctx.watch != nullptr) ctx.watch->clearFailure();  // handled here, not the cycle's end
    setAside.note("receipt number", recNo,
                  "the local database refused its values (" + e.description() + ")");
    return false;
  }
}

std::size_t copyHeaders(CycleContext& ctx) {
  std::size_t inserted = 0;
  SetAsideRows setAside(ctx.journal, "portal receipt header");
  auto rows = ctx.remote.query(kPortalHeaders, Cursor::Forward);
  for (; !rows->eof(); rows->moveNext()) {
    const Recordset& row = *rows;
    const std::string recNoText = valueText(row.field("frecno"));
    if (auto bad = rowProblem(row, {"frecno"}, {}, {})) {
      setAside.note("receipt number", recNoText, *bad);
      continue;
    }
    const std::string recNo = localLiteral(recNoText);
    if (found(ctx.local, "select * from rechead where frecno = " + recNo)) continue;
    const std::string name = studentName(row);
    std::optional<std::string> bad =
        rowProblem(row, {"fadmno", "fpaytype", "fdegree", "fexamno", "fremarks"},
                   {"ftotal", "fnettotal"}, {"frecdate"});
    if (!bad) bad = textProblem("fname", name);
    if (bad) {
      setAside.note("receipt number", recNoText, *bad);
      continue;
    }
    const std::string recDate = *dateExpression(row, "frecdate");
    const std::string total = *amountOf(row, "ftotal");
    const std::string netTotal = *amountOf(row, "fnettotal");
    if (writeRow(ctx, setAside, recNoText,
                 "insert into rechead(frecno, frecdate, frectype, freccode, fname, faccno, ftotal, "
                 "fdegree, fexamno, fremarks, fnettotal, fusername, fcardamount, fcardno, "
                 "fcarddate, fcardbankname, fdiscount) values(" +
                     recNo + ", " + recDate + ", 'S', " + textLiteral(row, "fadmno") + ", " +
                     localLiteral(name) + ", " + textLiteral(row, "fpaytype") + ", " + total +
                     ", " + textLiteral(row, "fdegree") + ", " + textLiteral(row, "fexamno") +
                     ", " + textLiteral(row, "fremarks") + ", " + netTotal + ", 'online', " +
                     netTotal + ", " + recNo + ", " + recDate + ", 'ONLINE',0)")) {
      ++inserted;
    }
  }
  return inserted;
}

std::size_t copyLines(CycleContext& ctx) {
  std::size_t inserted = 0;
  SetAsideRows setAside(ctx.journal, "portal receipt line");
  auto rows = ctx.remote.query(kPortalLines, Cursor::Forward);
  for (; !rows->eof(); rows->moveNext()) {
    const Recordset& row = *rows;
    const std::string recNoText = valueText(row.field("frecno"));
    if (auto bad = rowProblem(row, {"frecno", "fheadcode"}, {}, {})) {
      setAside.note("receipt number", recNoText, *bad);
      continue;
    }
    const std::string recNo = localLiteral(recNoText);
    const std::string headCode = textLiteral(row, "fheadcode");
    if (found(ctx.local,
              "select * from recdetl where frecno = " + recNo + " and fheadcode = " + headCode)) {
      continue;
    }
    if (auto bad = rowProblem(row, {}, {"famount"}, {})) {
      setAside.note("receipt number", recNoText, *bad);
      continue;
    }
    if (writeRow(ctx, setAside, recNoText,
                 "insert into recdetl(frecno, fheadcode, famount) values(" + recNo + ", " +
                     headCode + ", " + *amountOf(row, "famount") + ")")) {
      ++inserted;
    }
  }
  return inserted;
}

void applyPaymentModes(CycleContext& ctx) {
  SetAsideRows setAside(ctx.journal, "portal payment mode");
  auto rows = ctx.remote.query(kPortalModes, Cursor::Forward);
  for (; !rows->eof(); rows->moveNext()) {
    const Recordset& row = *rows;
    const std::string recNoText = valueText(row.field("frecno"));
    if (auto bad = rowProblem(row, {"frecno", "finstrno"}, {"famount"}, {"finstrdate"})) {
      setAside.note("receipt number", recNoText, *bad);
      continue;
    }
    const std::string recNo = localLiteral(recNoText);
    writeRow(ctx, setAside, recNoText,
             "update rechead set fcardamount = " + *amountOf(row, "famount") +
                 ", fcardno = " + textLiteral(row, "finstrno") +
                 ", fcarddate = " + *dateExpression(row, "finstrdate") +
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
