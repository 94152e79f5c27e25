// A launcher that records what the program asks of the system instead of doing it: while one
// exists, no test can open a browser, shut the machine down or suspend it.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "app/launcher.h"

namespace nulvane::app::testing {

class RecordingLauncher final : public Launcher {
 public:
  RecordingLauncher() { UseLauncher(this); }
  ~RecordingLauncher() override { UseLauncher(nullptr); }
  RecordingLauncher(const RecordingLauncher&) = delete;
  RecordingLauncher& operator=(const RecordingLauncher&) = delete;

  void OpenAddress(TextView address) override {
    const std::lock_guard lock(mutex_);
    opened.emplace_back(address.begin(), address.end());
  }
  void ShowInFolder(TextView path) override {
    const std::lock_guard lock(mutex_);
    shown_in_folder.emplace_back(path.begin(), path.end());
  }
  void ShutDown() override { Record("shut down"); }
  bool StandbyPossible() override { return standby_possible.load(); }
  std::uint32_t Standby() override {
    Record("standby");
    return standby_error.load();
  }

  // The shut-down and standby calls, oldest first ("shut down", "standby").
  std::vector<std::string> PowerCalls() {
    const std::lock_guard lock(mutex_);
    return power_calls_;
  }

  std::vector<std::wstring> opened;
  std::vector<std::wstring> shown_in_folder;
  // What the recorded system answers: whether it has a sleep state, and the error code its
  // standby call fails with (0: it does not fail).
  std::atomic<bool> standby_possible{true};
  std::atomic<std::uint32_t> standby_error{0};

 private:
  void Record(const char* call) {
    const std::lock_guard lock(mutex_);
    power_calls_.emplace_back(call);
  }
  std::mutex mutex_;
  std::vector<std::string> power_calls_;
};

}  // namespace nulvane::app::testing
