#include "app/core/stage_order.h"

#include <vector>

#include "payments/payment_posting.h"
#include "payments/receipt_download.h"
#include "upload/table_stages.h"

namespace agent {

// Masters, students, results, the payment stage of the institution, fee
// balances, receipts, staff and hostels, SMS log. Payment stages run before
// fee balances and receipts, so receipts booked in a cycle are uploaded in
// the same cycle. Fee balances and receipts start their local work on
// second local connections at the cycle's start (in a cycle of full merges:
// once studsub waits for its merge), unless a payment stage runs before
// them (it writes receipts); the receipts' files are then written while the
// fee balances are still being made, if they are.
StageList cycleStages() {
  static const std::vector<Stage> kStages = {
      {"college", uploadColleges},
      {"degree", uploadDegrees},
      {"subject", uploadSubjects},
      {"mascat", uploadCategories},
      {"mashead", uploadFeeHeads},
      {"masroute", uploadRoutes},
      {"student and masuser", uploadStudentsAndLogins},
      {"result", uploadResults},
      {"studsub", uploadSubjectMarks},
      {"receipt download", downloadPortalReceipts, StageGate::Download, nullptr, true},
      {"payment posting", postGatewayPayments, StageGate::PostingUnlessDownload, nullptr, true},
      {"studfee", uploadFeeBalances, StageGate::Always, makeFeeBalances, false, nullptr,
       feeBalancesInput},
      {"rechead, recdetl and recmode", uploadReceipts, StageGate::Always, gatherReceiptRows, false,
       exportReceiptsEarly, receiptRowsInput},
      {"masemp", uploadEmployees},
      {"hosthead", uploadHostels},
      {"roomtype", uploadRoomTypes},
      {"hostrooms", uploadRooms},
      {"smslog", uploadSmsLog, StageGate::Always, nullptr, true},
  };
  return StageList(kStages);
}

}  // namespace agent
