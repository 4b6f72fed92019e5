// The gateway receipt download stage: the receipts that the portal made
// itself (pay type 'PG') are copied into the local receipt tables: headers
// and lines not yet there, and the card fields of a header from the first
// payment-mode row met for it.
#ifndef AGENT_PAYMENTS_RECEIPT_DOWNLOAD_H_
#define AGENT_PAYMENTS_RECEIPT_DOWNLOAD_H_

#include <cstddef>

#include "cycle/cycle_context.h"

namespace agent {

// Copies the portal's live 'PG' receipts and returns the number of headers
// and lines inserted. The portal is only read; whether a receipt is already
// here is decided from the local tables each time (headers by receipt
// number, lines by receipt number and fee head, card fields by the receipt
// number that a new header carries in fcardno until a mode row replaces
// it), so repeated cycles insert nothing twice. A header without a portal
// student is not copied, its lines are. A row that cannot be copied because
// of its own values (a control character in a text, a NULL date, a NULL
// amount or one that is not positive or does not fit the local money
// columns, a value the local database refuses as data) is left out with a
// journal warning naming its receipt number and read again next cycle; the
// others are copied. Any other failure is thrown.
std::size_t downloadPortalReceipts(CycleContext& ctx);

}  // namespace agent

#endif  // AGENT_PAYMENTS_RECEIPT_DOWNLOAD_H_
