// upload-agent: the program entry. With a desktop it lives in the tray;
// without one it runs the same schedule headless, or exactly one cycle.
#include <csignal>
#include <cstdlib>
#include <iostream>
#include <iterator>
#include <optional>
#include <string>

#include <CLI/CLI.hpp>

#include "app/core/agent.h"
#include "app/core/headless.h"
#include "app/core/schedule.h"
#include "base/code_page.h"
#include "base/errors.h"
#include "config/local_settings.h"
#include "config/program_folder.h"
#include "cycle/clock.h"
#include "cycle/journal.h"
#include "db/error.h"

#if defined(AGENT_HAVE_GUI) && __has_include("app/qt/tray_agent.h")
#include "app/qt/tray_agent.h"
#define AGENT_TRAY 1
#endif

namespace {

std::atomic<bool> stopRequested{false};

void requestStop(int) {
  stopRequested = true;
}

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
    return 2;
  }
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Upload agent: keeps the portal's database in step with the local one."};
  std::string home;
  bool once = false, headless = false, scramble = false;
  app.add_option("--home", home,
                 "program folder (default: UPLOAD_AGENT_HOME, else the "
                 "executable's folder)");
  app.add_flag("--once", once, "run exactly one cycle and exit (0 when it stamped its end)");
  app.add_flag("--headless", headless, "run the 50-minute schedule without a window");
  app.add_flag("--scramble-password", scramble,
               "read a password from standard input and print its PASSWORD value");
  CLI11_PARSE(app, argc, argv);

  if (scramble) return scramblePassword();

  const std::filesystem::path folder = agent::programFolder(home, argv[0]);
  // platform.ini is read here, once, and handed to whichever front-end runs.
  std::optional<agent::PlatformConfig> config;
  std::string configError;
  try {
    config = agent::PlatformConfig::load(folder);
  } catch (const agent::AgentError& e) {
    configError = e.description();
  }
  try {
    agent::SystemClock clock;
#ifdef AGENT_TRAY
    const bool tray = !once && !headless;
    if (tray && agent::displayUsable()) {
      return agent::runTrayAgent(argc, argv, folder, config ? &*config : nullptr, configError);
    }
#endif
    if (!config) throw agent::ProgramEnd(configError);
    agent::Journal journal(config->logFolder / "agent.log");
    journal.info("upload-agent starting in " + folder.string());
#ifdef AGENT_TRAY
    if (tray) journal.warning("no display: running without a window, as --headless");
#endif
    agent::LoggedMessages messages(journal);
    agent::Agent agent(folder, *config, messages, journal, clock);
    if (once) return agent::runOnce(agent, messages);
    std::signal(SIGINT, requestStop);
    std::signal(SIGTERM, requestStop);
    return agent::runHeadless(agent, messages, clock, stopRequested,
                              agent::scheduleIntervalSeconds(journal));
  } catch (const agent::AgentError& e) {
    std::cerr << "upload-agent: " << e.description() << "\n";
  } catch (const agent::ProgramEnd& e) {
    std::cerr << "upload-agent: " << e.message() << "\n";
  }
  return 2;
}
