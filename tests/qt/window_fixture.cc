// Helpers for the window's tests.
#include "tests/qt/window_fixture.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QTimer>
#include <QWidget>

namespace agent::testing {

void whenModalBoxOpens(std::function<void(QWidget* box)> body) {
  auto* poll = new QTimer(QApplication::instance());
  poll->setInterval(10);
  QObject::connect(poll, &QTimer::timeout, poll, [poll, body] {
    QWidget* box = QApplication::activeModalWidget();
    if (box == nullptr) return;
    poll->stop();
    poll->deleteLater();
    body(box);
    box->close();
  });
  poll->start();
}

bool processEventsUntil(const std::function<bool()>& done) {
  QDeadlineTimer deadline(2000);
  while (!done()) {
    if (deadline.hasExpired()) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

}  // namespace agent::testing
