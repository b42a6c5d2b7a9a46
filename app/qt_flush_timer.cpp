#include "app/qt_flush_timer.h"

#include <algorithm>

#include "ui/application.h"

namespace zq {

TQtFlushTimer::TQtFlushTimer() {
  // A flush that fails (disk full, file gone) is shown like any other error and the timer goes
  // on: an exception must never unwind through the event loop.
  QObject::connect(&timer_, &QTimer::timeout, [this] {
    Guarded([this] {
      if (OnTimer) OnTimer();
    });
  });
}

void TQtFlushTimer::SetInterval(int milliseconds) {
  interval_ = milliseconds;
  // A negative interval is meaningless to QTimer and zero would fire on every idle pass: the
  // timer runs at least a millisecond apart.
  timer_.setInterval(std::max(milliseconds, 1));
}

void TQtFlushTimer::SetEnabled(bool enabled) {
  if (enabled && !timer_.isActive()) {
    timer_.start();
  } else if (!enabled) {
    timer_.stop();
  }
}

void InstallQtFlushTimers() {
  SetFlushTimerFactory([] { return std::make_unique<TQtFlushTimer>(); });
}

}  // namespace zq
