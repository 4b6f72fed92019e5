// Keeps change detection's state store serving the cycles. The store only
// saves work: a table without state is merged in full, which is always
// right. So a store that cannot serve (it cannot be opened, is damaged,
// was made read-only, failed in the last cycle) never ends a cycle: it is
// moved aside (the copy kept and named in the journal once) and a fresh
// one starts; where even that fails, the cycle runs without one and the
// journal says, once per cycle, what to put right.
#ifndef AGENT_UPLOAD_CHANGE_STATE_KEEPER_H_
#define AGENT_UPLOAD_CHANGE_STATE_KEEPER_H_

#include <filesystem>
#include <memory>
#include <string>

#include "cycle/journal.h"
#include "upload/change_state.h"

namespace agent {

class ChangeStateKeeper {
 public:
  // file: the store (made when missing). journal must outlive the keeper.
  ChangeStateKeeper(std::filesystem::path file, Journal& journal);

  // The store for the cycle about to start, checked; nullptr when none can
  // serve (the journal then has the line that says why and what to do).
  ChangeState* forCycle();

 private:
  // Opens the store and reads it through; empty and the reason in *why
  // when it cannot serve.
  std::unique_ptr<ChangeState> openChecked(std::string* why);
  // Moves the unusable store (and its write-ahead log) aside, or removes a
  // store this process started itself (it holds nothing worth keeping).
  // Returns the copy's path (empty when removed); throws
  // std::filesystem::filesystem_error when it can do neither.
  std::filesystem::path setAside();

  const std::filesystem::path file_;
  Journal& journal_;
  std::unique_ptr<ChangeState> store_;
  bool startedAfresh_ = false;  // a store was set aside by this process
};

}  // namespace agent

#endif  // AGENT_UPLOAD_CHANGE_STATE_KEEPER_H_
