// The window SERVICEFILE: start-up, the first activation, the timer tick,
// the tray icon's codes and the menu items, each guarded against running
// inside a cycle.
#include "app/qt/service_window.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QCursor>
#include <QLabel>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QVBoxLayout>
#include <exception>

#include "app/qt/agent_icon.h"
#include "app/qt/tray_codes.h"
#include "base/errors.h"

namespace agent {

namespace {

constexpr int kTimerIntervalMs = 500;
constexpr int kTrayGeometryPollMs = 100;
constexpr int kTrayGeometryPolls = 100;

}  // namespace

ServiceWindow::ServiceWindow(AgentCalls& agent, MessageSink& messages, Journal& journal,
                             const Clock& clock, const RegionalSettings& regional, Options options)
    : agent_(agent),
      messages_(messages),
      journal_(journal),
      clock_(clock),
      regional_(regional),
      options_(options) {
  setObjectName("SERVICEFILE");
  setWindowTitle("Services . . .");
  setWindowIcon(agentIcon());
  buildControls();
  buildTrayIcon();
}

ServiceWindow::~ServiceWindow() = default;

void ServiceWindow::buildControls() {
  chk_ = new QCheckBox("&Pause", this);
  chk_->setObjectName("chk");
  lbsb_ = new QLabel(this);
  lbsb_->setObjectName("lbsb");
  lbsb_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  lbsb_->setMinimumWidth(260);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(chk_);
  layout->addStretch();
  layout->addWidget(lbsb_);

  timer1_ = new QTimer(this);
  timer1_->setObjectName("Timer1");
  timer1_->setInterval(kTimerIntervalMs);
  connect(timer1_, &QTimer::timeout, this, &ServiceWindow::tick);

  mPopupSys_ = new QMenu("&SysTray", this);
  mPopupSys_->setObjectName("mPopupSys");
  mPause_ = mPopupSys_->addAction("&Pause", this, &ServiceWindow::pauseClicked);
  mPause_->setObjectName("mPause");
  mPopRestore_ = mPopupSys_->addAction("&Restore", this, &ServiceWindow::restoreClicked);
  mPopRestore_->setObjectName("mPopRestore");
  mPopExit_ = mPopupSys_->addAction("&Exit", this, &ServiceWindow::exitClicked);
  mPopExit_->setObjectName("mPopExit");
}

void ServiceWindow::buildTrayIcon() {
  trayIcon_ = new QSystemTrayIcon(windowIcon(), this);
  connect(
      trayIcon_, &QSystemTrayIcon::activated, this,
      [this](QSystemTrayIcon::ActivationReason reason) { dispatchTrayCode(trayCodeFor(reason)); });
}

void ServiceWindow::load() {
  schedule_.emplace(clock_, options_.cycleIntervalSeconds);
  timer1_->start();
  show();

  // The record keeps the 32-bit handle the shell would be given.
  notifyIconData_ = makeNotifyIconData(static_cast<std::uint32_t>(winId()), 0);
  trayIcon_->setToolTip(QString::fromStdString(notifyIconData_.tip()));
  trayIcon_->show();  // a failure to add the icon is ignored
  if (options_.trayAvailable) {
    logTrayGeometryWhenKnown(kTrayGeometryPolls);
  } else {
    journal_.warning(
        "no notification area on this desktop: the window minimises to the task bar "
        "instead of hiding, so that it can be restored");
  }

  try {
    agent_.ensureCsvFolder();
  } catch (const ProgramEnd& end) {
    journal_.error(end.message());
    messages_.show(end.message(), MessageIcon::Exclamation);
    endProgram(1);
    return;
  }
  // The platform makes a shown window active; ask for it where no window
  // manager does so on its own.
  activateWindow();
}

bool ServiceWindow::event(QEvent* e) {
  if (e->type() == QEvent::WindowActivate && !activationDone_ && schedule_) {
    // Run the handler from the event loop, not inside the platform's
    // activation delivery.
    QMetaObject::invokeMethod(this, &ServiceWindow::activateAgent, Qt::QueuedConnection);
  }
  return QWidget::event(e);
}

void ServiceWindow::activateAgent() {
  if (activationDone_ || hasEnded()) return;
  activationDone_ = true;
  if (inCycle_) return;  // lost, as a tick during a cycle is
  setWindowState(windowState() | Qt::WindowMinimized);
  hideWhenMinimised();  // before the cycle, which handles no events
  runAsCycle("activation", [this] { agent_.activate(); });
}

void ServiceWindow::changeEvent(QEvent* e) {
  QWidget::changeEvent(e);
  if (e->type() == QEvent::WindowStateChange && isMinimized()) {
    // Decided from the event loop: the platform may still report an older
    // state (a minimise followed by a restore) after this one.
    QTimer::singleShot(0, this, &ServiceWindow::hideWhenMinimised);
  }
}

void ServiceWindow::hideWhenMinimised() {
  if (isMinimized() && options_.trayAvailable && !hasEnded()) hide();  // only the icon remains
}

void ServiceWindow::closeEvent(QCloseEvent* e) {
  if (hasEnded()) {
    e->accept();
    return;
  }
  if (inCycle_) {
    exitRequested_ = true;  // the cycle's end ends the program
    e->ignore();
    return;
  }
  e->accept();
  endProgram(0);
}

void ServiceWindow::tick() {
  if (inCycle_ || hasEnded() || !schedule_) return;
  if (!schedule_->tick()) return;
  setStatusLine("Idle");
  if (chk_->isChecked()) return;  // paused: the schedule has moved on all the same

  // Pending events run once; a tick among them finds the schedule moved on.
  QCoreApplication::processEvents();
  if (hasEnded() || inCycle_) return;
  if (!runAsCycle("timed cycle", [this] { agent_.runCycle(); })) return;
  setStatusLine("Idle - " + formatGeneralDate(clock_.now(), regional_));
}

template <typename Call>
bool ServiceWindow::runAsCycle(const char* what, Call call) {
  inCycle_ = true;
  try {
    call();
  } catch (const ProgramEnd& end) {
    journal_.error(end.message());
    messages_.show(end.message(), MessageIcon::Exclamation);
    inCycle_ = false;
    endProgram(1);
    return false;
  } catch (const std::exception& error) {
    // A cycle handles its own errors; one that escapes is reported and the
    // timer goes on.
    std::string text = std::string(what) + " failed: " + error.what();
    journal_.error(text);
    messages_.show(text, MessageIcon::Exclamation);
  }
  inCycle_ = false;
  if (exitRequested_) {
    endProgram(0);
    return false;
  }
  return true;
}

void ServiceWindow::dispatchTrayCode(int code) {
  if (inCycle_ || hasEnded()) return;
  switch (trayActionFor(code)) {
    case TrayAction::Restore:
      restore();
      break;
    case TrayAction::ShowMenu:
      setForeground();
      showMenuAtPointer();
      break;
    case TrayAction::Ignore:
      break;
  }
}

void ServiceWindow::restore() {
  setWindowState(windowState() & ~Qt::WindowMinimized);
  show();
  setForeground();
  journal_.info("window restored");
}

void ServiceWindow::setStatusLine(const std::string& text) {
  lbsb_->setText(QString::fromStdString(text));
  journal_.info("status line: " + text);
}

void ServiceWindow::setForeground() {
  if (!isVisible()) return;
  raise();
  activateWindow();
}

void ServiceWindow::showMenuAtPointer() {
  mPopupSys_->popup(QCursor::pos());
}

void ServiceWindow::pauseClicked() {
  if (inCycle_ || hasEnded()) return;
  chk_->setChecked(true);
}

void ServiceWindow::restoreClicked() {
  if (inCycle_ || hasEnded()) return;
  restore();
}

void ServiceWindow::exitClicked() {
  if (hasEnded()) return;
  if (inCycle_) {
    exitRequested_ = true;
    return;
  }
  endProgram(0);
}

void ServiceWindow::endProgram(int status) {
  if (hasEnded()) return;
  exitStatus_ = status;
  timer1_->stop();
  trayIcon_->hide();  // removes the icon; a failure is ignored
  mPopupSys_->close();
  close();
  journal_.info(status == 0 ? "the agent ends" : "the agent ends after a message");
  emit programEnded(status);
}

void ServiceWindow::logTrayGeometryWhenKnown(int triesLeft) {
  // The notification area takes the icon a moment after it is shown and
  // may move it then: each new place goes to the journal.
  QRect where = trayIcon_->geometry();
  if (where.isValid() && !where.isEmpty() && where != loggedTrayGeometry_) {
    loggedTrayGeometry_ = where;
    journal_.info("tray icon at " + std::to_string(where.x()) + "," + std::to_string(where.y()) +
                  " size " + std::to_string(where.width()) + "x" + std::to_string(where.height()));
  }
  if (triesLeft <= 0 || hasEnded()) return;
  QTimer::singleShot(kTrayGeometryPollMs, this,
                     [this, triesLeft] { logTrayGeometryWhenKnown(triesLeft - 1); });
}

}  // namespace agent
