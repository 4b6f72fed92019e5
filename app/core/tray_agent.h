// The agent on a desktop: the window SERVICEFILE with its tray icon, menu
// and timer, around the agent of one program folder. Declared here; the
// entry is defined by the front-end the program links: app/qt (Linux) or
// app/win32 (Windows).
// AGENT_HAVE_GUI says that one is linked.
#ifndef AGENT_APP_CORE_TRAY_AGENT_H_
#define AGENT_APP_CORE_TRAY_AGENT_H_

#include <filesystem>
#include <memory>
#include <string>

#include "config/platform_config.h"
#include "cycle/journal.h"

namespace agent {

// Whether a window can be opened here, asked before the front-end starts.
// Qt (a QApplication without a display aborts the program): true when
// QT_QPA_PLATFORM names a platform (the caller chose one); on X11, when the
// X server that DISPLAY names accepts a connection. Win32: true when the
// process runs on an interactive desktop (not as a service). A false answer
// means: run without a window.
bool displayUsable();

// Runs the tray agent until "&Exit", a closed window or an end with a
// message; returns the program's exit status (0 after "&Exit" or a closed
// window, 1 after an end with a message). home: the program folder (the
// settings file, the CSV folder); config: its platform.ini as the entry
// read it, or null when it is unusable, configError then saying why (the
// program shows that and ends with status 1). argc and
// argv go to QApplication (Qt only) and must stay valid until it returns. Call only
// when displayUsable() is true. Writes the journal to
// <log folder>/agent.log, including (Qt) the tray icon's place on the
// screen once the notification area has taken it ("tray icon at X,Y size
// WxH") or (Win32) "tray icon added" once the shell has taken it, and why the window minimises
// without hiding where the desktop has no notification area. For demonstrations only, a positive
// number of seconds in UPLOAD_AGENT_INTERVAL_SECONDS replaces the 50-minute interval (the journal
// says so).
int runTrayAgent(int argc, char** argv, const std::filesystem::path& home,
                 const PlatformConfig* config, const std::string& configError);

// For either front-end (defined in app/core): the journal of the tray
// agent, <log folder>/agent.log, with its start line; in memory when
// config is null (the settings are unusable and the program says why).
std::unique_ptr<Journal> openTrayJournal(const std::filesystem::path& home,
                                         const PlatformConfig* config);

}  // namespace agent

#endif  // AGENT_APP_CORE_TRAY_AGENT_H_
