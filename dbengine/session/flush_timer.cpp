#include "dbengine/session/flush_timer.h"

namespace zq {

namespace {
TFlushTimerFactory& Factory() {
  static TFlushTimerFactory factory;
  return factory;
}
}  // namespace

void SetFlushTimerFactory(TFlushTimerFactory factory) { Factory() = std::move(factory); }

std::unique_ptr<TFlushTimer> CreateFlushTimer() {
  std::unique_ptr<TFlushTimer> timer;
  if (Factory()) timer = Factory()();
  if (!timer) timer = std::make_unique<TManualFlushTimer>();
  timer->SetEnabled(false);
  return timer;
}

}  // namespace zq
