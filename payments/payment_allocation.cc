#include "payments/payment_allocation.h"

namespace agent {

std::vector<ReceiptLine> allocatePayment(double paidAmount,
                                         const std::vector<FeeBalance>& balances) {
  std::vector<ReceiptLine> lines;
  double amountLeft = paidAmount;
  for (const FeeBalance& row : balances) {
    if (!row.balance || *row.balance <= 0) continue;
    const double balance = *row.balance;
    if (amountLeft <= 0) break;
    lines.push_back({row.headCode, balance <= amountLeft ? balance : amountLeft});
    amountLeft -= balance;
  }
  return lines;
}

}  // namespace agent
