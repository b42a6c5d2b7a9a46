// A single line of text scrolling from right to left, one pixel every ScrollDelay milliseconds
// (20 by default), starting again from the right edge once it has left on the left.
#pragma once

#include <QString>
#include <QTimer>
#include <QWidget>

namespace zq {

class TMarqueeLabel : public QWidget {
  Q_OBJECT
 public:
  explicit TMarqueeLabel(QWidget* parent = nullptr);

  const QString& Text() const { return text_; }
  void SetText(const QString& value);
  int ScrollDelay() const { return timer_.interval(); }
  void SetScrollDelay(int ms);
  bool Active() const { return timer_.isActive(); }
  void SetActive(bool value);

  // Pixels scrolled since the text last entered at the right edge.
  int Offset() const { return offset_; }
  // Advances one pixel (what each timer tick does).
  void Step();
  // The x position where the text is drawn now.
  int TextX() const { return width() - offset_; }
  int TextWidth() const;

  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QString text_;
  QTimer timer_;
  int offset_ = 0;
};

}  // namespace zq
