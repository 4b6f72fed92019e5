// The NOTIFYICONDATAW record, filled once and handed to the shell.
#include "app/win32/tray_icon.h"

#include <shellapi.h>

#include <cwchar>

#include "app/win32/wide_text.h"

namespace agent {

TrayIcon::TrayIcon(HWND window, HICON icon) {
  data_.cbSize = sizeof(data_);
  data_.hWnd = window;
  data_.uID = 1;
  data_.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  data_.uCallbackMessage = kTrayCallbackMessage;
  data_.hIcon = icon;
}

bool TrayIcon::add(const std::string& tip) {
  std::wstring wide = toWide(tip);
  const size_t capacity = sizeof(data_.szTip) / sizeof(data_.szTip[0]);
  std::wcsncpy(data_.szTip, wide.c_str(), capacity - 1);
  data_.szTip[capacity - 1] = L'\0';
  wanted_ = true;
  return addNow();
}

bool TrayIcon::addAgain() {
  if (!wanted_) return false;
  // The old shell's icon is gone with it, as a rule; a message sent for
  // another reason (Windows sends it at a change of resolution too) finds
  // it still there, and an add of an existing icon fails.
  Shell_NotifyIconW(NIM_DELETE, &data_);
  return addNow();
}

bool TrayIcon::addNow() {
  shown_ = Shell_NotifyIconW(NIM_ADD, &data_) != FALSE;
  return shown_;
}

void TrayIcon::remove() {
  if (shown_) Shell_NotifyIconW(NIM_DELETE, &data_);
  shown_ = false;
  wanted_ = false;
}

}  // namespace agent
