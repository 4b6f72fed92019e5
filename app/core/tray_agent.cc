#include "app/core/tray_agent.h"

#include "base/file_names.h"

namespace agent {

std::unique_ptr<Journal> openTrayJournal(const std::filesystem::path& home,
                                         const PlatformConfig* config) {
  auto journal = config != nullptr ? std::make_unique<Journal>(config->logFolder / "agent.log")
                                   : std::make_unique<Journal>();
  journal->info("upload-agent starting in " + pathText(home) + " with its window");
  return journal;
}

}  // namespace agent
