// Portal rows that cannot be booked because of their own values: what makes
// a value unbookable (a control character, an amount that is not positive
// or does not fit the local money columns, a value the local database
// refuses as data), and the journal's note of each row set aside. A row set
// aside stays where it is on the portal and is met again next cycle; the
// rest of the stage goes on.
#ifndef AGENT_PAYMENTS_SET_ASIDE_H_
#define AGENT_PAYMENTS_SET_ASIDE_H_

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "base/errors.h"
#include "cycle/journal.h"

namespace agent {

// The largest amount the local money columns (numeric(12,2)) hold.
inline constexpr double kLargestLocalAmount = 9999999999.99;

// Why amount cannot be booked into a numeric(12,2) column, or nullopt when
// it can: it must be above 0, at most kLargestLocalAmount and carry no more
// than two decimals (a third would be rounded away silently).
std::optional<std::string> amountProblem(double amount);

// Why text cannot be written as an identifier or name, or nullopt when it
// can: a control character (a NUL would cut it, a line feed forge lines).
// field names the value in the reason.
std::optional<std::string> textProblem(std::string_view field, std::string_view text);

// Whether error is the local database refusing a statement's values (a
// data exception, SQLSTATE class 22: text longer than its column, a number
// out of range, a date it cannot read). Any other error (a lost connection,
// a lock, a full disk) is not the row's fault.
bool isDataError(const AgentError& error);

// A value as a journal line names it: at most kShownBytes of it (cut on a
// character boundary), followed by the whole length when it was cut. The
// journal escapes what control characters remain.
std::string shownValue(std::string_view text);
inline constexpr std::size_t kShownBytes = 64;

// The journal's record of the rows a stage run sets aside: one warning per
// row up to kNamedRows, then one line with the number of the others, so
// that no number of bad portal rows can flush the journal.
class SetAsideRows {
 public:
  // what: the kind of row ("gateway payment", "portal receipt line").
  SetAsideRows(Journal& journal, std::string what) : journal_(journal), what_(std::move(what)) {}
  SetAsideRows(const SetAsideRows&) = delete;
  SetAsideRows& operator=(const SetAsideRows&) = delete;
  // Writes the line for the rows beyond kNamedRows.
  ~SetAsideRows();

  // Notes the row named by id ("order id", value) left on the portal for
  // reason.
  void note(std::string_view idName, std::string_view id, std::string_view reason);
  std::size_t count() const { return count_; }

  static constexpr std::size_t kNamedRows = 100;

 private:
  Journal& journal_;
  std::string what_;
  std::size_t count_ = 0;
};

}  // namespace agent

#endif  // AGENT_PAYMENTS_SET_ASIDE_H_
