// upload-agent: the program entry. With a desktop it lives in the tray;
// without one it runs the same schedule headless, or exactly one cycle.
#include <chrono>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <iterator>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>

#include <CLI/CLI.hpp>

#include "app/core/agent.h"
#include "app/core/config_check.h"
#include "app/core/exit_status.h"
#include "app/core/headless.h"
#include "app/core/schedule.h"
#include "app/core/status.h"
#include "app/core/stop_requests.h"
#include "base/arguments.h"
#include "base/code_page.h"
#include "base/errors.h"
#include "base/file_names.h"
#include "base/process_hardening.h"
#include "base/signal.h"
#include "config/instance_lock.h"
#include "config/local_settings.h"
#include "config/program_folder.h"
#include "cycle/clock.h"
#include "cycle/journal.h"
#include "db/error.h"

#ifdef _WIN32
#include "app/win32/windows_service.h"
#endif

// The tray front-end linked in: Qt on Linux, Win32 on Windows.
#if defined(AGENT_HAVE_GUI)
#include "app/core/tray_agent.h"
#define AGENT_TRAY 1
#endif

namespace {

// How long a stop may take before the program ends regardless: a statement
// that ignores its cancel (a frozen server, a driver without cancel) must
// not hold the program. The local database undoes any transaction left open
// when the process ends, so a payment is never half-booked.
constexpr std::chrono::milliseconds kStopDeadline{4500};

// Passes a stop request (SIGINT, SIGTERM; on Windows Ctrl+C, console close,
// log-off; a service's STOP) on to the agent from a thread of its own, and
// ends the process when the cycle has not ended by kStopDeadline. Made and
// ended by the program's main thread around the schedule; its thread waits
// for the request or its end, and never polls.
class StopWatcher {
 public:
  // beforeForcedEnd, when set, runs just before the process is ended (a
  // service tells its manager it has stopped).
  StopWatcher(const agent::Signal& requested, agent::Agent& agent, agent::Journal& journal,
              std::function<void(int status)> beforeForcedEnd = {})
      : beforeForcedEnd_(std::move(beforeForcedEnd)),
        onRequest_(requested, [this] { wake_.raise(); }),
        thread_([this, &agent, &journal] { watch(agent, journal); }) {}
  // The schedule has returned: the thread ends (after the stop's cancel, when
  // one runs).
  ~StopWatcher() {
    finished_.raise();
    wake_.raise();
    thread_.join();
  }
  StopWatcher(const StopWatcher&) = delete;
  StopWatcher& operator=(const StopWatcher&) = delete;

 private:
  void watch(agent::Agent& agent, agent::Journal& journal) {
    wake_.wait();
    if (finished_.raised()) return;
    journal.info("stop requested: ending the cycle");
    // The cancel may itself wait on the driver: it runs on a thread of its
    // own so that the deadline holds regardless. The thread may outlive
    // this watcher (the process then ends at the deadline), so it shares
    // the signal it raises.
    auto cancelled = std::make_shared<agent::Signal>();
    std::thread([cancelled, &agent] {
      agent.requestStop();
      cancelled->raise();
    }).detach();
    const auto deadline = std::chrono::steady_clock::now() + kStopDeadline;
    auto left = [deadline] {
      return std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
    };
    if (finished_.waitFor(left()) && cancelled->waitFor(left())) return;
    journal.error(
        "stop requested: the running statement did not end within 4.5 s; the program "
        "ends now and the local database rolls back what was not committed");
    if (beforeForcedEnd_) beforeForcedEnd_(agent::exit_status::kCycleEndedEarly);
    std::_Exit(agent::exit_status::kCycleEndedEarly);
  }

  std::function<void(int status)> beforeForcedEnd_;
  // Raised when the schedule has returned.
  agent::Signal finished_;
  // Raised by the request or by the end: the thread looks which.
  agent::Signal wake_;
  agent::Signal::Hook onRequest_;
  std::thread thread_;  // last: started once the members above exist
};

// Reads a password from standard input and writes the value for PASSWORD in
// the settings file's encoding (Windows-1252).
int scramblePassword() {
  std::string plain;
  std::getline(std::cin, plain);
  if (!plain.empty() && plain.back() == '\r') plain.pop_back();
  try {
    std::cout << agent::utf8ToWindows1252(agent::scramblePassword(plain)) << "\n";
    return 0;
  } catch (const agent::AgentError& e) {
    std::cerr << "upload-agent: " << e.description() << "\n";
    return agent::exit_status::kProgramEnded;
  }
}

// The journal of a program folder whose platform.ini cannot be used: the
// default log folder, so that the reason reaches the journal as well as
// standard error.
void journalConfigError(const std::filesystem::path& folder, const std::string& text) {
  try {
    agent::Journal journal(agent::journalFileIn(folder / "log"));
    journal.error("platform.ini: " + text);
  } catch (const agent::AgentError&) {
    // No journal either: standard error has the line.
  }
}

// A tray program that cannot take its folder (another agent holds it, or
// the folder is the service's alone) has no console to say so in: it says
// why in a box, with what --status knows of the running agent.
void explainInBox(int argc, char** argv, bool tray, const std::filesystem::path& folder,
                  const std::string& text) {
#ifdef AGENT_TRAY
  if (!tray || !agent::displayUsable()) return;
  std::ostringstream status;
  agent::printStatus(folder, status);
  agent::showHeldFolder(argc, argv, text + "\n\n" + status.str());
#else
  (void)argc, (void)argv, (void)tray, (void)folder, (void)text;
#endif
}

// Everything after the options: the folder's lock, platform.ini, then the
// tray program, one cycle, or the schedule without a window. service is set
// when the Windows service control manager runs the agent: its controls
// take the place of the console's stop requests.
int runAgent(int argc, char** argv, const std::filesystem::path& folder, bool once, bool headless,
             const agent::ServiceControls* service) {
  const bool tray = !once && !headless && service == nullptr;
  agent::InstanceLock lock(folder);
  if (lock.outcome() == agent::InstanceLock::Outcome::HeldByOther) {
    std::cerr << "upload-agent: another upload-agent is already running on " << folder.string()
              << " (it holds " << lock.path().string() << "); this one ends\n";
    explainInBox(argc, argv, tray, folder,
                 "Another upload-agent (the Windows service, or another user's tray program) "
                 "runs the cycles of this program folder, so this one runs none and ends.");
    return agent::exit_status::kAnotherInstance;
  }
  if (lock.outcome() == agent::InstanceLock::Outcome::Failed) {
    std::cerr << "upload-agent: cannot lock " << lock.path().string() << ": " << lock.error()
              << "\n";
    explainInBox(argc, argv, tray, folder,
                 "upload-agent cannot use the program folder " + agent::pathText(folder) + " (" +
                     lock.error() +
                     "): a folder kept for the Windows service is open to its account and the "
                     "administrators only. This one runs no cycles and ends.");
    return agent::exit_status::kProgramEnded;
  }
  // platform.ini is read here, once, and handed to whichever front-end runs.
  std::optional<agent::PlatformConfig> config;
  std::string configError;
  try {
    config = agent::PlatformConfig::load(folder);
  } catch (const agent::AgentError& e) {
    configError = e.description();
    journalConfigError(folder, configError);
  }
  try {
    agent::SystemClock clock;
#ifdef AGENT_TRAY
    if (tray && agent::displayUsable()) {
      return agent::runTrayAgent(argc, argv, folder, config ? &*config : nullptr, configError);
    }
#else
    (void)argc, (void)argv;
#endif
    if (!config) throw agent::ProgramEnd(configError);
    // Before the journal and the agent, so that a console close waits until
    // they have been cleaned up.
    std::optional<agent::StopRequests> console;
    if (service == nullptr) console.emplace();
    const agent::Signal& stop = service != nullptr ? service->stop : console->requested();
    agent::Journal journal(agent::journalFileIn(config->logFolder));
    // Under systemd (which sets JOURNAL_STREAM for a service whose standard
    // error is its journal) the start, stop, failures and each cycle's
    // summary reach the system's journal too.
    const bool systemd = service == nullptr && std::getenv("JOURNAL_STREAM") != nullptr;
    if (service != nullptr) journal.mirrorTo(service->eventLog);
    if (systemd) journal.mirrorTo(agent::systemdJournalMirror());
    journal.info("upload-agent starting in " + agent::pathText(folder) +
                 (service != nullptr ? " as a Windows service" : ""));
#ifdef AGENT_TRAY
    if (tray) journal.warning("no display: running without a window, as --headless");
#endif
    agent::LoggedMessages messages(journal, service == nullptr && !systemd);
    agent::Agent agent(folder, *config, messages, journal, clock);
    StopWatcher watcher(stop, agent, journal,
                        service != nullptr ? service->stoppedNow : std::function<void(int)>{});
    if (once) return agent::runOnce(agent, messages);
    const int exitStatus = agent::runHeadless(
        agent, messages, clock, stop, agent::scheduleIntervalSeconds(journal),
        std::chrono::milliseconds(500), service != nullptr ? &service->paused : nullptr,
        service != nullptr ? service->publicStatus : std::filesystem::path());
    if (stop.raised()) journal.info("upload-agent stopped on request");
    return exitStatus;
  } catch (const agent::AgentError& e) {
    std::cerr << "upload-agent: " << e.description() << "\n";
  } catch (const agent::ProgramEnd& e) {
    std::cerr << "upload-agent: " << e.message() << "\n";
  }
  return agent::exit_status::kProgramEnded;
}

}  // namespace

int main(int rawArgc, char** rawArgv) {
  agent::hardenProcess();
  agent::Utf8Arguments arguments(rawArgc, rawArgv);
  int argc = arguments.argc();
  char** argv = arguments.argv();
  CLI::App app{"Upload agent: keeps the portal's database in step with the local one."};
  std::string home;
  bool once = false, headless = false, scramble = false, check = false, status = false;
  app.add_option("--home", home,
                 "program folder (default: UPLOAD_AGENT_HOME, else the "
                 "executable's folder)");
  app.add_flag("--once", once, "run exactly one cycle and exit (0 when it stamped its end)");
  app.add_flag("--headless", headless, "run the 50-minute schedule without a window");
  app.add_flag("--scramble-password", scramble,
               "read a password from standard input and print its PASSWORD value");
  app.add_flag("--check", check,
               "check the settings and both connections (writes nothing); 0 when a cycle "
               "could run");
  app.add_flag("--status", status,
               "print whether the agent runs, its next cycle and the last cycles");
#ifdef _WIN32
  agent::ServiceSettings service;
  bool installService = false, uninstallService = false, asService = false;
  app.add_flag("--install-service", installService,
               "install the agent as a Windows service on the program folder (as an "
               "administrator)");
  app.add_flag("--uninstall-service", uninstallService, "stop and remove the Windows service");
  app.add_flag("--service", asService, "the entry the service control manager starts")->group("");
  app.add_option("--service-name", service.name, "the Windows service's name")
      ->capture_default_str();
  app.add_option("--service-account", service.account,
                 "the service's account: LocalService, LocalSystem or an account name "
                 "(default: its own virtual account NT SERVICE\\<name>)");
#endif
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // --help ends with status 0; a mistyped option with the usage status.
    return app.exit(e) == 0 ? agent::exit_status::kSuccess : agent::exit_status::kUsage;
  }

  if (scramble) return scramblePassword();
  agent::ignoreFileSizeSignal();
#ifdef _WIN32
  if (uninstallService) return agent::uninstallService(service, std::cout);
#endif

  const std::filesystem::path folder = agent::programFolder(home, argv[0]);
  // A mistyped folder must not become a new, empty program folder: check
  // before anything (lock file, log folder, CSV) is made in it.
  std::error_code ec;
  if (!std::filesystem::is_directory(folder, ec)) {
    std::cerr << "upload-agent: the program folder " << folder.string()
              << " does not exist or is not a folder; nothing was created\n";
    return agent::exit_status::kUsage;
  }
  // Neither takes the lock: --status asks about the agent that holds it.
  if (check) return agent::printCheck(agent::checkConfiguration(folder), std::cout);
  if (status) return agent::printStatus(folder, std::cout);
#ifdef _WIN32
  if (installService) return agent::installService(folder, service, std::cout);
  if (asService) {
    return agent::runService(service, [&](const agent::ServiceControls& controls) {
      return runAgent(argc, argv, folder, false, true, &controls);
    });
  }
#endif
  return runAgent(argc, argv, folder, once, headless, nullptr);
}
