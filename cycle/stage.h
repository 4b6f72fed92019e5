// One entry of the cycle's stage order: the name the journal shows, the
// procedure, and the institution gate that decides whether it runs.
#ifndef AGENT_CYCLE_STAGE_H_
#define AGENT_CYCLE_STAGE_H_

#include <span>

#include "cycle/cycle_context.h"
#include "cycle/early_part.h"
#include "cycle/local_ahead.h"

namespace agent {

enum class StageGate {
  Always,
  // Only for institutions on the download list (gateway receipt download).
  Download,
  // Only for institutions on the posting list that are not on the download
  // list: the two payment stages exclude each other.
  PostingUnlessDownload,
};

struct Stage {
  const char* name;
  StageProcedure run;
  StageGate gate = StageGate::Always;
  // Local work the stage can have done ahead, on a second local connection
  // from the cycle's start, or in a cycle of full merges from the stage
  // before it waiting for the server (see cycle/work_ahead.h); only when
  // no stage before it that runs writes the local database.
  AheadWork ahead = nullptr;
  bool writesLocal = false;
  // The stage's local part, which the cycle may do before the stage's turn
  // once its work ahead is done (see cycle/early_part.h).
  EarlyWork early = nullptr;
  // What its work ahead starts from; null: the institution alone.
  AheadInputOf aheadInput = nullptr;
};

// Whether stage runs for an institution code.
bool stageApplies(const Stage& stage, const std::string& univCode);

using StageList = std::span<const Stage>;

}  // namespace agent

#endif  // AGENT_CYCLE_STAGE_H_
