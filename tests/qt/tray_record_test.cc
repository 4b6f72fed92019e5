// The tray record's layout, and how Qt's activations map onto the mouse
// codes the window dispatches.
#include <gtest/gtest.h>

#include "app/qt/notify_icon_data.h"
#include "app/qt/tray_codes.h"

namespace agent {
namespace {

std::uint32_t fieldAt(const std::array<std::uint8_t, 88>& bytes, int index) {
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = value << 8 | bytes[index * 4 + i];
  return value;
}

TEST(NotifyIconData, HoldsTheShellRecordInItsLayout) {
  NotifyIconData record = makeNotifyIconData(0x00010203, 0);
  auto bytes = record.bytes();
  ASSERT_EQ(bytes.size(), 88u);
  EXPECT_EQ(fieldAt(bytes, 0), 88u);
  EXPECT_EQ(fieldAt(bytes, 1), 0x00010203u);
  EXPECT_EQ(fieldAt(bytes, 2), 1u);
  EXPECT_EQ(fieldAt(bytes, 3), 7u);
  EXPECT_EQ(fieldAt(bytes, 4), 512u);
  std::string tip(bytes.begin() + 24, bytes.end());
  EXPECT_EQ(tip, std::string("Print File") + '\0' + std::string(53, ' '));
}

TEST(NotifyIconData, TipLongerThanItsFieldKeepsTheZeroByte) {
  auto field = fixedTipField(std::string(100, 'x'));
  EXPECT_EQ(std::string(field.begin(), field.end() - 1), std::string(63, 'x'));
  EXPECT_EQ(field.back(), '\0');
}

// What each code does is proven through the window (WindowTest.TrayCodes...).
TEST(TrayCodes, ActivationsMapToMouseCodes) {
  EXPECT_EQ(trayCodeFor(QSystemTrayIcon::Trigger), 514);
  EXPECT_EQ(trayCodeFor(QSystemTrayIcon::DoubleClick), 515);
  EXPECT_EQ(trayCodeFor(QSystemTrayIcon::Context), 517);
  EXPECT_EQ(trayCodeFor(QSystemTrayIcon::MiddleClick), 520);
  EXPECT_EQ(trayCodeFor(QSystemTrayIcon::Unknown), 0);
}

}  // namespace
}  // namespace agent
