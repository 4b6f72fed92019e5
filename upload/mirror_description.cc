// Looking up a table's description.
#include "upload/mirror_description.h"

#include <stdexcept>

namespace agent {

const MirrorDescription& findMirrorDescription(std::span<const MirrorDescription> descriptions,
                                               std::string_view table) {
  for (const MirrorDescription& description : descriptions) {
    if (description.tableName == table) return description;
  }
  throw std::out_of_range("no mirror description for table " + std::string(table));
}

}  // namespace agent
