#include "payments/receipt_numbers.h"

#include <cmath>
#include <cstdio>

#include "db/error.h"
#include "payments/sql_literal.h"

namespace agent {

namespace {

// ADO's error for reading a field where there is no current row.
constexpr long kNoCurrentRecord = -2146825267;  // 0x800A0BCD

bool receiptExists(Connection& local, const std::string& recNo) {
  auto rs = local.query("select frecno from rechead where frecno = " + localLiteral(recNo),
                        Cursor::Static);
  return !rs->eof();
}

// Steps for a college of a group: the group row, the number, the check, the
// group counter advanced.
std::string fromGroupCounter(Connection& local, MessageSink& messages,
                             const std::string& groupCode) {
  auto group = local.query(
      "select fgroupcode, frecprefix, freclastno as flasttcode from collgroup where "
      "fgroupcode = " +
          localLiteral(groupCode),
      Cursor::Static);
  if (group->eof()) {
    messages.show(kMissingGroupMessage, MessageIcon::None);
    return {};
  }
  const std::int64_t serial = nextSerial(group->field("flasttcode"));
  const std::string recNo = formatReceiptNumber(valueText(group->field("frecprefix")), serial);
  if (receiptExists(local, recNo)) {
    messages.show(kDuplicateReceiptMessage, MessageIcon::Exclamation);
    return {};
  }
  local.execute("update collgroup set freclastno = " + std::to_string(serial) +
                " where fgroupcode = " + localLiteral(valueText(group->field("fgroupcode"))));
  return recNo;
}

// Steps for a college without a group: the control counter.
std::string fromControlCounter(Connection& local, MessageSink& messages) {
  auto control = local.query("select frecno as flasttcode from control", Cursor::Static);
  if (control->eof()) {
    throw AgentError(kNoCurrentRecord,
                     "Either BOF or EOF is True, or the current record has been deleted. "
                     "Requested operation requires a current record. (control has no row for "
                     "the receipt counter)");
  }
  const std::string recNo = formatReceiptNumber("", nextSerial(control->field("flasttcode")));
  if (receiptExists(local, recNo)) {
    messages.show(kDuplicateReceiptMessage, MessageIcon::Exclamation);
    return {};
  }
  local.execute("update control set frecno=" + localLiteral(recNo));
  return recNo;
}

}  // namespace

std::string getRecNo(Connection& local, MessageSink& messages, const std::string& collegeCode) {
  std::string groupCode;
  {
    auto college =
        local.query("select * from college where fcollcode = " + localLiteral(collegeCode) +
                        " and isnull(fgroupcode,'') <> ''",
                    Cursor::Static);
    if (!college->eof()) groupCode = valueText(college->field("fgroupcode"));
  }
  if (groupCode.empty()) return fromControlCounter(local, messages);
  return fromGroupCounter(local, messages, groupCode);
}

std::int64_t nextSerial(const Value& storedCounter) {
  const double last = std::floor(numberOf(storedCounter).value_or(0));
  if (last >= 1e15) {
    throw AgentError(error_number::kOverflow,
                     "Overflow: receipt counter " + valueText(storedCounter) + " is too large");
  }
  return static_cast<std::int64_t>(last) + 1;
}

std::string formatReceiptNumber(const std::string& prefix, std::int64_t serial) {
  char digits[32];
  std::snprintf(digits, sizeof digits, "%06lld", static_cast<long long>(serial));
  return prefix + digits;
}

}  // namespace agent
