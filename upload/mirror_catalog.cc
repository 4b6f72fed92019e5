#include "upload/mirror_catalog.h"

namespace agent {

std::vector<const MirrorSpec*> allMirrorSpecs() {
  std::vector<const MirrorSpec*> all;
  for (std::span<const MirrorSpec> group :
       {masterTableSpecs(), studentAndLoginSpecs(), resultSpecs(), feeBalanceSpecs(),
        receiptSpecs(), staffAndHostelSpecs(), smsLogSpecs()}) {
    for (const MirrorSpec& spec : group) all.push_back(&spec);
  }
  return all;
}

}  // namespace agent
