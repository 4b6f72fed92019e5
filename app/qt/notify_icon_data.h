// The tray-icon record as the shell's ANSI NOTIFYICONDATA of 88 bytes: the
// values the icon is registered with, filled once at start-up and kept for
// the removal at the end. The Qt tray icon takes its tool tip from it; a
// native Windows backend would pass bytes() to the shell unchanged.
#ifndef AGENT_APP_QT_NOTIFY_ICON_DATA_H_
#define AGENT_APP_QT_NOTIFY_ICON_DATA_H_

#include <array>
#include <cstdint>
#include <string>

namespace agent {

struct NotifyIconData {
  static constexpr std::size_t kTipWidth = 64;
  static constexpr std::uint32_t kRecordSize = 6 * 4 + kTipWidth;  // 88

  std::uint32_t cbSize = kRecordSize;
  std::uint32_t hWnd = 0;
  std::uint32_t uID = 1;
  std::uint32_t uFlags = 7;              // NIF_MESSAGE 1 + NIF_ICON 2 + NIF_TIP 4
  std::uint32_t uCallbackMessage = 512;  // WM_MOUSEMOVE
  std::uint32_t hIcon = 0;
  // The tip left-aligned in its field: the text, a zero byte, then blanks.
  std::array<char, kTipWidth> szTip{};

  // The tip text: szTip up to its zero byte.
  std::string tip() const;
  // The record in the shell's layout: six little-endian 32-bit fields in
  // the order above, then the 64 tip bytes.
  std::array<std::uint8_t, kRecordSize> bytes() const;
};

// The agent's record: "Print File" as the tip, the given window and icon
// handles (0 where the platform has none).
NotifyIconData makeNotifyIconData(std::uint32_t windowHandle, std::uint32_t iconHandle);

// tip written into a 64-byte field: at most 63 characters of it, a zero
// byte, then blanks to the end of the field.
std::array<char, NotifyIconData::kTipWidth> fixedTipField(const std::string& tip);

}  // namespace agent

#endif  // AGENT_APP_QT_NOTIFY_ICON_DATA_H_
