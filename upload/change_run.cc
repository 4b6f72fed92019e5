// A table's run under change detection.
#include "upload/change_run.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>

#include <fmt/format.h>

#include "cycle/server_warnings.h"

namespace agent {

namespace {

// The rows from which a full run has its stamp settled after the last stage.
constexpr std::size_t kSettleStampRows = 10000;

struct RemoteStamp {
  std::string time;      // the remote table's last-change time; empty: none
  bool settled = false;  // the server's clock had moved past it
  int millisecond = 0;   // of the server's clock when read
};

RemoteStamp readRemoteStamp(Connection& remote, const ClusterSession& cluster,
                            const std::string& table) {
  // InnoDB keeps per table the time of the last transaction that changed
  // it (to the second; NULL after a server restart or once the table left
  // the dictionary cache). A stamp read when the server's clock has moved
  // past it is settled: any later change gives a later time. Each node of a
  // cluster keeps its own, by its own clock: a stamp names its node, and
  // one of another node vouches for nothing (the rows are counted).
  std::unique_ptr<Recordset> rs = remote.query(
      "select ifnull(date_format(update_time, '%Y-%m-%d %H:%i:%s'), ''), "
      "ifnull(update_time < now(), 0), microsecond(now(6)) div 1000 from "
      "information_schema.tables where table_schema = "
      "database() and table_name = '" +
          table + "'",
      Cursor::Forward);
  RemoteStamp stamp;
  if (rs->eof()) return stamp;
  stamp.time = rs->field(0).textValue();
  const Value& settled = rs->field(1);
  stamp.settled = !stamp.time.empty() &&
                  (settled.isNumber() ? settled.numberValue() != 0 : settled.textValue() == "1");
  if (cluster.node && !stamp.time.empty()) stamp.time += " on " + cluster.nodeName;
  const Value& ms = rs->field(2);
  stamp.millisecond = std::clamp(
      static_cast<int>(ms.isNumber() ? ms.numberValue() : std::atoi(ms.textValue().c_str())), 0,
      999);
  return stamp;
}

struct RemoteCount {
  long long rows = -1;
  long long marked = 0;  // rows whose mark column is not NULL (tables with a sweep)
};

RemoteCount countRemoteRows(Connection& remote, const std::string& table,
                            const std::string& markColumn) {
  // A table with file marks counts its marked rows in the same pass: a
  // clear is only needed when there are any.
  std::string sql = "select count(*), " +
                    (markColumn.empty() ? std::string("0") : "count(" + markColumn + ")") +
                    " from " + table;
  std::unique_ptr<Recordset> rs = remote.query(sql, Cursor::Forward);
  RemoteCount count;
  if (rs->eof()) return count;
  auto number = [](const Value& v) {
    return v.isNumber() ? static_cast<long long>(v.numberValue())
                        : std::atoll(v.textValue().c_str());
  };
  count.rows = number(rs->field(0));
  count.marked = number(rs->field(1));
  return count;
}

// After a full run the rows were counted, but the stamp read with them
// named the second of the run's own statements, which vouches for nothing.
// After the last stage, once the server's clock has left that second (one
// wait serves every table), a settled stamp is read and the rows counted
// again; the stamp is recorded only when the count is still the recorded
// one, so the next cycle can skip the count.
void settleStampAfterLastStage(CycleContext& ctx, std::string table, std::string markColumn,
                               long long expectedRows) {
  ctx.afterLastStage.push_back([&remote = ctx.remote, &journal = ctx.journal,
                                changes = ctx.changes.state, &cluster = ctx.portal.cluster,
                                table = std::move(table), markColumn = std::move(markColumn),
                                expectedRows] {
    try {
      RemoteStamp stamp = readRemoteStamp(remote, cluster, table);
      if (!stamp.settled && !stamp.time.empty()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1000 - stamp.millisecond));
        stamp = readRemoteStamp(remote, cluster, table);
      }
      if (!stamp.settled) return;
      if (countRemoteRows(remote, table, markColumn).rows != expectedRows) return;
      changes->recordStamp(table, stamp.time, expectedRows);
    } catch (const AgentError& e) {
      // Without a stamp the next cycle counts the rows: nothing is lost.
      journal.warning(
          fmt::format("{}: last-change stamp not recorded: {}", table, e.description()));
    }
  });
}

}  // namespace

ChangeRun::ChangeRun(CycleContext& ctx, const MirrorDescription& description,
                     std::vector<std::size_t> keyFields, std::string markColumn, bool sweeps)
    : ctx_(ctx),
      description_(description),
      keyFields_(std::move(keyFields)),
      markColumn_(std::move(markColumn)),
      sweeps_(sweeps) {}

void ChangeRun::prepare() {
  changedBefore_ = valuesChangedByPortal();
  // Ages run on the steady clock: a clock set back or forward while the
  // agent runs neither ages a full merge nor makes it younger.
  now_ = ctx_.clock.steadyEpochSeconds();
  known_ = ctx_.changes.state->table(description_.tableName);
  if (!known_) {
    fullBecause_ = "no state of it";
  } else if (!known_->finished) {
    fullBecause_ = "its last run did not finish";
  } else if (now_ < known_->lastFullSeconds) {
    // Stamped by an earlier run of the agent while the clock was ahead of
    // today's (or set back since): its age is unknown, and a full merge
    // starts the count again.
    fullBecause_ = "the clock is behind its last full merge (set back since?)";
  } else if (now_ - known_->lastFullSeconds >= ctx_.config.fullEveryHours * 3600LL) {
    fullBecause_ = fmt::format("last full merge over {} h ago", ctx_.config.fullEveryHours);
  } else {
    checkRemoteTable();
  }
  full_ = !fullBecause_.empty();
}

void ChangeRun::checkRemoteTable() {
  // The remote table must still hold what the state expects. Counting its
  // rows reads every one of them (InnoDB keeps no row count), so the count
  // is skipped while the table's last-change stamp is the one recorded
  // with the last count that matched and the server's clock had moved past
  // it when it was read: a change after that read gives another stamp; one
  // before it was in the count. A stamp read in the second it names
  // vouches for nothing (a later change in that second gives the same
  // one). Without a stamp (a restarted server, a table no one changed since
  // it was opened) or with another one, the rows are counted.
  RemoteStamp stamp = readRemoteStamp(ctx_.remote, ctx_.portal.cluster, description_.tableName);
  const std::string& known = known_->remoteStamp;
  if (stamp.settled && !known.empty() && known == stamp.time) {
    remoteRows_ = known_->expectedRows;
    marksPresent_ = known_->marksLeft;
    checkedStamp_ = stamp.time;
    countSkipped_ = true;
    return;
  }
  RemoteCount count = countRemoteRows(ctx_.remote, description_.tableName, markColumn_);
  remoteRows_ = count.rows;
  if (count.rows != known_->expectedRows) {
    fullBecause_ = fmt::format("the remote table holds {} rows, {} expected", count.rows,
                               known_->expectedRows);
    return;
  }
  marksPresent_ = count.marked != 0;
  // Read before the count: a change after it gives another stamp.
  if (stamp.settled) checkedStamp_ = stamp.time;
}

bool ChangeRun::knowsSources(const std::string& sources) const {
  return !full_ && !sources.empty() && known_ && known_->sources == sources;
}

void ChangeRun::markStarted() {
  ctx_.changes.state->markStarted(description_.tableName);
}

void ChangeRun::begin() {
  ctx_.changes.state->begin(description_.tableName, full_, sweeps_);
}

void ChangeRun::offerStoredLines() {
  storedLinesStand_ = true;
  read_ = ctx_.changes.state->offerStoredUnchanged(description_.tableName);
}

void ChangeRun::take(std::span<const std::string> fields, TakenLine& line) {
  line.raw.clear();
  for (std::size_t i = 0; i < keyFields_.size(); ++i) {
    if (i > 0) line.raw += '\x1F';
    line.raw += fields[keyFields_[i]];
  }
  line.keyHash = keyHash(line.raw);
  ctx_.changes.state->prefetch(description_.tableName, line.keyHash);
  line.digest = lineDigest(fields);
}

bool ChangeRun::decide(const TakenLine& line) {
  ++read_;
  ChangeState::Offer offer =
      ctx_.changes.state->offer(description_.tableName, line.keyHash, line.raw, line.digest);
  if (offer == ChangeState::Offer::SendNew) ++newKeys_;
  // A full merge writes every line, repeated keys too, as it always did.
  bool send =
      full_ || offer == ChangeState::Offer::SendNew || offer == ChangeState::Offer::SendChanged;
  if (send) ++sent_;
  return send;
}

const std::vector<std::string>& ChangeRun::vanishedKeys() {
  if (!vanished_) vanished_ = ctx_.changes.state->vanishedKeys(description_.tableName);
  return *vanished_;
}

std::size_t ChangeRun::valuesChangedByPortal() const {
  return ctx_.serverWarnings != nullptr ? ctx_.serverWarnings->changedValues(description_.tableName)
                                        : 0;
}

void ChangeRun::commit(const std::string& sources) {
  const std::string& table = description_.tableName;
  if (valuesChangedByPortal() != changedBefore_) {
    // The portal holds values unlike the lines this run would record: the
    // state does not vouch for them, and once the portal's column is
    // widened the next full merge puts them right.
    ctx_.changes.state->abandon(table);
    ctx_.journal.warning(fmt::format(
        "{}: the portal's server changed values of it; change detection does not vouch for it, "
        "the next cycle merges it in full",
        table));
    return;
  }
  const std::size_t vanished = vanished_ ? vanished_->size() : 0;
  ChangeState::TableState next;
  next.sources = sources;
  bool settleLater = false;
  if (full_) {
    // A full run counts the remote rows after its statements; a settled
    // stamp read just before that count vouches for it. A stamp of the
    // run's own second is settled after the last stage for a large table
    // (whose count the next cycle would otherwise repeat).
    RemoteStamp stamp = readRemoteStamp(ctx_.remote, ctx_.portal.cluster, table);
    if (stamp.settled) next.remoteStamp = stamp.time;
    settleLater = !stamp.settled && !stamp.time.empty() && read_ >= kSettleStampRows;
    next.lastFullSeconds = now_;
    next.expectedRows = countRemoteRows(ctx_.remote, table, markColumn_).rows;
    // Rows the insert load added carry the file's mark until a clear.
    next.marksLeft = sweeps_;
  } else {
    // A changes-only run that sent statements records no stamp: its
    // expected row count is computed, not counted, so the next run counts.
    if (!sendsStatements_) next.remoteStamp = checkedStamp_;
    next.lastFullSeconds = known_->lastFullSeconds;
    next.expectedRows =
        remoteRows_ + static_cast<long long>(newKeys_) - static_cast<long long>(vanished);
    next.marksLeft = sweeps_ && newKeys_ > 0;
  }
  ctx_.changes.state->commit(table, next, vanished > 0);
  if (settleLater) settleStampAfterLastStage(ctx_, table, markColumn_, next.expectedRows);
  if (full_) {
    ctx_.journal.info(fmt::format("{}: full merge ({}), {} rows sent", table, fullBecause_, sent_));
  } else {
    ctx_.journal.info(
        fmt::format("{}: changes only, {} of {} rows sent, {} deleted{}{}", table, sent_, read_,
                    vanished, countSkipped_ ? " (remote table unchanged since the last run)" : "",
                    storedLinesStand_ ? " (its local sources unchanged: nothing read)" : ""));
  }
}

}  // namespace agent
