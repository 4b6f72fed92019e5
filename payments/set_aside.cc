#include "payments/set_aside.h"

#include <cmath>

#include "base/text.h"
#include "db/error.h"
#include "payments/sql_literal.h"

namespace agent {

std::optional<std::string> amountProblem(double amount) {
  if (!(amount > 0)) return "amount " + amountText(amount) + " is not positive";
  if (amount > kLargestLocalAmount) {
    return "amount " + amountText(amount) + " is beyond the local numeric(12,2) columns";
  }
  const double cents = amount * 100;
  if (std::fabs(cents - std::round(cents)) > 1e-3) {
    return "amount " + amountText(amount) + " has more than two decimals";
  }
  return std::nullopt;
}

std::optional<std::string> textProblem(std::string_view field, std::string_view text) {
  if (!hasControlCharacter(text)) return std::nullopt;
  return std::string(field) + " '" + shownValue(text) + "' holds a control character";
}

bool isDataError(const AgentError& error) {
  const auto* db = dynamic_cast<const DbError*>(&error);
  return db != nullptr && db->sqlstate().rfind("22", 0) == 0;
}

std::string shownValue(std::string_view text) {
  if (text.size() <= kShownBytes) return std::string(text);
  std::size_t cut = kShownBytes;
  // Back to the start of a UTF-8 character.
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  return std::string(text.substr(0, cut)) + "... (" + std::to_string(text.size()) + " bytes)";
}

SetAsideRows::~SetAsideRows() {
  if (count_ <= kNamedRows) return;
  journal_.warning(std::to_string(count_ - kNamedRows) + " more " + what_ +
                   " rows left on the portal for their values (only the first " +
                   std::to_string(kNamedRows) + " are named each cycle)");
}

void SetAsideRows::note(std::string_view idName, std::string_view id, std::string_view reason) {
  if (++count_ > kNamedRows) return;
  journal_.warning(what_ + " with " + std::string(idName) + " '" + shownValue(id) +
                   "' left on the portal: " + std::string(reason));
}

}  // namespace agent
