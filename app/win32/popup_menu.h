// The tray icon's pop-up menu: "&Pause", "&Restore", "&Exit". A chosen item
// arrives at the owner window as WM_COMMAND with its identifier.
#ifndef AGENT_APP_WIN32_POPUP_MENU_H_
#define AGENT_APP_WIN32_POPUP_MENU_H_

#include <windows.h>

#include "app/win32/handles.h"

namespace agent {

enum PopupItem : UINT { kPauseItem = 101, kRestoreItem = 102, kExitItem = 103 };

class PopupMenu {
 public:
  PopupMenu();

  // Opens the menu at the pointer and returns when it closes (a modal
  // menu loop). owner becomes the foreground window first, so that a
  // click elsewhere closes the menu.
  void trackAtPointer(HWND owner) const;
  // Closes the menu this thread has open, if any.
  static void close();

 private:
  OwnedMenu menu_;
};

}  // namespace agent

#endif  // AGENT_APP_WIN32_POPUP_MENU_H_
