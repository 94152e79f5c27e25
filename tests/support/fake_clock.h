// A clock for tests: time moves only when the code under test sleeps or the test advances it,
// so countdowns and progress throttles run without waiting. Thread-safe.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>

#include "platform/clock.h"

namespace nulvane::testing {

class FakeClock final : public platform::Clock {
 public:
  explicit FakeClock(std::uint32_t start_ms = 1000) : now_(start_ms) {}

  // The current time; with a step set, every reading also moves the time on by that step.
  std::uint32_t NowMs() override { return now_.fetch_add(step_.load()); }
  void SetStepPerReading(std::uint32_t milliseconds) { step_.store(milliseconds); }

  // Advances the time by `milliseconds` at once, then calls the sleep hook (on the sleeping
  // thread) with the number of this sleep, counting from 1.
  void SleepMs(std::uint32_t milliseconds) override {
    now_.fetch_add(milliseconds);
    const int number = sleeps_.fetch_add(1) + 1;
    slept_ms_.fetch_add(milliseconds);
    std::function<void(int)> hook;
    {
      std::lock_guard lock(mutex_);
      hook = on_sleep_;
    }
    if (hook) hook(number);
  }

  void Advance(std::uint32_t milliseconds) { now_.fetch_add(milliseconds); }
  void Set(std::uint32_t ms) { now_.store(ms); }
  int Sleeps() const { return sleeps_.load(); }
  std::uint64_t SleptMs() const { return slept_ms_.load(); }

  void OnSleep(std::function<void(int)> hook) {
    std::lock_guard lock(mutex_);
    on_sleep_ = std::move(hook);
  }

 private:
  std::atomic<std::uint32_t> now_;
  std::atomic<std::uint32_t> step_{0};
  std::atomic<int> sleeps_{0};
  std::atomic<std::uint64_t> slept_ms_{0};
  std::mutex mutex_;
  std::function<void(int)> on_sleep_;
};

}  // namespace nulvane::testing
