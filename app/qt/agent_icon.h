// The window's own icon, drawn in code: the tray shows the same image.
#ifndef AGENT_APP_QT_AGENT_ICON_H_
#define AGENT_APP_QT_AGENT_ICON_H_

#include <QIcon>

namespace agent {

// A sheet with an upward arrow, at the sizes a tray and a title bar ask
// for. Needs a QGuiApplication.
QIcon agentIcon();

}  // namespace agent

#endif  // AGENT_APP_QT_AGENT_ICON_H_
