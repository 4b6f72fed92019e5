// EarlyPart: the local part of a stage, done before the stage's turn while
// the cycle would otherwise wait. The receipts, for one, are read and their
// files written while the fee-balance chain (work ahead of the studfee
// stage) is still being made; their remote statements still run in their
// turn, after studfee's. The stage's procedure then finds its part in
// CycleContext::turn.early and only finishes it.
//
// A part that failed is no error of its own: it is dropped, and the stage
// does the whole of its work in its turn, where a failure is reported as it
// always was.
#ifndef AGENT_CYCLE_EARLY_PART_H_
#define AGENT_CYCLE_EARLY_PART_H_

#include <cstddef>
#include <memory>

namespace agent {

struct CycleContext;

class EarlyPart {
 public:
  virtual ~EarlyPart() = default;
  // In the stage's turn: the rest of its work (the remote statements);
  // returns the rows the stage reports.
  virtual std::size_t finish() = 0;
};

// Does the stage's local part now (CycleContext::turn.ahead holding the
// stage's work ahead) and returns it for the stage's turn.
using EarlyWork = std::unique_ptr<EarlyPart> (*)(CycleContext& ctx);

}  // namespace agent

#endif  // AGENT_CYCLE_EARLY_PART_H_
