// The tray-icon record: its tip field and its byte layout.
#include "app/qt/notify_icon_data.h"

#include <algorithm>

namespace agent {

namespace {
constexpr char kAgentTip[] = "Print File";
}  // namespace

std::string NotifyIconData::tip() const {
  auto end = std::find(szTip.begin(), szTip.end(), '\0');
  return std::string(szTip.begin(), end);
}

std::array<std::uint8_t, NotifyIconData::kRecordSize> NotifyIconData::bytes() const {
  std::array<std::uint8_t, kRecordSize> out{};
  const std::uint32_t fields[] = {cbSize, hWnd, uID, uFlags, uCallbackMessage, hIcon};
  std::size_t at = 0;
  for (std::uint32_t field : fields) {
    for (int shift = 0; shift < 32; shift += 8) out[at++] = (field >> shift) & 0xFF;
  }
  for (char c : szTip) out[at++] = static_cast<std::uint8_t>(c);
  return out;
}

std::array<char, NotifyIconData::kTipWidth> fixedTipField(const std::string& tip) {
  std::array<char, NotifyIconData::kTipWidth> field;
  field.fill(' ');
  std::size_t length = std::min(tip.size(), field.size() - 1);
  std::copy_n(tip.begin(), length, field.begin());
  field[length] = '\0';
  return field;
}

NotifyIconData makeNotifyIconData(std::uint32_t windowHandle, std::uint32_t iconHandle) {
  NotifyIconData record;
  record.hWnd = windowHandle;
  record.hIcon = iconHandle;
  record.szTip = fixedTipField(kAgentTip);
  return record;
}

}  // namespace agent
