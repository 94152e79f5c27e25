// The window's RunHost: every access of a run's worker to the window and the item list is
// carried to the dialog's own thread by one synchronous message (kRunOnWindowThreadMessage)
// and done there while the worker waits. The dialog's thread never waits for the worker, so
// the two cannot deadlock; once the dialog is gone the calls do nothing.
//
// The message carries a token, never a pointer: the dialog's thread looks the token up in this
// host's table of pending calls and runs only a call found there. Any process on the desktop
// can send the message; one that did not come from here finds nothing and is ignored.
#pragma once

#include <windows.h>
#undef DeleteFile

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <utility>

#include "app/taskbar_progress.h"
#include "engine/run_host.h"

namespace nulvane::app {

class CSetFileTime;

class WindowHost final : public engine::RunHost {
 public:
  // What SnapshotItems returns: whatever the engine's interface declares.
  using ItemSnapshot = decltype(std::declval<engine::RunHost&>().SnapshotItems());

  explicit WindowHost(CSetFileTime& dialog) : dialog_(dialog) {}

  // Runs `call` on the dialog's thread: at once when called there, else through the private
  // message. Returns false (and runs nothing) when the dialog window does not exist.
  bool OnWindowThread(const std::function<void()>& call);
  // The dialog's handling of the private message (on its own thread): runs the pending call
  // that `token` names, once. Returns whether there was one; an unknown token does nothing.
  bool RunPendingCall(LPARAM token);
  // The taskbar button's progress, fed by this host's calls; the dialog attaches it to the
  // window and hands it the shell's message.
  TaskbarProgress& Taskbar() { return taskbar_; }

  void AddMessage(TextView text, engine::MessageKind kind) override;
  void ShowProgress(const engine::Progress& progress) override;
  void SetProgressText(TextView text) override;
  void SetStatusText(TextView text) override;
  void SetTitle(TextView text) override;
  void SetCommandsEnabled(bool enabled) override;
  ItemSnapshot SnapshotItems() override;
  void RebuildRows() override;
  Text ShowRunOptions(int passes, int delay) override;
  // On the worker: the end of the program (command 2 with kNotifyEndAfterWork, sent to the
  // dialog), or the after-run countdown, shown on the worker's thread and owned by the dialog.
  void RunEnded(const engine::RunEnd& end) override;

 private:
  struct PendingCall {
    const std::function<void()>* call = nullptr;
    bool done = false;
  };

  CSetFileTime& dialog_;
  // Used on the dialog's thread only.
  TaskbarProgress taskbar_;
  std::mutex pending_mutex_;
  std::map<LPARAM, PendingCall> pending_;
  // Tokens are never 0 and never repeat while the program runs; they start at a value of the
  // moment so that no other process can tell which ones are pending.
  std::uintptr_t next_token_ = 0;
};

}  // namespace nulvane::app
