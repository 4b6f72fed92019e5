// The menu is made once and tracked at the pointer each time.
#include "app/win32/popup_menu.h"

namespace agent {

PopupMenu::PopupMenu() : menu_(CreatePopupMenu()) {
  AppendMenuW(menu_.get(), MF_STRING, kPauseItem, L"&Pause");
  AppendMenuW(menu_.get(), MF_STRING, kRestoreItem, L"&Restore");
  AppendMenuW(menu_.get(), MF_STRING, kExitItem, L"&Exit");
}

void PopupMenu::trackAtPointer(HWND owner) const {
  POINT at{};
  GetCursorPos(&at);
  SetForegroundWindow(owner);
  TrackPopupMenu(menu_.get(), TPM_RIGHTBUTTON | TPM_BOTTOMALIGN, at.x, at.y, 0, owner, nullptr);
  // Lets the menu close at the next click outside it (a menu of a
  // notification icon otherwise stays open until a second one).
  PostMessageW(owner, WM_NULL, 0, 0);
}

void PopupMenu::close() {
  EndMenu();
}

}  // namespace agent
