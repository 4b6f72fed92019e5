// What every stage of an upload cycle works with: the two connections, the
// program folder, the platform settings, the institution code, and where
// messages and journal lines go.
#ifndef AGENT_UPLOAD_CYCLE_CONTEXT_H_
#define AGENT_UPLOAD_CYCLE_CONTEXT_H_

#include <cstddef>
#include <filesystem>
#include <string>

#include "db/connection.h"
#include "db/platform_config.h"
#include "upload/clock.h"
#include "upload/journal.h"
#include "upload/message_sink.h"

namespace agent {

struct CycleContext {
  // Both connections recover from leftover local objects: an error naming
  // one drops it on the local connection and runs the statement once more.
  Connection& local;
  Connection& remote;
  std::filesystem::path programFolder;
  const PlatformConfig& config;
  std::string univCode;
  MessageSink& messages;
  Journal& journal;
  const Clock& clock;

  // The folder of the export files.
  std::filesystem::path csvFolder() const { return programFolder / "CSV"; }
};

// Thrown by a stage that has already told the user why the cycle must end
// (for example "Duplicate Rec. No. found"): the cycle ends without the end
// stamp and without a further message.
class CycleAbort : public std::exception {
 public:
  explicit CycleAbort(std::string reason) : reason_(std::move(reason)) {}
  const char* what() const noexcept override { return reason_.c_str(); }

 private:
  std::string reason_;
};

// One stage of the cycle: its journal name and the procedure that runs it.
// run returns the number of rows it exported or booked, for the journal.
using StageProcedure = std::size_t (*)(CycleContext&);

}  // namespace agent

#endif  // AGENT_UPLOAD_CYCLE_CONTEXT_H_
