// One MessageBoxW per message.
#include "app/win32/message_box_sink.h"

#include <windows.h>

#include "app/win32/wide_text.h"

namespace agent {

void MessageBoxSink::show(const std::string& text, MessageIcon icon) {
  const UINT style = MB_OK | MB_SETFOREGROUND | MB_TASKMODAL |
                     (icon == MessageIcon::Exclamation ? MB_ICONEXCLAMATION : 0);
  // No owner: the window may be hidden in the tray, and a box owned by a
  // hidden window would not show on the task bar.
  MessageBoxW(nullptr, toWide(text).c_str(), L"upload-agent", style);
}

}  // namespace agent
