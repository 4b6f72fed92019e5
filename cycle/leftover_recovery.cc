#include "cycle/leftover_recovery.h"

#include "db/error.h"

namespace agent {

namespace {

// In the order the names are tested: a name that contains another comes
// first.
constexpr LeftoverObject kLeftoverObjects[] = {
    {"FEEPG", "DROP VIEW FEEPG"},
    {"RECPG", "DROP VIEW RECPG"},
    {"BALPG", "DROP VIEW BALPG"},
    {"#TMPUPFEE", "drop table #TMPUPFEE"},
    {"#TMPUPRECEIPT", "drop table #TMPUPRECEIPT"},
    {"#TMPUPREC", "drop table #TMPUPREC"},
    {"#TMPUPBAL", "drop table #TMPUPBAL"},
    {"#tmpsmslog", "drop table #tmpsmslog"},
};

}  // namespace

std::optional<LeftoverObject> leftoverNamedIn(const std::string& description) {
  for (const LeftoverObject& object : kLeftoverObjects) {
    if (description.find(object.name) != std::string::npos) return object;
  }
  return std::nullopt;
}

bool RecoveringConnection::dropLeftover(const AgentError& error) {
  if (error.number() == error_number::kGenericFailure) return false;
  std::optional<LeftoverObject> object = leftoverNamedIn(error.description());
  if (!object) return false;
  // Every cycle that books a payment meets the fee chain's views again:
  // housekeeping, said once at the cycle's end where a watch gathers it.
  if (watch_ != nullptr) {
    watch_->noteLeftoverDropped(object->name);
  } else {
    journal_.info(std::string("leftover ") + object->name + ": " + object->drop);
  }
  local_.execute(object->drop);
  return true;
}

void RecoveringConnection::checkStop(const std::string& sql) const {
  if (watch_ == nullptr || !watch_->stopRequested()) return;
  if (statementHead(sql).starts_with("ROLLBACK")) return;
  throw StopRequested();
}

void RecoveringConnection::noteFailure(const std::string& sql) {
  if (watch_ == nullptr) return;
  watch_->noteFailure(side_, statementHead(sql));
}

void RecoveringConnection::execute(const std::string& sql) {
  checkStop(sql);
  try {
    try {
      target().execute(sql);
      return;
    } catch (const AgentError& e) {
      if (!dropLeftover(e)) throw;
    }
    target().execute(sql);
  } catch (const AgentError&) {
    noteFailure(sql);
    throw;
  }
}

std::unique_ptr<Recordset> RecoveringConnection::query(const std::string& sql, Cursor cursor) {
  checkStop(sql);
  try {
    try {
      return target().query(sql, cursor);
    } catch (const AgentError& e) {
      if (!dropLeftover(e)) throw;
    }
    return target().query(sql, cursor);
  } catch (const AgentError&) {
    noteFailure(sql);
    throw;
  }
}

}  // namespace agent
