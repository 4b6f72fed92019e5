// How Qt's tray activation reasons map onto the tray notification codes the
// window model dispatches.
#ifndef AGENT_APP_QT_TRAY_ACTIVATION_H_
#define AGENT_APP_QT_TRAY_ACTIVATION_H_

#include <QSystemTrayIcon>

namespace agent {

// The code a Qt activation stands for: Trigger 514, DoubleClick 515,
// Context 517, MiddleClick 520, anything else 0.
int trayCodeFor(QSystemTrayIcon::ActivationReason reason);

}  // namespace agent

#endif  // AGENT_APP_QT_TRAY_ACTIVATION_H_
