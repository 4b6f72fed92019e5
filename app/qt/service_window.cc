// The Qt window: widgets, the tray icon and the menu, each event handed to
// the window model.
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

#include "app/qt/agent_icon.h"
#include "app/qt/tray_activation.h"

namespace agent {

namespace {

constexpr int kTrayGeometryPollMs = 100;
constexpr int kTrayGeometryPolls = 100;

}  // namespace

ServiceWindow::ServiceWindow(AgentCalls& agent, MessageSink& messages, Journal& journal,
                             const Clock& clock, const RegionalSettings& regional, Options options)
    : messages_(messages),
      journal_(journal),
      trayAvailable_(options.trayAvailable),
      model_(*this, agent, journal, clock, regional, options) {
  setObjectName("SERVICEFILE");
  setWindowTitle(WindowModel::kTitle);
  setWindowIcon(agentIcon());
  buildControls();
}

ServiceWindow::~ServiceWindow() {
  // While the window is whole: a cycle waiting for it must still be served.
  model_.shutDown();
}

// The controls carry the window's own control names (chk, lbsb, Timer1) as
// object names, by which tests and tools find them.
void ServiceWindow::buildControls() {
  pauseBox_ = new QCheckBox("&Pause", this);
  pauseBox_->setObjectName("chk");
  connect(pauseBox_, &QCheckBox::toggled, this, [this](bool ticked) { model_.setPaused(ticked); });
  statusLabel_ = new QLabel(this);
  statusLabel_->setObjectName("lbsb");
  statusLabel_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  statusLabel_->setMinimumWidth(260);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(pauseBox_);
  layout->addStretch();
  layout->addWidget(statusLabel_);

  cycleTimer_ = new QTimer(this);
  cycleTimer_->setObjectName("Timer1");
  connect(cycleTimer_, &QTimer::timeout, this, &ServiceWindow::tick);

  mPopupSys_ = new QMenu("&SysTray", this);
  mPopupSys_->setObjectName("mPopupSys");
  mPause_ = mPopupSys_->addAction("&Pause", this, [this] { model_.pauseItem(); });
  mPause_->setObjectName("mPause");
  mPopRestore_ = mPopupSys_->addAction("&Restore", this, [this] { model_.restoreItem(); });
  mPopRestore_->setObjectName("mPopRestore");
  mPopExit_ = mPopupSys_->addAction("&Exit", this, [this] { model_.exitItem(); });
  mPopExit_->setObjectName("mPopExit");

  trayIcon_ = new QSystemTrayIcon(windowIcon(), this);
  connect(
      trayIcon_, &QSystemTrayIcon::activated, this,
      [this](QSystemTrayIcon::ActivationReason reason) { model_.trayCode(trayCodeFor(reason)); });
}

bool ServiceWindow::event(QEvent* e) {
  if (e->type() == QEvent::WindowActivate && model_.awaitsActivation()) {
    // Run the handler from the event loop, not inside the platform's
    // activation delivery.
    QMetaObject::invokeMethod(
        this, [this] { model_.firstActivation(); }, Qt::QueuedConnection);
  }
  return QWidget::event(e);
}

void ServiceWindow::changeEvent(QEvent* e) {
  QWidget::changeEvent(e);
  if (e->type() == QEvent::WindowStateChange && isMinimized()) {
    // Decided from the event loop: the platform may still report an older
    // state (a minimise followed by a restore) after this one.
    QTimer::singleShot(0, this, [this] { model_.windowMinimised(); });
  }
}

void ServiceWindow::closeEvent(QCloseEvent* e) {
  if (model_.closeRequested()) {
    e->accept();
  } else {
    e->ignore();
  }
}

void ServiceWindow::startTickTimer(int intervalMs) {
  cycleTimer_->start(intervalMs);
}

void ServiceWindow::stopTickTimer() {
  cycleTimer_->stop();
}

void ServiceWindow::showWindow() {
  setWindowState(windowState() & ~Qt::WindowMinimized);
  show();
  // The platform makes a shown window active; ask for it where no window
  // manager does so on its own.
  activateWindow();
}

void ServiceWindow::hideWindow() {
  hide();  // only the icon remains
}

void ServiceWindow::minimiseWindow() {
  setWindowState(windowState() | Qt::WindowMinimized);
}

bool ServiceWindow::isMinimised() const {
  return isMinimized();
}

void ServiceWindow::bringToForeground() {
  if (!isVisible()) return;
  raise();
  activateWindow();
}

void ServiceWindow::closeWindow() {
  close();
}

void ServiceWindow::setStatusText(const std::string& text) {
  statusLabel_->setText(QString::fromStdString(text));
}

void ServiceWindow::setPauseTicked(bool ticked) {
  pauseBox_->setChecked(ticked);
}

void ServiceWindow::addTrayIcon(const std::string& tip) {
  trayIcon_->setToolTip(QString::fromStdString(tip));
  trayIcon_->show();  // a failure to add the icon is ignored
  if (trayAvailable_) logTrayGeometryWhenKnown(kTrayGeometryPolls);
}

void ServiceWindow::removeTrayIcon() {
  trayIcon_->hide();
}

void ServiceWindow::popupMenu() {
  mPopupSys_->popup(QCursor::pos());
}

void ServiceWindow::closeMenu() {
  mPopupSys_->close();
}

void ServiceWindow::messageBox(const std::string& text, MessageIcon icon) {
  messages_.show(text, icon);
}

void ServiceWindow::processPendingEvents() {
  QCoreApplication::processEvents();
}

void ServiceWindow::postToUi(std::function<void()> task) {
  // Dropped with the window should it be gone first.
  QMetaObject::invokeMethod(this, std::move(task), Qt::QueuedConnection);
}

void ServiceWindow::runOnUiAndWait(std::function<void()> task) {
  QMetaObject::invokeMethod(this, std::move(task), Qt::BlockingQueuedConnection);
}

void ServiceWindow::onProgramEnd(int status) {
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
  if (triesLeft <= 0 || model_.hasEnded()) return;
  QTimer::singleShot(kTrayGeometryPollMs, this,
                     [this, triesLeft] { logTrayGeometryWhenKnown(triesLeft - 1); });
}

}  // namespace agent
