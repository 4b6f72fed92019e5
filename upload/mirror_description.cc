// Looking up a table's description.
#include "upload/mirror_description.h"

#include <string>

#include "base/errors.h"

namespace agent {

const MirrorDescription& findMirrorDescription(std::span<const MirrorDescription> descriptions,
                                               std::string_view table) {
  for (const MirrorDescription& description : descriptions) {
    if (description.tableName == table) return description;
  }
  // A programming error, reported as any failure of the cycle is.
  throw AgentError(error_number::kInvalidArgument,
                   "no mirror description for table " + std::string(table));
}

}  // namespace agent
