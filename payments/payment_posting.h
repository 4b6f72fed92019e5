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
// returns how many were booked. A payment that cannot be booked because of
// its own values stays pending on the portal with a journal warning a cycle
// naming its order id, and the stage goes on: a control character in a
// text, a NULL amount or date, an amount that is not positive or does not
// fit the local money columns, a student unknown locally or without fee
// rows, a value the local database refuses as data. A pending payment
// whose order id is already in paygate lost its mark: it is marked taken
// with the receipt that booked it (one warning a cycle for those without
// such a receipt). The claim on the order id, the receipt number and the
// local writes of one payment are one local transaction, committed before
// the remote mark, so a payment that fails spends no receipt number; any
// other failure (connection, lock, local database) is thrown on after the
// rollback. The claim is a locking read of paygate, so that two programs
// booking on one database book each order once. The local transaction is
// durable before the mark is sent (an explicit commit is, on every local
// engine the agent uses). When no receipt number can be issued, shows
// kDuplicateReceiptNumberMessage and throws CycleAbort.
std::size_t postGatewayPayments(CycleContext& ctx);

// The remote statement that marks a booked payment taken: its receipt
// number and the portal's time, on the rows of the order id still pending
// (a row another program took meanwhile keeps its mark).
std::string markTakenStatement(const std::string& recNo, const std::string& orderId);

}  // namespace agent

#endif  // AGENT_PAYMENTS_PAYMENT_POSTING_H_
