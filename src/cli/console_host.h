// The console's RunHost and item-list display. The item list belongs to the main thread, so
// the run's worker reaches it through one synchronous mechanism: it hands the access to the
// main thread and waits until it is done (the console's counterpart of the window's
// synchronous messages).
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "cli/terminal.h"
#include "engine/run_host.h"
#include "items/item_list.h"

namespace nulvane::cli {

// Runs functions on the thread that serves it; Call waits until the function has run.
class MainThreadCalls {
 public:
  MainThreadCalls() : owner_(std::this_thread::get_id()) {}
  // From any thread: runs `call` on the serving thread (at once when called there).
  void Call(const std::function<void()>& call);
  // On the owner thread: serves calls until `done` is true, calling `tick` about ten times a
  // second and after every served call.
  void ServeUntil(const std::atomic<bool>& done, const std::function<void()>& tick);
  // Wakes the serving thread (after `done` was set).
  void Wake();

 private:
  struct Pending {
    const std::function<void()>* call;
    bool finished = false;
  };
  const std::thread::id owner_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Pending*> queue_;
};

class ConsoleHost final : public engine::RunHost, public items::ItemListDisplay {
 public:
  ConsoleHost(Terminal& terminal, MainThreadCalls& calls) : terminal_(terminal), calls_(calls) {}

  // Set before the run starts (on the main thread).
  void SetItemList(items::ItemList* list) { list_ = list; }

  // The last status text (the run's final summary once the run has ended).
  Text LastStatus();

  // engine::RunHost
  void AddMessage(TextView text, engine::MessageKind kind) override;
  void ShowProgress(const engine::Progress& progress) override;
  void SetProgressText(TextView text) override;
  void SetStatusText(TextView text) override;
  void SetTitle(TextView) override {}
  void SetCommandsEnabled(bool) override {}
  platform::QueuedItems SnapshotItems() override;
  void RebuildRows() override;
  Text ShowRunOptions(int passes, int delay) override;
  // The console offers no after-run step.
  void RunEnded(const engine::RunEnd&) override {}

  // items::ItemListDisplay
  void SetRowCount(int) override {}
  void AddWarning(TextView text) override;

  // Warning lines the item list gave: each is something queued that could not be seen whole.
  int ListWarningCount() const { return list_warnings_.load(); }

 private:
  Terminal& terminal_;
  MainThreadCalls& calls_;
  items::ItemList* list_ = nullptr;
  std::atomic<int> list_warnings_{0};
  std::mutex status_mutex_;
  Text status_;
};

}  // namespace nulvane::cli
