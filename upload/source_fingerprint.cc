#include "upload/source_fingerprint.h"

#include <map>
#include <optional>

#include "upload/change_state.h"

namespace agent {

namespace {

// A column as text that tells NULL ('~') from every value ('|' and its
// text).
std::string columnText(const FingerprintColumn& column) {
  std::string value;
  switch (column.kind) {
    case FingerprintKind::Text:
      value = column.name;
      break;
    case FingerprintKind::Number:
      value = std::string("CONVERT(VARCHAR(40), ") + column.name + ")";
      break;
    case FingerprintKind::Date:
      value = std::string("CONVERT(VARCHAR(23), ") + column.name + ", 121)";
      break;
  }
  return "ISNULL('|' + " + value + ", '~')";
}

std::string tableSelect(const FingerprintTable& table) {
  std::string row;
  for (const FingerprintColumn& column : table.columns) {
    if (!row.empty()) row += " + ";
    row += columnText(column);
  }
  // The hash's last 8 bytes as a BIGINT, summed in two halves that cannot
  // overflow.
  return std::string("SELECT '") + table.name +
         "' AS FTABLE, CONVERT(VARCHAR(30), COUNT(*)) AS FROWS, CONVERT(VARCHAR(30), SUM(H % "
         "CAST(4294967296 AS BIGINT))) AS FLOW, CONVERT(VARCHAR(30), SUM(H / CAST(4294967296 AS "
         "BIGINT))) AS FHIGH FROM (SELECT CAST(HASHBYTES('SHA2_256', " +
         row + ") AS BIGINT) AS H FROM " + table.name + ") AS X";
}

}  // namespace

std::string fingerprintStatement(std::span<const FingerprintTable> tables) {
  std::string sql;
  for (const FingerprintTable& table : tables) sql += tableSelect(table) + " UNION ALL ";
  return sql +
         "SELECT 'TODAY' AS FTABLE, CONVERT(VARCHAR(30), DATEDIFF(D, 0, GETDATE())) AS FROWS, "
         "'' AS FLOW, '' AS FHIGH";
}

std::string sourceFingerprint(Connection& local, std::span<const FingerprintTable> tables) {
  // By name: the server returns the rows of a union in no set order.
  std::map<std::string, std::string> parts;
  std::unique_ptr<Recordset> rows = local.query(fingerprintStatement(tables), Cursor::Forward);
  for (; !rows->eof(); rows->moveNext()) {
    const Value& count = rows->field(1);
    const Value& low = rows->field(2);
    const Value& high = rows->field(3);
    bool empty = count.textValue() == "0";
    if (count.isNull() || (!empty && (low.isNull() || high.isNull()))) return "";
    parts[rows->field(0).textValue()] =
        count.textValue() + ' ' + low.textValue() + ' ' + high.textValue();
  }
  if (parts.size() != tables.size() + 1) return "";
  std::string fingerprint;
  for (const auto& [table, part] : parts) fingerprint += table + ' ' + part + ';';
  return fingerprint;
}

AheadInput computedSourceInput(const CycleContext& ctx, const std::string& table) {
  AheadInput input{ctx.univCode, false, {}};
  if (ctx.changes == nullptr) return input;
  input.fingerprints = true;
  std::optional<ChangeState::TableState> known = ctx.changes->table(table);
  if (known && known->finished) input.vouched = known->sources;
  return input;
}

}  // namespace agent
