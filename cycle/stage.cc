#include "cycle/stage.h"

#include "cycle/gates.h"

namespace agent {

bool stageApplies(const Stage& stage, const std::string& univCode) {
  switch (stage.gate) {
    case StageGate::Always:
      return true;
    case StageGate::Download:
      return downloadGate(univCode);
    case StageGate::PostingUnlessDownload:
      return !downloadGate(univCode) && postingGate(univCode);
  }
  return false;
}

}  // namespace agent
