// The tray notification codes' action table.
#include "app/core/tray_codes.h"

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

TrayAction trayActionFor(int code) {
  for (const TrayRule& rule : kTrayRules) {
    if (rule.code == code) return rule.action;
  }
  return TrayAction::Ignore;
}

}  // namespace agent
