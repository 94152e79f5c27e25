#include <chrono>
#include <thread>

#include "platform/clock.h"

namespace nulvane::platform {

namespace {

class SteadyClock final : public Clock {
 public:
  std::uint32_t NowMs() override {
    const auto since_start = std::chrono::steady_clock::now().time_since_epoch();
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(since_start).count();
    // Wraps around like GetTickCount; users compare with unsigned differences.
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(ms));
  }
  void SleepMs(std::uint32_t milliseconds) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  }
};

}  // namespace

Clock& SystemClock() {
  static SteadyClock clock;
  return clock;
}

}  // namespace nulvane::platform
