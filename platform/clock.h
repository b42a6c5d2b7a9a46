// The clock the engine waits on. Lock retries sleep through it, so tests can count and skip the
// waits by installing a clock of their own.
#pragma once

#include <cstdint>

namespace zq {

class TClock {
 public:
  virtual ~TClock() = default;
  // Blocks the calling thread for the given number of milliseconds.
  virtual void Sleep(uint32_t milliseconds);
  // Milliseconds from an arbitrary fixed point, never decreasing.
  virtual uint64_t TickCount();
};

// The process-wide real clock.
TClock& SystemClock();

}  // namespace zq
