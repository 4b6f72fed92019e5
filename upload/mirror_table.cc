// The table mirror procedure.
#include "upload/mirror_table.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>

#include <fmt/format.h>

#include "upload/change_state.h"
#include "upload/export_row.h"
#include "upload/export_writer.h"
#include "upload/load_statement.h"

namespace agent {

MirrorTable::MirrorTable(CycleContext& ctx, const MirrorSpec& spec)
    : ctx_(ctx), spec_(spec), exportPath_(ctx.csvFolder() / spec.exportFileName) {}

void MirrorTable::setStatementsAfterMerge(std::vector<std::string> statements) {
  afterMerge_ = std::move(statements);
}

void MirrorTable::setSweep(Sweep sweep) {
  sweep_ = std::move(sweep);
}

std::unique_ptr<Recordset> MirrorTable::openSource() const {
  return ctx_.local.query(spec_.sourceQuery, Cursor::Forward);
}

std::string MirrorTable::stagingDrop() const {
  return "drop table if exists " + spec_.stagingTable();
}

std::string MirrorTable::stagingCreate() const {
  const char* create =
      spec_.variant == StagingVariant::DropBefore ? "create table " : "create table if not exists ";
  return create + spec_.stagingTable() + " like " + spec_.tableName;
}

std::string MirrorTable::stagingLoad() const {
  return loadStatement(exportPath_.string(), spec_.stagingTable(), spec_.columnList);
}

std::string MirrorTable::insertLoad() const {
  return loadStatement(exportPath_.string(), spec_.tableName, spec_.columnList);
}

std::vector<std::string> MirrorTable::remoteStatements() const {
  std::vector<std::string> statements;
  if (spec_.variant != StagingVariant::DropAfter) statements.push_back(stagingDrop());
  statements.push_back(stagingCreate());
  statements.push_back(stagingLoad());
  statements.push_back(mergeUpdate());
  statements.insert(statements.end(), afterMerge_.begin(), afterMerge_.end());
  if (sweep_) {
    statements.push_back(sweep_->sweep);
    statements.push_back(sweep_->clearMarks);
  }
  statements.push_back(insertLoad());
  if (spec_.variant != StagingVariant::DropBefore) statements.push_back(stagingDrop());
  return statements;
}

void MirrorTable::sendRemote(const std::vector<std::string>& statements) const {
  for (const std::string& sql : statements) ctx_.remote.execute(sql);
}

std::size_t MirrorTable::run() {
  if (ctx_.changes != nullptr) {
    if (std::optional<std::vector<std::size_t>> key = mergeKeyFields(spec_)) {
      return runChangesOnly(*key);
    }
  }
  return runFull();
}

std::size_t MirrorTable::runFull() {
  std::size_t rows;
  {
    std::unique_ptr<Recordset> source = openSource();
    if (hasNoRows(*source)) return 0;
    rows = exportRows(*source, {this});
  }
  sendRemote(remoteStatements());
  return rows;
}

namespace {

std::int64_t unixSeconds(const DateTime& dt) {
  using namespace std::chrono;
  sys_days day = year(dt.year) / month(dt.month) / dt.day;
  return duration_cast<seconds>(day.time_since_epoch()).count() + dt.hour * 3600 + dt.minute * 60 +
         dt.second;
}

// The key as the remote table compares it: its collation ignores the case
// of letters and trailing blanks.
std::string comparedKey(std::string_view raw) {
  std::string key;
  key.reserve(raw.size());
  std::size_t start = 0;
  for (;;) {
    std::size_t end = raw.find('\x1F', start);
    std::string_view part = raw.substr(start, end == std::string_view::npos ? end : end - start);
    while (!part.empty() && part.back() == ' ') part.remove_suffix(1);
    for (char c : part) key += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    if (end == std::string_view::npos) break;
    key += '\x1F';
    start = end + 1;
  }
  return key;
}

// A SQL string literal that reads the same under every SQL mode: quotes
// doubled, and a backslash written as the mode needs it.
std::string keyLiteral(std::string_view text, bool backslashEscapes) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'')
      out += "''";
    else if (c == '\\' && backslashEscapes)
      out += "\\\\";
    else
      out += c;
  }
  return out + "'";
}

}  // namespace

std::optional<std::vector<std::size_t>> mergeKeyFields(const MirrorSpec& spec) {
  // "update <target> [a], tmp<target> [b] set ... where a.k1 = b.k1 and ..."
  std::string_view merge = spec.mergeUpdate;
  auto trim = [](std::string_view v) {
    while (!v.empty() && v.front() == ' ') v.remove_prefix(1);
    while (!v.empty() && v.back() == ' ') v.remove_suffix(1);
    return v;
  };
  std::size_t setAt = merge.find(" set ");
  std::size_t whereAt = merge.rfind(" where ");
  if (merge.substr(0, 7) != "update " || setAt == std::string_view::npos ||
      whereAt == std::string_view::npos || whereAt < setAt) {
    return std::nullopt;
  }
  std::string_view tables = merge.substr(7, setAt - 7);
  std::size_t comma = tables.find(',');
  if (comma == std::string_view::npos) return std::nullopt;
  // A table's alias, or its name when it has none.
  auto alias = [&trim](std::string_view named, std::string_view table) -> std::string_view {
    named = trim(named);
    if (named.substr(0, table.size()) != table) return {};
    std::string_view rest = trim(named.substr(table.size()));
    return rest.empty() ? table : rest;
  };
  std::string staging = spec.stagingTable();
  std::string target = std::string(alias(tables.substr(0, comma), spec.tableName));
  std::string source = std::string(alias(tables.substr(comma + 1), staging));
  if (target.empty() || source.empty()) return std::nullopt;

  std::vector<std::string> columns;
  for (std::size_t start = 0;;) {
    std::size_t end = spec.columnList.find(", ", start);
    columns.push_back(spec.columnList.substr(start, end - start));
    if (end == std::string::npos) break;
    start = end + 2;
  }
  std::vector<std::size_t> fields;
  std::string_view rest = merge.substr(whereAt + 7);
  for (;;) {
    std::size_t andAt = rest.find(" and ");
    std::string_view term = rest.substr(0, andAt);
    std::size_t eq = term.find('=');
    if (eq == std::string_view::npos) return std::nullopt;
    std::string_view left = trim(term.substr(0, eq)), right = trim(term.substr(eq + 1));
    if (left.substr(0, target.size() + 1) != target + "." ||
        right.substr(0, source.size() + 1) != source + "." ||
        left.substr(target.size() + 1) != right.substr(source.size() + 1)) {
      return std::nullopt;
    }
    auto found = std::find(columns.begin(), columns.end(), left.substr(target.size() + 1));
    if (found == columns.end()) return std::nullopt;
    std::size_t index = static_cast<std::size_t>(found - columns.begin());
    if (index >= spec.fields.size() || spec.fields[index].kind == ExportField::Kind::Constant) {
      return std::nullopt;
    }
    fields.push_back(index);
    if (andAt == std::string_view::npos) break;
    rest = rest.substr(andAt + 5);
  }
  return fields;
}

long long MirrorTable::remoteRowCount() const {
  std::unique_ptr<Recordset> rs =
      ctx_.remote.query("select count(*) from " + spec_.tableName, Cursor::Forward);
  if (rs->eof()) return -1;
  const Value& v = rs->field(0);
  return v.isNumber() ? static_cast<long long>(v.numberValue()) : std::atoll(v.textValue().c_str());
}

std::vector<std::string> MirrorTable::deletesByKey(
    const std::vector<std::string>& rawKeys, const std::vector<std::size_t>& keyFields) const {
  std::vector<std::string> statements;
  if (rawKeys.empty()) return statements;
  // Literals depend on whether the session reads backslashes as escapes
  // (the student stage turns that off for the rest of the cycle).
  bool backslashEscapes = true;
  {
    std::unique_ptr<Recordset> mode =
        ctx_.remote.query("select @@session.sql_mode", Cursor::Forward);
    if (!mode->eof()) {
      backslashEscapes =
          mode->field(0).textValue().find("NO_BACKSLASH_ESCAPES") == std::string::npos;
    }
  }
  std::vector<std::string> names;
  for (std::size_t f : keyFields) {
    std::size_t start = 0;
    for (std::size_t i = 0; i < f; ++i) start = spec_.columnList.find(", ", start) + 2;
    names.push_back(spec_.columnList.substr(start, spec_.columnList.find(", ", start) - start));
  }
  std::string head = "delete from " + spec_.tableName + " where (";
  for (std::size_t i = 0; i < names.size(); ++i) head += (i > 0 ? ", " : "") + names[i];
  head += ") in (";
  constexpr std::size_t kKeysPerStatement = 500;
  std::string sql;
  std::size_t inStatement = 0;
  for (const std::string& raw : rawKeys) {
    sql += inStatement == 0 ? head : std::string(", ");
    sql += "(";
    std::size_t start = 0;
    for (std::size_t i = 0; i < keyFields.size(); ++i) {
      std::size_t end = raw.find('\x1F', start);
      if (i > 0) sql += ", ";
      sql += keyLiteral(std::string_view(raw).substr(start, end - start), backslashEscapes);
      start = end + 1;
    }
    sql += ")";
    if (++inStatement == kKeysPerStatement) {
      statements.push_back(sql + ")");
      sql.clear();
      inStatement = 0;
    }
  }
  if (inStatement > 0) statements.push_back(sql + ")");
  return statements;
}

std::size_t MirrorTable::runChangesOnly(const std::vector<std::size_t>& keyFields) {
  ChangeState& state = *ctx_.changes;
  const std::string& table = spec_.tableName;
  std::int64_t now = unixSeconds(ctx_.clock.now());
  std::optional<ChangeState::TableState> known = state.table(table);
  std::string fullBecause;
  long long remoteRows = -1;
  if (!known) {
    fullBecause = "no state of it";
  } else if (!known->finished) {
    fullBecause = "its last run did not finish";
  } else if (now - known->lastFullSeconds >= ctx_.config.fullEveryHours * 3600LL ||
             now < known->lastFullSeconds) {
    fullBecause = fmt::format("last full merge over {} h ago", ctx_.config.fullEveryHours);
  } else if (remoteRows = remoteRowCount(); remoteRows != known->expectedRows) {
    fullBecause =
        fmt::format("the remote table holds {} rows, {} expected", remoteRows, known->expectedRows);
  }
  bool full = !fullBecause.empty();

  std::size_t read = 0, sent = 0, newKeys = 0;
  {
    std::unique_ptr<Recordset> source = openSource();
    if (hasNoRows(*source)) return 0;
    state.markStarted(table);
    state.begin(table, full);
    ExportRow row(spec_, *source, ctx_.config.regional);
    ExportFile file(exportPath_, ctx_.config.exportCodePage);
    std::string raw;
    for (; !source->eof(); source->moveNext(), ++read) {
      std::span<const std::string> fields = row.build();
      raw.clear();
      for (std::size_t i = 0; i < keyFields.size(); ++i) {
        if (i > 0) raw += '\x1F';
        raw += fields[keyFields[i]];
      }
      ChangeState::Offer offer = state.offer(comparedKey(raw), raw, lineDigest(fields));
      // A full merge writes every line, repeated keys too, as it always did.
      if (full || offer == ChangeState::Offer::SendNew ||
          offer == ChangeState::Offer::SendChanged) {
        file.writeLine(fields);
        ++sent;
      }
      if (offer == ChangeState::Offer::SendNew) ++newKeys;
    }
    file.close();
    if (std::size_t replaced = file.replacedCharacters(); replaced > 0) {
      ctx_.journal.warning(table + ": " + std::to_string(replaced) +
                           " character(s) the export code page cannot hold were written as \"?\"");
    }
  }

  std::vector<std::string> vanished;
  if (!full && sweep_) vanished = state.vanishedKeys();
  ChangeState::TableState next;
  if (full) {
    sendRemote(remoteStatements());
    next.lastFullSeconds = now;
    next.expectedRows = remoteRowCount();
    // Rows the insert load added carry the file's mark until a clear.
    next.marksLeft = sweep_.has_value();
  } else {
    std::vector<std::string> statements;
    if (sent > 0) {
      if (spec_.variant != StagingVariant::DropAfter) statements.push_back(stagingDrop());
      statements.push_back(stagingCreate());
      statements.push_back(stagingLoad());
      statements.push_back(mergeUpdate());
      statements.insert(statements.end(), afterMerge_.begin(), afterMerge_.end());
    }
    if (sweep_) {
      std::vector<std::string> deletes = deletesByKey(vanished, keyFields);
      statements.insert(statements.end(), deletes.begin(), deletes.end());
      if (sent > 0 || known->marksLeft) statements.push_back(sweep_->clearMarks);
    }
    if (sent > 0) {
      statements.push_back(insertLoad());
      if (spec_.variant != StagingVariant::DropBefore) statements.push_back(stagingDrop());
    }
    sendRemote(statements);
    next.lastFullSeconds = known->lastFullSeconds;
    next.expectedRows =
        remoteRows + static_cast<long long>(newKeys) - static_cast<long long>(vanished.size());
    next.marksLeft = sweep_.has_value() && newKeys > 0;
  }
  state.commit(next, !vanished.empty());
  if (full) {
    ctx_.journal.info(fmt::format("{}: full merge ({}), {} rows sent", table, fullBecause, sent));
  } else {
    ctx_.journal.info(fmt::format("{}: changes only, {} of {} rows sent, {} deleted", table, sent,
                                  read, vanished.size()));
  }
  return sent;
}

std::size_t MirrorTable::exportRows(Recordset& rows,
                                    std::initializer_list<const MirrorTable*> tables) {
  struct Output {
    const MirrorTable* table;
    ExportRow row;
    ExportFile file;
  };
  std::vector<std::unique_ptr<Output>> outputs;
  for (const MirrorTable* table : tables) {
    const RegionalSettings& regional = table->ctx_.config.regional;
    outputs.push_back(std::unique_ptr<Output>(
        new Output{table, ExportRow(table->spec_, rows, regional),
                   ExportFile(table->exportPath_, table->ctx_.config.exportCodePage)}));
  }
  std::size_t written = 0;
  for (; !rows.eof(); rows.moveNext()) {
    for (auto& out : outputs) out->file.writeLine(out->row.build());
    ++written;
  }
  for (auto& out : outputs) {
    out->file.close();
    if (std::size_t replaced = out->file.replacedCharacters(); replaced > 0) {
      out->table->ctx_.journal.warning(out->table->spec_.tableName + ": " +
                                       std::to_string(replaced) +
                                       " character(s) the export code page cannot hold were "
                                       "written as \"?\"");
    }
  }
  return written;
}

}  // namespace agent
