#include "app/core/stage_order.h"

#include <vector>

#include "payments/payment_posting.h"
#include "payments/receipt_download.h"

namespace agent {

// Masters, students, results, the payment stage of the institution, fee
// balances, receipts, staff and hostels, SMS log. Payment stages run before
// fee balances and receipts, so receipts booked in a cycle are uploaded in
// the same cycle.
StageList cycleStages() {
  static const std::vector<Stage> kStages = {
      {"receipt download", downloadPortalReceipts, StageGate::Download},
      {"payment posting", postGatewayPayments, StageGate::PostingUnlessDownload},
  };
  return StageList(kStages);
}

}  // namespace agent
