#include "cycle/server_warnings.h"

#include <algorithm>
#include <cstdlib>
#include <map>
#include <set>
#include <vector>

#include <fmt/format.h>

#include "base/errors.h"
#include "base/text.h"

namespace agent {

namespace {

// Warnings that say a stored value differs from the one sent: out of range,
// truncated, too long, an incorrect value (a character the column's
// character set cannot hold), a NULL into a NOT NULL column, a line with
// too few or too many fields. A duplicate key (1062) is how the insert load
// leaves existing rows alone, and notes (a drop of a missing table) change
// nothing.
constexpr int kChangedValueCodes[] = {1048, 1261, 1262, 1263, 1264, 1265, 1292, 1366, 1406};

// The server lists at most this many warnings of a statement by default.
constexpr std::size_t kListedWarnings = 64;

std::string nextWord(std::string_view text) {
  text = trimView(text, " \t\r\n");
  std::size_t end = text.find_first_of(" \t\r\n(,;");
  std::string word = toLowerAscii(text.substr(0, end));
  word.erase(std::remove(word.begin(), word.end(), '`'), word.end());
  return word;
}

// What follows the first occurrence of word (case-insensitive) in sql.
std::string_view after(std::string_view sql, std::string_view word) {
  std::string lowered = toLowerAscii(sql);
  std::size_t at = lowered.find(word);
  return at == std::string::npos ? std::string_view() : sql.substr(at + word.size());
}

// The column a warning names: "for column 'c' at row 1", "for column
// `db`.`t`.`c` at row 1", "NOT NULL column 'c'", "Column 'c' cannot be
// null"; empty when it names none (a line with too few fields).
std::string columnOf(const std::string& message) {
  std::string lowered = toLowerAscii(message);
  std::size_t at = lowered.find("column ");
  if (at == std::string::npos) return "";
  std::string_view rest = std::string_view(message).substr(at + 7);
  if (rest.starts_with("'")) return std::string(rest.substr(1, rest.find('\'', 1) - 1));
  if (!rest.starts_with("`")) return "";
  std::size_t end = rest.find(' ');
  std::string_view quoted = rest.substr(0, end);
  std::size_t last = quoted.rfind("`.`");
  std::string_view name = last == std::string_view::npos ? quoted : quoted.substr(last + 2);
  return std::string(trimView(name, "`"));
}

long long numberOf(const Value& v) {
  return v.isNumber() ? static_cast<long long>(v.numberValue()) : std::atoll(v.textValue().c_str());
}

struct ChangedColumn {
  std::size_t values = 0;
  std::string firstMessage;
  bool number = false;  // a numeric column
};

}  // namespace

void ServerWarnings::add(const std::string& table, std::size_t values) {
  MutexLock lock(mutex_);
  tables_[table] += values;
}

std::size_t ServerWarnings::changedValues() const {
  MutexLock lock(mutex_);
  // A value clipped in a staging load is clipped again in the insert load
  // of the same file: a table and its staging table count once, the larger.
  std::size_t n = 0;
  for (const auto& [table, values] : tables_) {
    auto staging = tables_.find("tmp" + table);
    if (staging != tables_.end()) {
      n += std::max(values, staging->second);
    } else if (!(table.starts_with("tmp") && tables_.count(table.substr(3)) != 0)) {
      n += values;
    }
  }
  return n;
}

std::size_t ServerWarnings::changedValues(std::string_view table) const {
  MutexLock lock(mutex_);
  std::size_t n = 0;
  for (const std::string& name : {std::string(table), "tmp" + std::string(table)}) {
    auto found = tables_.find(name);
    if (found != tables_.end()) n += found->second;
  }
  return n;
}

std::string tableWritten(std::string_view sql) {
  const std::string head = nextWord(sql);
  if (head == "load") return nextWord(after(sql, " into table "));
  if (head == "update") return nextWord(trimView(sql, " \t\r\n").substr(6));
  if (head == "insert" || head == "replace") return nextWord(after(sql, "into "));
  if (head == "delete") return nextWord(after(sql, "from "));
  return "";
}

void WarningCheckedConnection::execute(const std::string& sql) {
  target().execute(sql);
  const std::string table = tableWritten(sql);
  if (!table.empty()) checkWarnings(sql, table);
}

void WarningCheckedConnection::checkWarnings(const std::string& sql, const std::string& table) {
  struct Warning {
    long long code;
    std::string message;  // "1265 Data truncated for column 'c' at row 1"
    std::string column;
  };
  std::vector<Warning> warnings;
  std::size_t listed = 0;
  {
    std::unique_ptr<Recordset> rs = target().query("show warnings", Cursor::Static);
    for (; !rs->eof(); rs->moveNext(), ++listed) {
      if (equalsIgnoreCase(rs->field(std::size_t{0}).textValue(), "Note")) continue;
      const long long code = numberOf(rs->field(1));
      if (std::find(std::begin(kChangedValueCodes), std::end(kChangedValueCodes), code) ==
          std::end(kChangedValueCodes)) {
        continue;
      }
      std::string message = fmt::format("{} {}", code, rs->field(2).textValue());
      std::string column = columnOf(message);
      warnings.push_back({code, std::move(message), std::move(column)});
    }
  }
  if (warnings.empty()) return;
  const std::map<std::string, ColumnKind> kinds = columnKinds(table);
  std::map<std::string, ChangedColumn> columns;
  std::size_t changed = 0;
  for (const Warning& w : warnings) {
    auto found = kinds.find(toLowerAscii(w.column));
    const ColumnKind kind = found == kinds.end() ? ColumnKind::Other : found->second;
    // An empty field stores a number's 0 or a date's zero date, as the
    // export has always had it (a NULL is written as an empty field).
    if (w.code == 1366 && kind == ColumnKind::Number &&
        w.message.find("value: ''") != w.message.npos)
      continue;
    if (w.code == 1265 && kind == ColumnKind::Date) continue;
    ChangedColumn& column = columns[w.column];
    if (column.values++ == 0) column.firstMessage = w.message;
    column.number = kind == ColumnKind::Number;
    ++changed;
  }
  if (changed == 0) return;
  record_.add(table, changed);
  const bool load = nextWord(sql) == "load";
  const std::string more = listed >= kListedWarnings ? " or more" : "";
  std::string numbers;
  for (const auto& [column, what] : columns) {
    const std::string where = column.empty() ? table : table + "." + column;
    journal_.warning(fmt::format(
        "{}: the portal's server changed {}{} value(s) it was sent (first: {}); widen the "
        "portal's column or correct the office's value",
        where, what.values, more, what.firstMessage));
    if (what.number) numbers += (numbers.empty() ? "" : ", ") + where;
  }
  if (!numbers.empty() || !load) {
    throw AgentError(
        error_number::kDataConversion,
        fmt::format("the portal's server stored {} of {} unlike it was sent ({}): the values "
                    "would stand there wrong",
                    numbers.empty() ? "values" : "numbers", numbers.empty() ? table : numbers,
                    columns.begin()->second.firstMessage));
  }
}

std::map<std::string, WarningCheckedConnection::ColumnKind> WarningCheckedConnection::columnKinds(
    const std::string& table) {
  static const std::set<std::string> kNumbers = {"decimal",   "int",    "tinyint", "smallint",
                                                 "mediumint", "bigint", "float",   "double"};
  static const std::set<std::string> kDates = {"date", "datetime", "timestamp", "time", "year"};
  std::map<std::string, ColumnKind> kinds;
  std::unique_ptr<Recordset> rs = target().query(
      "select column_name, data_type from information_schema.columns where table_schema = "
      "database() and table_name = '" +
          replaceAll(table, "'", "''") + "'",
      Cursor::Static);
  for (; !rs->eof(); rs->moveNext()) {
    const std::string type = toLowerAscii(rs->field(1).textValue());
    kinds[toLowerAscii(rs->field(std::size_t{0}).textValue())] =
        kNumbers.count(type) ? ColumnKind::Number
        : kDates.count(type) ? ColumnKind::Date
                             : ColumnKind::Other;
  }
  return kinds;
}

}  // namespace agent
