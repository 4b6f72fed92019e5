#include "app/core/tray_agent.h"

#include "base/file_names.h"

namespace agent {

TrayAgentParts::TrayAgentParts(MessageSink& boxes, const std::filesystem::path& home,
                               const PlatformConfig* config, const std::string& configError)
    : messages_(boxes),
      journal_(config != nullptr ? std::make_unique<Journal>(journalFileIn(config->logFolder))
                                 : std::make_unique<Journal>()) {
  journal_->info("upload-agent starting in " + pathText(home) + " with its window");
  if (config == nullptr) {
    journal_->error(configError);
    boxes.show(configError, MessageIcon::Exclamation);
    return;
  }
  agent_.emplace(home, *config, messages_, *journal_, clock_);
  calls_.emplace(*agent_);
}

}  // namespace agent
