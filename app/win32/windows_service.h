// The agent as a Windows service: installed with --install-service, removed
// with --uninstall-service, and started by the service control manager with
// --service. The service runs the same schedule as --headless; the manager's
// STOP, SHUTDOWN and PRESHUTDOWN end it through the same stop path as
// Ctrl+C, and PAUSE/CONTINUE skip timed cycles like the pause box. Its
// start, stop, cycle summaries and failures also go to the Event Log.
#ifndef AGENT_APP_WIN32_WINDOWS_SERVICE_H_
#define AGENT_APP_WIN32_WINDOWS_SERVICE_H_

#include <filesystem>
#include <functional>
#include <ostream>
#include <string>

#include "app/core/headless.h"
#include "cycle/journal.h"

namespace agent {

inline constexpr const char* kDefaultServiceName = "UploadAgent";

struct ServiceSettings {
  std::string name = kDefaultServiceName;
  // "" (the default): the service's own virtual account NT SERVICE\<name>;
  // "LocalService"; "LocalSystem" only when the office chooses it; or any
  // other account name (its password then set in the Services console).
  std::string account;
};

// The agent's unattended run; returns its exit status.
using ServiceBody = std::function<int(const ServiceControls& controls)>;

// Installs (or, when one of that name exists, reconfigures) the service for
// the program folder home: automatic start (delayed), restart after a
// failure, this executable with --service and --home, the Event Log source,
// and the folder's access list (SYSTEM and Administrators full control, the
// service's account modify, nobody else, nothing inherited). Prints what it
// did; returns the exit status.
int installService(const std::filesystem::path& home, const ServiceSettings& settings,
                   std::ostream& out);

// Stops the service when it runs, removes it and its Event Log source.
// A service that is not installed is not an error.
int uninstallService(const ServiceSettings& settings, std::ostream& out);

// "The Windows service <name> is running." (stopped, paused...) as the
// manager tells any user; empty when no such service is installed.
std::string serviceStateText(const std::string& name);

// The service's public status: %ProgramData%\UploadAgent\<name>.status,
// which every user may read (the program folder is the service's own). Its
// next and last cycle, from the state file's public copy.
std::filesystem::path publicStatusFile(const std::string& name);
// "Next cycle at ..." and "Last cycle: ..." from that file; empty when
// there is none.
std::string publicStatusText(const std::string& name);

// The entry the manager starts: connects to it and runs body on the
// service's thread until it returns. Fails (status 2) when the process was
// not started by the manager.
int runService(const ServiceSettings& settings, ServiceBody body);

}  // namespace agent

#endif  // AGENT_APP_WIN32_WINDOWS_SERVICE_H_
