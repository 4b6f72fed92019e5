// Receipt numbering of the local database: the next receipt number of a
// college, from its group's counter in collgroup (prefix + serial) or, for a
// college without a group, from the counter in control (bare serial). The
// counter is advanced when the number is handed out, before the caller
// writes its receipt: a caller that takes the number inside the transaction
// writing the receipt gives it back with a rollback; outside one, a number
// it never uses stays spent.
#ifndef AGENT_PAYMENTS_RECEIPT_NUMBERS_H_
#define AGENT_PAYMENTS_RECEIPT_NUMBERS_H_

#include <cstdint>
#include <string>

#include "cycle/message_sink.h"
#include "db/connection.h"
#include "db/value.h"

namespace agent {

// The messages shown when no number can be issued.
inline constexpr const char* kMissingGroupMessage = "Error in Receipt Prefix College Group";
inline constexpr const char* kDuplicateReceiptMessage = "This Rec. no. is already exist!!";

// The next receipt number for collegeCode, or the empty text when none can
// be issued; the reason has then been shown on messages (a group code
// without a collgroup row: kMissingGroupMessage, no icon; the number
// already in rechead: kDuplicateReceiptMessage, exclamation) and no counter
// has changed. On success exactly one counter row has been advanced.
// Database errors (also a control table without a row) are thrown.
std::string getRecNo(Connection& local, MessageSink& messages, const std::string& collegeCode);

// The serial after a stored counter: its leading decimal number (NULL and
// text that begins with no number count as 0; a fraction is dropped) plus
// one. Throws AgentError(kOverflow) for a counter beyond 15 digits.
std::int64_t nextSerial(const Value& storedCounter);

// prefix followed by serial with at least six digits, zero-padded on the
// left and never cut: ("P", 124) gives P000124, ("", 1000000) 1000000.
std::string formatReceiptNumber(const std::string& prefix, std::int64_t serial);

}  // namespace agent

#endif  // AGENT_PAYMENTS_RECEIPT_NUMBERS_H_
