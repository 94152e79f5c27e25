#include <windows.h>

#include "platform/clock.h"

namespace nulvane::platform {

namespace {

class TickClock final : public Clock {
 public:
  // GetTickCount wraps after about 49 days; users compare with unsigned differences.
  std::uint32_t NowMs() override { return static_cast<std::uint32_t>(::GetTickCount()); }
  void SleepMs(std::uint32_t milliseconds) override { ::Sleep(milliseconds); }
};

}  // namespace

Clock& SystemClock() {
  static TickClock clock;
  return clock;
}

}  // namespace nulvane::platform
