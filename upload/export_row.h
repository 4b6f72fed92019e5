// ExportRow turns the current row of a source recordset into the texts of
// one export line, following a MirrorDescription's export fields.
#ifndef AGENT_UPLOAD_EXPORT_ROW_H_
#define AGENT_UPLOAD_EXPORT_ROW_H_

#include <span>
#include <string>
#include <vector>

#include "base/regional.h"
#include "db/connection.h"
#include "upload/mirror_description.h"

namespace agent {

class ExportRow {
 public:
  // Looks up every source column of description in rows once. Throws AgentError
  // (kItemNotFound) naming a column the query does not return. rows and
  // regional must outlive this object.
  ExportRow(const MirrorDescription& description, const Recordset& rows,
            const RegionalSettings& regional);

  // The field texts of the current row (valid until the next call).
  std::span<const std::string> build();

 private:
  struct Binding {
    const ExportField* field;
    std::size_t column = 0;
    std::size_t second = 0;
  };
  const Recordset& rows_;
  const RegionalSettings& regional_;
  std::vector<Binding> bindings_;
  std::vector<std::string> texts_;
};

}  // namespace agent

#endif  // AGENT_UPLOAD_EXPORT_ROW_H_
