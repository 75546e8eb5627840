#include "app/ProgramIcon.h"

#include <QPainter>
#include <QPixmap>

namespace marindo {
namespace {

QPixmap ClockFace(int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  const qreal unit = size / 32.0;
  painter.scale(unit, unit);
  painter.setPen(QPen(QColor(0x1F, 0x3A, 0x5F), 2.5));
  painter.setBrush(QColor(0xF4, 0xF7, 0xFB));
  painter.drawEllipse(QPointF(16, 16), 13.5, 13.5);
  painter.setPen(QPen(QColor(0x1F, 0x3A, 0x5F), 2.5, Qt::SolidLine, Qt::RoundCap));
  painter.drawLine(QPointF(16, 16), QPointF(16, 7.5));   // minute hand
  painter.drawLine(QPointF(16, 16), QPointF(21.5, 19));  // hour hand
  return pixmap;
}

}  // namespace

QIcon ProgramIcon() {
  QIcon icon;
  for (int size : {16, 32, 48, 64}) icon.addPixmap(ClockFace(size));
  return icon;
}

}  // namespace marindo
