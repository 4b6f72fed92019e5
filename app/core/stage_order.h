// The order in which a cycle runs its stages, between the start and the end
// stamp. One table, read by the cycle driver.
#ifndef AGENT_APP_CORE_STAGE_ORDER_H_
#define AGENT_APP_CORE_STAGE_ORDER_H_

#include "cycle/stage.h"

namespace agent {

StageList cycleStages();

}  // namespace agent

#endif  // AGENT_APP_CORE_STAGE_ORDER_H_
