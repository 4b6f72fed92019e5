// The tray notification codes and their action table.
#include "app/qt/tray_codes.h"

namespace agent {

namespace {

struct TrayRule {
  int code;
  TrayAction action;
};

// What a click on the icon does; every other code is ignored.
constexpr TrayRule kTrayRules[] = {
    {tray_code::kLeftButtonUp, TrayAction::Restore},
    {tray_code::kLeftButtonDblClk, TrayAction::Restore},
    {tray_code::kRightButtonUp, TrayAction::ShowMenu},
};

}  // namespace

int trayCodeFor(QSystemTrayIcon::ActivationReason reason) {
  switch (reason) {
    case QSystemTrayIcon::Trigger:
      return tray_code::kLeftButtonUp;
    case QSystemTrayIcon::DoubleClick:
      return tray_code::kLeftButtonDblClk;
    case QSystemTrayIcon::Context:
      return tray_code::kRightButtonUp;
    case QSystemTrayIcon::MiddleClick:
      return tray_code::kMiddleButtonUp;
    case QSystemTrayIcon::Unknown:
      break;
  }
  return tray_code::kNone;
}

TrayAction trayActionFor(int code) {
  for (const TrayRule& rule : kTrayRules) {
    if (rule.code == code) return rule.action;
  }
  return TrayAction::Ignore;
}

}  // namespace agent
