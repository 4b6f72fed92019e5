#include "upload/mirror_catalog.h"

namespace agent {

std::vector<const MirrorDescription*> allMirrorDescriptions() {
  std::vector<const MirrorDescription*> all;
  for (std::span<const MirrorDescription> group :
       {masterTableDescriptions(), studentAndLoginDescriptions(), resultDescriptions(),
        feeBalanceDescriptions(), receiptDescriptions(), staffAndHostelDescriptions(),
        smsLogDescriptions()}) {
    for (const MirrorDescription& description : group) all.push_back(&description);
  }
  return all;
}

}  // namespace agent
