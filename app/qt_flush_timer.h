// The databases' auto-flush timer in the application: a QTimer on the main thread's event loop,
// installed as the engine's timer factory by the program entry.
#pragma once

#include <QTimer>

#include "dbengine/session/flush_timer.h"

namespace zq {

class TQtFlushTimer : public TFlushTimer {
 public:
  TQtFlushTimer();

  void SetInterval(int milliseconds) override;
  int Interval() const override { return interval_; }
  void SetEnabled(bool enabled) override;
  bool Enabled() const override { return timer_.isActive(); }
  // Milliseconds until the next tick; -1 while disabled.
  int RemainingTime() const { return timer_.remainingTime(); }

 private:
  QTimer timer_;
  int interval_ = 0;
};

// Makes every database created from now on get a TQtFlushTimer.
void InstallQtFlushTimers();

}  // namespace zq
