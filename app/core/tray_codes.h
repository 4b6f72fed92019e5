// The tray icon's notification codes (the mouse message a click on the icon
// delivers) and the one table that says what the window does for each code.
// A front-end translates its toolkit's clicks into these codes.
#ifndef AGENT_APP_CORE_TRAY_CODES_H_
#define AGENT_APP_CORE_TRAY_CODES_H_

namespace agent {

// The mouse messages a tray icon reports.
namespace tray_code {
constexpr int kLeftButtonUp = 514;      // WM_LBUTTONUP
constexpr int kLeftButtonDblClk = 515;  // WM_LBUTTONDBLCLK
constexpr int kRightButtonUp = 517;     // WM_RBUTTONUP
constexpr int kMiddleButtonUp = 520;    // WM_MBUTTONUP
constexpr int kNone = 0;                // an activation without a mouse message
}  // namespace tray_code

enum class TrayAction {
  Ignore,
  Restore,   // state normal, foreground, show the window
  ShowMenu,  // foreground, then the pop-up menu at the pointer
};

// The action for a code; codes outside the table are ignored.
TrayAction trayActionFor(int code);

}  // namespace agent

#endif  // AGENT_APP_CORE_TRAY_CODES_H_
