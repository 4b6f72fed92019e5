// What the web portal writes into its database when a student pays online:
// a captured gateway payment (rzp_paymentgateway), or, for institutions
// whose portal makes its own receipts, a 'PG' receipt with its lines and
// payment-mode rows (rechead, recdetl, recmode). Used by the portal
// simulator and by the tests of the payment stages.
#ifndef AGENT_TOOLS_PORTAL_SIM_PORTAL_WRITER_H_
#define AGENT_TOOLS_PORTAL_SIM_PORTAL_WRITER_H_

#include <optional>
#include <string>
#include <vector>

#include "db/connection.h"
#include "db/value.h"

namespace agent {

// One gateway payment as the portal records it. amount and date may be
// missing (NULL), as a faulty portal row can be.
struct CapturedPayment {
  std::string admNo;
  std::optional<double> amount;
  std::optional<DateTime> date;
  std::string orderId;
  std::string transactionId;
  std::string mode = "UPI";
  std::string status = "captured";
};

struct PortalReceiptLine {
  std::string headCode;
  std::optional<double> amount;
};

struct PortalPaymentMode {
  std::string instrumentNo;
  std::optional<double> amount;
  std::optional<DateTime> instrumentDate;
};

// A receipt the portal made, pay type 'PG'.
struct PortalReceipt {
  std::string recNo;
  std::optional<DateTime> date;
  std::string admNo;
  std::string degree;
  std::string examNo;
  std::optional<double> total;
  std::optional<double> netTotal;
  std::string remarks;
  std::string deleted;  // empty for NULL
  std::vector<PortalReceiptLine> lines;
  std::vector<PortalPaymentMode> modes;
};

// Writes portal rows on a connection to the remote database. Text values
// go in as hexadecimal literals, so any text is stored as given.
class PortalWriter {
 public:
  explicit PortalWriter(Connection& remote) : remote_(remote) {}

  void addPayment(const CapturedPayment& payment);
  // Header, lines and payment modes, each with fpaytype 'PG'.
  void addReceipt(const PortalReceipt& receipt);
  // A row of the portal's student table (normally the student upload's).
  void addStudent(const std::string& admNo, const std::string& name, const std::string& degree);

 private:
  Connection& remote_;
};

}  // namespace agent

#endif  // AGENT_TOOLS_PORTAL_SIM_PORTAL_WRITER_H_
