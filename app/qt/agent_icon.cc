// Draws the agent's icon.
#include "app/qt/agent_icon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace agent {

namespace {

QPixmap drawIcon(int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.scale(size / 32.0, size / 32.0);

  // The sheet.
  painter.setPen(QPen(QColor(0x1f, 0x3a, 0x68), 1.5));
  painter.setBrush(QColor(0x3a, 0x7b, 0xd5));
  painter.drawRoundedRect(QRectF(3, 3, 26, 26), 5, 5);

  // The upward arrow: a shaft and a head.
  painter.setPen(Qt::NoPen);
  painter.setBrush(Qt::white);
  painter.drawRect(QRectF(13.5, 14, 5, 11));
  QPainterPath head;
  head.moveTo(16, 6);
  head.lineTo(24, 15);
  head.lineTo(8, 15);
  head.closeSubpath();
  painter.drawPath(head);
  return pixmap;
}

}  // namespace

QIcon agentIcon() {
  QIcon icon;
  for (int size : {16, 22, 24, 32, 48, 64}) icon.addPixmap(drawIcon(size));
  return icon;
}

}  // namespace agent
