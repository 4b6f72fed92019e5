// Every mirrored table's description in one list, for what needs all of
// them at once: the configuration check compares the remote columns they
// load with the portal's tables.
#ifndef AGENT_UPLOAD_MIRROR_CATALOG_H_
#define AGENT_UPLOAD_MIRROR_CATALOG_H_

#include <span>
#include <vector>

#include "upload/mirror_spec.h"

namespace agent {

// The descriptions the fee balance, receipt and text message stages hold
// (the other groups are in mirror_spec.h).
std::span<const MirrorSpec> feeBalanceSpecs();  // studfee
std::span<const MirrorSpec> receiptSpecs();     // rechead, recdetl, recmode
std::span<const MirrorSpec> smsLogSpecs();      // smslog

// All of them, in cycle order.
std::vector<const MirrorSpec*> allMirrorSpecs();

}  // namespace agent

#endif  // AGENT_UPLOAD_MIRROR_CATALOG_H_
