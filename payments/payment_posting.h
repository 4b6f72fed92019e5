// The online payment posting stage: every captured gateway payment of the
// portal that is not yet taken becomes a local receipt (lines over the
// student's balances, header, payment log) and is marked taken on the
// portal with its receipt number.
#ifndef AGENT_PAYMENTS_PAYMENT_POSTING_H_
#define AGENT_PAYMENTS_PAYMENT_POSTING_H_

#include <cstddef>
#include <string>

#include "cycle/cycle_context.h"

namespace agent {

inline constexpr const char* kDuplicateReceiptNumberMessage = "Duplicate Rec. No. found";

// Books the pending payments of rzp_paymentgateway in fdate order and
// returns how many were booked. A payment is passed over (and stays
// pending) when its student is unknown locally, the student has no balance
// rows, or its amount or date is NULL (with a journal warning). A pending
// payment whose order id is already in paygate lost its mark: it is marked
// taken with the receipt that booked it (one warning a cycle for those
// without such a receipt). paygate is looked at again inside the local
// transaction, so that no other writer's booking is doubled. The local writes of one payment are
// one local transaction, committed before the remote mark; a failure rolls them back and is thrown
// on. When no receipt number can be issued, shows kDuplicateReceiptNumberMessage and throws
// CycleAbort.
std::size_t postGatewayPayments(CycleContext& ctx);

// The remote statement that marks a booked payment taken: its receipt
// number and the portal's time, by order id.
std::string markTakenStatement(const std::string& recNo, const std::string& orderId);

}  // namespace agent

#endif  // AGENT_PAYMENTS_PAYMENT_POSTING_H_
