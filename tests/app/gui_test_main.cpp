// The entry point of the GUI test programs: GoogleTest with a watchdog, so that no test can
// hang the suite. A test that runs longer than its limit first gets its modal loops cancelled
// (menus closed, dialogs asked to end) and is marked failed; if it is still running a few
// seconds later (5 s, or the limit when it is shorter), the process ends with exit code 3 and names
// the test.
//
// NULVANE_GUI_TEST_TIMEOUT (seconds, default 30) changes the limit per test.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

#include "gui_harness.h"

namespace {

using Clock = std::chrono::steady_clock;

class Watchdog : public ::testing::EmptyTestEventListener {
 public:
  explicit Watchdog(std::chrono::seconds limit) : limit_(limit) {
    ui_thread_ = GetCurrentThreadId();
    thread_ = std::thread([this] { Watch(); });
  }
  ~Watchdog() override {
    {
      std::lock_guard lock(mutex_);
      quit_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }

  void OnTestStart(const ::testing::TestInfo& info) override {
    std::lock_guard lock(mutex_);
    name_ = std::string(info.test_suite_name()) + "." + info.name();
    deadline_ = Clock::now() + limit_;
    running_ = true;
    ++generation_;
    wake_.notify_all();
  }
  void OnTestEnd(const ::testing::TestInfo&) override {
    std::lock_guard lock(mutex_);
    running_ = false;
    ++generation_;
    wake_.notify_all();
  }

 private:
  void Watch() {
    std::unique_lock lock(mutex_);
    while (!quit_) {
      if (!running_) {
        wake_.wait(lock);
        continue;
      }
      const unsigned generation = generation_;
      if (wake_.wait_until(lock, deadline_, [&] { return quit_ || generation_ != generation; })) {
        continue;
      }
      const std::string name = name_;
      lock.unlock();
      std::fprintf(stderr, "watchdog: %s still runs after %lld s; cancelling its modal loops\n",
                   name.c_str(), static_cast<long long>(limit_.count()));
      std::fflush(stderr);
      ADD_FAILURE() << "watchdog: the test ran longer than " << limit_.count() << " s";
      nulvane::app::testing::CancelModalLoops(ui_thread_);
      lock.lock();
      if (wake_.wait_for(lock, std::min(limit_, std::chrono::seconds(5)),
                         [&] { return quit_ || generation_ != generation; })) {
        continue;
      }
      std::fprintf(stderr, "watchdog: %s did not end; ending the test program\n", name.c_str());
      std::fflush(stderr);
      TerminateProcess(GetCurrentProcess(), 3);
    }
  }

  const std::chrono::seconds limit_;
  DWORD ui_thread_ = 0;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::string name_;
  Clock::time_point deadline_{};
  unsigned generation_ = 0;
  bool running_ = false;
  bool quit_ = false;
  std::thread thread_;
};

std::chrono::seconds TimeoutFromEnvironment() {
  const char* value = std::getenv("NULVANE_GUI_TEST_TIMEOUT");
  const long seconds = value ? std::strtol(value, nullptr, 10) : 0;
  return std::chrono::seconds(seconds > 0 ? seconds : 30);
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  // Errors must reach the test's output, never a message box nobody can close.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_BAR_CLASSES | ICC_COOL_CLASSES |
                                                      ICC_LISTVIEW_CLASSES | ICC_WIN95_CLASSES};
  InitCommonControlsEx(&controls);
  auto* watchdog = new Watchdog(TimeoutFromEnvironment());
  ::testing::TestEventListeners& listeners = ::testing::UnitTest::GetInstance()->listeners();
  listeners.Append(watchdog);
  const int result = RUN_ALL_TESTS();
  // Stopped here, while the process is whole, not among the static destructors.
  delete listeners.Release(watchdog);
  return result;
}
