// Looking up a table's specification.
#include "upload/mirror_spec.h"

#include <stdexcept>

namespace agent {

const MirrorSpec& findMirrorSpec(std::span<const MirrorSpec> specs, std::string_view table) {
  for (const MirrorSpec& spec : specs) {
    if (spec.tableName == table) return spec;
  }
  throw std::out_of_range("no mirror specification for table " + std::string(table));
}

}  // namespace agent
