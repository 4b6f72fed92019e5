// The window's icon in the notification area (Shell_NotifyIconW): uID 1,
// NIF_MESSAGE | NIF_ICON | NIF_TIP, its mouse messages sent to the window
// as kTrayCallbackMessage with the mouse message (WM_LBUTTONUP 514,
// WM_LBUTTONDBLCLK 515, WM_RBUTTONUP 517, ...) in lParam. Removed with the
// object.
#ifndef AGENT_APP_WIN32_TRAY_ICON_H_
#define AGENT_APP_WIN32_TRAY_ICON_H_

#include <windows.h>

#include <shellapi.h>  // after windows.h

#include <string>

namespace agent {

constexpr UINT kTrayCallbackMessage = WM_APP + 1;

class TrayIcon {
 public:
  // window receives the callback message; icon must outlive the object.
  TrayIcon(HWND window, HICON icon);
  ~TrayIcon() { remove(); }
  TrayIcon(const TrayIcon&) = delete;
  TrayIcon& operator=(const TrayIcon&) = delete;

  // Adds the icon with its tool tip (at most 127 characters are shown).
  // Returns whether the shell took it.
  bool add(const std::string& tip);
  // Adds the icon again when it was added before: the shell (Explorer) has
  // restarted and lost it (the "TaskbarCreated" message). An icon the shell
  // still holds is replaced. Returns whether the shell took it.
  bool addAgain();
  void remove();
  bool added() const { return wanted_; }

 private:
  bool addNow();

  NOTIFYICONDATAW data_{};
  bool wanted_ = false;  // add() was called and remove() was not
  bool shown_ = false;   // the shell holds the icon
};

}  // namespace agent

#endif  // AGENT_APP_WIN32_TRAY_ICON_H_
