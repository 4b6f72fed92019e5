#include "db/connection.h"

#include "base/text.h"
#include "db/error.h"
#include "db/value.h"

namespace agent {

std::size_t Recordset::indexOf(std::string_view name) const {
  const std::size_t n = fieldCount();
  for (std::size_t i = 0; i < n; ++i) {
    if (equalsIgnoreCase(fieldName(i), name)) return i;
  }
  return n;
}

std::size_t Recordset::fieldIndex(std::string_view name) const {
  std::size_t i = indexOf(name);
  if (i == fieldCount()) {
    throw AgentError(error_number::kItemNotFound,
                     "Item cannot be found in the collection corresponding to the requested name "
                     "or ordinal. (" +
                         std::string(name) + ")");
  }
  return i;
}

const Value& Recordset::field(std::string_view name) const {
  return field(fieldIndex(name));
}

std::string queryFirstText(Connection& conn, const std::string& sql) {
  std::unique_ptr<Recordset> rs = conn.query(sql, Cursor::Forward);
  return rs->eof() ? std::string() : displayText(rs->field(0));
}

}  // namespace agent
