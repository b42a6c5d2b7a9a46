#include "app/pictures.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

namespace zq {

QPixmap DrawBanner(QSize size) {
  QPixmap pixmap(size);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient sky(0, 0, size.width(), size.height());
  sky.setColorAt(0, QColor(0x0B, 0x25, 0x4A));
  sky.setColorAt(0.55, QColor(0x12, 0x4E, 0x8C));
  sky.setColorAt(1, QColor(0x1F, 0x8F, 0xB8));
  p.fillRect(pixmap.rect(), sky);
  // Light diagonal bands.
  p.setPen(Qt::NoPen);
  for (int i = 0; i < 7; ++i) {
    QColor band(255, 255, 255, 10 + i * 4);
    p.setBrush(band);
    int x = size.width() / 3 + i * size.width() / 9;
    QPainterPath path;
    path.moveTo(x, size.height());
    path.lineTo(x + size.width() / 14, size.height());
    path.lineTo(x + size.width() / 14 + size.height(), 0);
    path.lineTo(x + size.height(), 0);
    path.closeSubpath();
    p.drawPath(path);
  }
  // A soft glow in the lower right and a thin accent line along the bottom.
  QRadialGradient glow(size.width() * 0.85, size.height() * 0.9, size.height());
  glow.setColorAt(0, QColor(0x8F, 0xE3, 0xFF, 90));
  glow.setColorAt(1, QColor(0x8F, 0xE3, 0xFF, 0));
  p.fillRect(pixmap.rect(), glow);
  p.fillRect(QRect(0, size.height() - 3, size.width(), 3), QColor(0xF2, 0xA5, 0x2B));
  // The maker's word mark, large and faint, on the right.
  QFont mark("DejaVu Sans");
  mark.setPixelSize(qMax(10, size.height() / 4));
  mark.setBold(true);
  p.setFont(mark);
  p.setPen(QColor(255, 255, 255, 40));
  p.drawText(QRect(0, 0, size.width() - 16, size.height() - 8), Qt::AlignRight | Qt::AlignBottom,
             QStringLiteral("QUORVANT"));
  return pixmap;
}

QPixmap DrawLogo(int side) {
  QPixmap pixmap(side, side);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  qreal m = side * 0.06;
  QRectF box(m, m, side - 2 * m, side - 2 * m);
  QLinearGradient fill(box.topLeft(), box.bottomRight());
  fill.setColorAt(0, QColor(0x1F, 0x8F, 0xB8));
  fill.setColorAt(1, QColor(0x0B, 0x25, 0x4A));
  p.setPen(QPen(QColor(0xF2, 0xA5, 0x2B), side * 0.04));
  p.setBrush(fill);
  p.drawRoundedRect(box, side * 0.18, side * 0.18);
  // A "Q": a ring with a tail.
  QPen ring(Qt::white, side * 0.1, Qt::SolidLine, Qt::RoundCap);
  p.setPen(ring);
  p.setBrush(Qt::NoBrush);
  QRectF circle(side * 0.27, side * 0.25, side * 0.46, side * 0.46);
  p.drawEllipse(circle);
  p.drawLine(QPointF(side * 0.58, side * 0.6), QPointF(side * 0.76, side * 0.78));
  return pixmap;
}

QPixmap DrawContactPicture(int side) {
  QPixmap pixmap(side, side);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  // An envelope.
  QRectF env(side * 0.08, side * 0.22, side * 0.84, side * 0.56);
  p.setPen(QPen(QColor(0x12, 0x4E, 0x8C), side * 0.05));
  p.setBrush(QColor(0xF4, 0xF8, 0xFC));
  p.drawRect(env);
  QPainterPath flap;
  flap.moveTo(env.topLeft());
  flap.lineTo(env.center().x(), env.top() + env.height() * 0.55);
  flap.lineTo(env.topRight());
  p.setBrush(Qt::NoBrush);
  p.drawPath(flap);
  return pixmap;
}

}  // namespace zq
