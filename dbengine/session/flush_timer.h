// The auto-flush timer of a database, behind a small interface: the application installs a
// factory for a Qt timer; elsewhere (tools, tests) databases get a manual timer that ticks only
// when Fire is called.
#pragma once

#include <functional>
#include <memory>

namespace zq {

class TFlushTimer {
 public:
  virtual ~TFlushTimer() = default;
  virtual void SetInterval(int milliseconds) = 0;
  virtual int Interval() const = 0;
  virtual void SetEnabled(bool enabled) = 0;
  virtual bool Enabled() const = 0;
  // Called on every tick while enabled.
  std::function<void()> OnTimer;
};

class TManualFlushTimer : public TFlushTimer {
 public:
  void SetInterval(int milliseconds) override { interval_ = milliseconds; }
  int Interval() const override { return interval_; }
  void SetEnabled(bool enabled) override { enabled_ = enabled; }
  bool Enabled() const override { return enabled_; }
  // One tick: calls OnTimer when enabled. Returns whether it did.
  bool Fire() {
    if (!enabled_ || !OnTimer) return false;
    OnTimer();
    return true;
  }

 private:
  int interval_ = 0;
  bool enabled_ = false;
};

using TFlushTimerFactory = std::function<std::unique_ptr<TFlushTimer>()>;

// Installs the factory databases create their timers with; an empty one restores the manual
// timer.
void SetFlushTimerFactory(TFlushTimerFactory factory);
// A new, disabled timer from the installed factory.
std::unique_ptr<TFlushTimer> CreateFlushTimer();

}  // namespace zq
