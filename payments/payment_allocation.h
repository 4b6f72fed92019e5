// How a gateway payment is spread over a student's fee balances: the
// positive balances take the paid amount in the order given, each up to
// its whole balance, until the amount is used up.
#ifndef AGENT_PAYMENTS_PAYMENT_ALLOCATION_H_
#define AGENT_PAYMENTS_PAYMENT_ALLOCATION_H_

#include <optional>
#include <string>
#include <vector>

namespace agent {

// One balance row of the student: fee head and balance (nullopt for NULL).
struct FeeBalance {
  std::string headCode;
  std::optional<double> balance;
};

// One receipt line to write.
struct ReceiptLine {
  std::string headCode;
  double amount = 0;

  bool operator==(const ReceiptLine&) const = default;
};

// The receipt lines for paidAmount over balances, in their order. A balance
// that is NULL, zero or negative gets nothing and is passed over. A positive
// balance takes the whole balance when the amount left covers it, otherwise
// the amount left; the amount left then decreases by the whole balance, so
// the lines end after the first partial one. An amount beyond the positive
// balances is in no line.
std::vector<ReceiptLine> allocatePayment(double paidAmount,
                                         const std::vector<FeeBalance>& balances);

}  // namespace agent

#endif  // AGENT_PAYMENTS_PAYMENT_ALLOCATION_H_
