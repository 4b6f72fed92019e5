#include "cycle/gates.h"

#include <string_view>

namespace agent {

bool downloadGate(const std::string& univCode) {
  return std::string_view(kDownloadList).find(univCode + "*") != std::string_view::npos;
}

bool postingGate(const std::string& univCode) {
  return std::string_view(kPostingList).find(univCode) != std::string_view::npos;
}

}  // namespace agent
