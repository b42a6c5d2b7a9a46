#include "ui/marquee_label.h"

#include <QFontMetrics>
#include <QPainter>

namespace zq {

TMarqueeLabel::TMarqueeLabel(QWidget* parent) : QWidget(parent) {
  timer_.setInterval(20);
  connect(&timer_, &QTimer::timeout, this, &TMarqueeLabel::Step);
  timer_.start();
}

void TMarqueeLabel::SetText(const QString& value) {
  text_ = value;
  offset_ = 0;
  update();
}

void TMarqueeLabel::SetScrollDelay(int ms) { timer_.setInterval(ms > 0 ? ms : 1); }

void TMarqueeLabel::SetActive(bool value) {
  if (value) {
    timer_.start();
  } else {
    timer_.stop();
  }
}

int TMarqueeLabel::TextWidth() const { return QFontMetrics(font()).horizontalAdvance(text_); }

void TMarqueeLabel::Step() {
  ++offset_;
  // Once the whole text has left on the left, it enters again on the right.
  if (offset_ > width() + TextWidth()) offset_ = 0;
  update();
}

QSize TMarqueeLabel::sizeHint() const { return {200, QFontMetrics(font()).height() + 4}; }

void TMarqueeLabel::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setPen(palette().color(QPalette::WindowText));
  QRect area = rect();
  area.setLeft(TextX());
  area.setWidth(TextWidth() + 1);
  p.drawText(area, Qt::AlignVCenter | Qt::AlignLeft, text_);
}

}  // namespace zq
