// Progress bar painted as a horizontal colour gradient, driven by a percentage. Each change is
// painted at once, so a long synchronous task on the UI thread still shows its progress.
#pragma once

#include <QColor>
#include <QWidget>

namespace zq {

class TGradientProgressBar : public QWidget {
  Q_OBJECT
 public:
  explicit TGradientProgressBar(QWidget* parent = nullptr);

  int Percent() const { return percent_; }
  // Clamped to 0..100. PercentChanged fires for every call, even with the same value, so
  // observers see each step of a task.
  void SetPercent(int value);

  QColor StartColor() const { return start_; }
  void SetStartColor(const QColor& value) { start_ = value; update(); }
  QColor EndColor() const { return end_; }
  void SetEndColor(const QColor& value) { end_ = value; update(); }

  QSize sizeHint() const override { return {200, 20}; }

 signals:
  void PercentChanged(int percent);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  int percent_ = 0;
  QColor start_{0x1E, 0x4F, 0x9A};
  QColor end_{0x6C, 0xC2, 0xF0};
};

}  // namespace zq
