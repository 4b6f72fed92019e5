// Qt's tray activations as mouse codes.
#include "app/qt/tray_activation.h"

#include "app/core/tray_codes.h"

namespace agent {

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

}  // namespace agent
