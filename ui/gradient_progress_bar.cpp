#include "ui/gradient_progress_bar.h"

#include <QLinearGradient>
#include <QPainter>
#include <algorithm>

namespace zq {

TGradientProgressBar::TGradientProgressBar(QWidget* parent) : QWidget(parent) {
  setMinimumHeight(14);
}

void TGradientProgressBar::SetPercent(int value) {
  percent_ = std::clamp(value, 0, 100);
  if (isVisible()) repaint();
  emit PercentChanged(percent_);
}

void TGradientProgressBar::paintEvent(QPaintEvent*) {
  QPainter p(this);
  QRect frame = rect().adjusted(0, 0, -1, -1);
  p.fillRect(rect(), palette().base());
  int filled = (width() - 2) * percent_ / 100;
  if (filled > 0) {
    QLinearGradient gradient(1, 0, width() - 1, 0);
    gradient.setColorAt(0, start_);
    gradient.setColorAt(1, end_);
    p.fillRect(QRect(1, 1, filled, height() - 2), gradient);
  }
  p.setPen(palette().color(QPalette::Mid));
  p.drawRect(frame);
  p.setPen(percent_ >= 50 ? Qt::white : palette().color(QPalette::Text));
  p.drawText(rect(), Qt::AlignCenter, QStringLiteral("%1 %").arg(percent_));
}

}  // namespace zq
