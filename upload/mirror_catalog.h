// Every mirrored table's description in one list, for what needs all of
// them at once: the configuration check compares the remote columns they
// load with the portal's tables.
#ifndef AGENT_UPLOAD_MIRROR_CATALOG_H_
#define AGENT_UPLOAD_MIRROR_CATALOG_H_

#include <span>
#include <vector>

#include "upload/mirror_description.h"

namespace agent {

// The descriptions the student, fee balance, receipt and text message
// stages hold (the other groups are in mirror_description.h).
std::span<const MirrorDescription> studentAndLoginDescriptions();  // student, masuser
std::span<const MirrorDescription> feeBalanceDescriptions();       // studfee
std::span<const MirrorDescription> receiptDescriptions();          // rechead, recdetl, recmode
std::span<const MirrorDescription> smsLogDescriptions();           // smslog

// All of them, in cycle order.
std::vector<const MirrorDescription*> allMirrorDescriptions();

}  // namespace agent

#endif  // AGENT_UPLOAD_MIRROR_CATALOG_H_
