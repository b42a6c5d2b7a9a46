#include "platform/clock.h"

#include <chrono>
#include <thread>

namespace zq {

void TClock::Sleep(uint32_t milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

uint64_t TClock::TickCount() {
  auto now = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

TClock& SystemClock() {
  static TClock clock;
  return clock;
}

}  // namespace zq
