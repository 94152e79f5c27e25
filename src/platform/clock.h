// Time as the engine sees it: a millisecond clock and sleeping, behind an interface so that
// tests can run countdowns and progress throttles without waiting.
#pragma once

#include <cstdint>

namespace nulvane::platform {

class Clock {
 public:
  virtual ~Clock() = default;
  // Milliseconds of a monotonic clock; wraps around after about 49 days like GetTickCount.
  virtual std::uint32_t NowMs() = 0;
  virtual void SleepMs(std::uint32_t milliseconds) = 0;
};

Clock& SystemClock();

}  // namespace nulvane::platform
