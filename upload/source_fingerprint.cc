#include "upload/source_fingerprint.h"

#include <optional>
#include <vector>

#include "base/text.h"
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

// The table's part: its row count and the sum. The hash is named once:
// the embedded engine's SQLite would copy a derived column named twice into
// each place, and take every row's hash twice.
std::string tableSelect(const FingerprintTable& table) {
  std::string row;
  for (const FingerprintColumn& column : table.columns) {
    if (!row.empty()) row += " + ";
    row += columnText(column);
  }
  // The hash's last 8 bytes as a BIGINT, of which 36 bits are summed: a sum
  // that cannot overflow below 2^27 rows.
  return "SELECT CONVERT(VARCHAR(30), COUNT(*)) AS FROWS, CONVERT(VARCHAR(30), "
         "SUM(CAST(HASHBYTES('SHA2_256', " +
         row + ") AS BIGINT) % CAST(68719476736 AS BIGINT))) AS FSUM FROM " +
         std::string(table.name);
}

constexpr const char* kTodaySelect = "SELECT CONVERT(VARCHAR(30), DATEDIFF(D, 0, GETDATE()))";

// One part as text: "<name> <values>"; empty when a sum is NULL over rows
// (no SHA2_256 on this server).
std::string takePart(Connection& local, const std::string& name, const std::string& sql) {
  std::unique_ptr<Recordset> rows = local.query(sql, Cursor::Forward);
  if (rows->eof()) return "";
  std::string part = name;
  bool none = false;
  for (std::size_t i = 0; i < rows->fieldCount(); ++i) {
    const Value& v = rows->field(i);
    if (i == 0) none = v.textValue() == "0";
    // A table without rows has NULL sums.
    if (v.isNull() && !(none && i > 0)) return "";
    part += ' ' + v.textValue();
  }
  return part;
}

}  // namespace

std::string sourceFingerprint(Connection& local, std::span<const FingerprintTable> tables,
                              const std::string& known) {
  // "a;b;...;": the parts in order (and an empty one after the last).
  std::vector<std::string> knownParts = split(known, ';');
  std::string fingerprint;
  for (std::size_t i = 0; i <= tables.size(); ++i) {
    std::string part = i < tables.size() ? takePart(local, tables[i].name, tableSelect(tables[i]))
                                         : takePart(local, "TODAY", kTodaySelect);
    if (part.empty()) return "";
    if (!known.empty() && (i >= knownParts.size() || knownParts[i] != part)) return "";
    fingerprint += part + ';';
  }
  return fingerprint;
}

namespace {

// The fingerprint with its label, stopping as sourceFingerprint() does
// when vouched is of the same label; empty once a part differs.
std::string labelledFingerprint(Connection& local, const ComputedSource& source,
                                const AheadInput& input, const std::string& vouched) {
  std::string label = input.label + ';';
  // Vouched rows of another label are taken whole (and then differ): the
  // first part read is always a table's (see inOneSnapshot()).
  std::string known;
  if (vouched.compare(0, label.size(), label) == 0) known = vouched.substr(label.size());
  std::string rows = sourceFingerprint(local, source.tables, known);
  return rows.empty() ? rows : label + rows;
}

constexpr const char* kSnapshotLevel = "SET TRANSACTION ISOLATION LEVEL SNAPSHOT";
constexpr const char* kUsualLevel = "SET TRANSACTION ISOLATION LEVEL READ COMMITTED";

void rollBackQuietly(Connection& local) {
  try {
    local.execute("ROLLBACK TRANSACTION");
  } catch (const AgentError&) {
    // Nothing was open: the server ended the transaction itself.
  }
}

// The fingerprint and the source in one snapshot of the local database, so
// that the source is made from exactly the rows fingerprinted. nullopt,
// with nothing made, where the server gives no snapshot (SQL Server
// refuses the first read of a table in a snapshot transaction unless the
// database allows them: the fingerprint's first part reads one).
std::optional<AheadSources> inOneSnapshot(Connection& local, const ComputedSource& source,
                                          const AheadInput& input) {
  struct UsualLevelAfter {
    Connection& local;
    ~UsualLevelAfter() {
      try {
        local.execute(kUsualLevel);
      } catch (const AgentError&) {
        // The connection is gone; so is its level.
      }
    }
  } usualLevel{local};
  local.execute(kSnapshotLevel);
  local.execute("BEGIN TRANSACTION");
  AheadSources made;
  try {
    made.fingerprint = labelledFingerprint(local, source, input, input.vouched);
  } catch (const AgentError&) {
    rollBackQuietly(local);
    return std::nullopt;
  }
  made.skipped = !made.fingerprint.empty() && made.fingerprint == input.vouched;
  try {
    if (!made.skipped) source.make(local, input);
    local.execute("COMMIT TRANSACTION");
  } catch (const AgentError&) {
    rollBackQuietly(local);
    throw;
  }
  return made;
}

// The source, fingerprinted (see makeComputedSource()).
AheadSources fingerprintedSource(Connection& local, const ComputedSource& source,
                                 const AheadInput& input) {
  if (std::optional<AheadSources> made = inOneSnapshot(local, source, input)) return *made;
  std::string before = labelledFingerprint(local, source, input, input.vouched);
  // The rows the state's lines were made from make the same lines.
  if (!before.empty() && before == input.vouched) return {before, true};
  source.make(local, input);
  if (before.empty()) return {};
  // Rows that changed while the source was made vouch for nothing.
  std::string after = labelledFingerprint(local, source, input, "");
  return {before == after ? before : std::string(), false};
}

}  // namespace

std::string makeSkippedSource(Connection& local, const ComputedSource& source, AheadInput input) {
  // Vouching for nothing, the fingerprint cannot leave the source out again.
  input.vouched.clear();
  return fingerprintedSource(local, source, input).fingerprint;
}

AheadSources makeComputedSource(Connection& local, const ComputedSource& source,
                                const AheadInput& input) {
  if (!input.fingerprints) {
    source.make(local, input);
    return {};
  }
  return fingerprintedSource(local, source, input);
}

AheadInput computedSourceInput(const CycleContext& ctx, const std::string& table,
                               const std::string& label) {
  // The same rows written with other regional settings give other lines.
  const RegionalSettings& r = ctx.config.regional;
  AheadInput input{ctx.univCode,
                   false,
                   {},
                   label + ", written as " + r.shortDate + ' ' + r.longTime + ' ' +
                       r.dateSeparator + r.timeSeparator + r.decimalSeparator};
  if (ctx.changes.state == nullptr) return input;
  input.fingerprints = true;
  std::optional<ChangeState::TableState> known = ctx.changes.state->table(table);
  if (known && known->finished) input.vouched = known->sources;
  return input;
}

}  // namespace agent
