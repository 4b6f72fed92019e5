// Modal message boxes for the agent's messages.
#include "app/qt/qt_message_sink.h"

#include <QCoreApplication>
#include <QMessageBox>

namespace agent {

void QtMessageSink::show(const std::string& text, MessageIcon icon) {
  QMessageBox box(icon == MessageIcon::Exclamation ? QMessageBox::Warning : QMessageBox::NoIcon,
                  QCoreApplication::applicationName(), QString::fromStdString(text),
                  QMessageBox::Ok);
  box.setWindowModality(Qt::ApplicationModal);
  box.exec();
}

}  // namespace agent
