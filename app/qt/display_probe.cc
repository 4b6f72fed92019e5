// Whether a display is usable: the platform-specific part of the tray
// agent's start.
#include <cstdlib>
#include <string>

#include "app/core/tray_agent.h"

#if defined(AGENT_HAVE_XCB)
#include <xcb/xcb.h>
#endif

namespace agent {

bool displayUsable() {
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  if (platform != nullptr && *platform != '\0' && std::string(platform).rfind("xcb", 0) != 0) {
    return true;
  }
#if defined(AGENT_HAVE_XCB)
  // The same connection Qt's X11 platform opens first.
  xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
  bool usable = xcb_connection_has_error(connection) == 0;
  xcb_disconnect(connection);
  return usable;
#elif defined(_WIN32) || defined(__APPLE__)
  return true;
#else
  return std::getenv("DISPLAY") != nullptr || std::getenv("WAYLAND_DISPLAY") != nullptr;
#endif
}

}  // namespace agent
