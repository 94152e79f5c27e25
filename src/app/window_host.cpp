#include "app/window_host.h"

#include "app/command_ids.h"
#include "app/countdown_text.h"
#include "app/main_dialog.h"
#include "app/shutdown_dialog.h"

namespace nulvane::app {

bool WindowHost::OnWindowThread(const std::function<void()>& call) {
  const HWND window = dialog_.Window();
  if (!window || !IsWindow(window)) return false;
  if (GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId()) {
    call();
    return true;
  }
  LPARAM token = 0;
  {
    const std::lock_guard lock(pending_mutex_);
    if (next_token_ == 0) {
      LARGE_INTEGER now{};
      QueryPerformanceCounter(&now);
      next_token_ = static_cast<std::uintptr_t>(now.QuadPart) * 2654435761u | 1u;
    }
    token = static_cast<LPARAM>(next_token_);
    next_token_ += 2;  // odd, so never 0
    pending_[token] = PendingCall{&call, false};
  }
  // SendMessageW returns only when the dialog's thread has handled the message (its modal
  // loop, a message box or a menu loop all serve sent messages), or at once when the window
  // has been destroyed meanwhile. Whether the call ran is what the table says.
  SendMessageW(window, kRunOnWindowThreadMessage, 0, token);
  const std::lock_guard lock(pending_mutex_);
  const bool done = pending_[token].done;
  pending_.erase(token);
  return done;
}

bool WindowHost::RunPendingCall(LPARAM token) {
  const std::function<void()>* call = nullptr;
  {
    const std::lock_guard lock(pending_mutex_);
    const auto found = pending_.find(token);
    if (found == pending_.end() || found->second.done || !found->second.call) return false;
    found->second.done = true;
    call = found->second.call;
  }
  // The sender waits in SendMessageW until this returns: the call it passed lives until then.
  (*call)();
  return true;
}

void WindowHost::AddMessage(TextView text, engine::MessageKind kind) {
  OnWindowThread([&] {
    dialog_.View().AddMessage(text, kind);
    if (kind == engine::MessageKind::kError) taskbar_.NoteError();
  });
}

void WindowHost::ShowProgress(const engine::Progress& progress) {
  OnWindowThread([&] {
    dialog_.View().ShowProgress(progress);
    taskbar_.ShowProgress(progress.percent);
  });
}

void WindowHost::SetProgressText(TextView text) {
  OnWindowThread([&] { dialog_.View().SetProgressText(text); });
}

void WindowHost::SetStatusText(TextView text) {
  OnWindowThread([&] { dialog_.View().SetStatusText(text); });
}

void WindowHost::SetTitle(TextView text) {
  OnWindowThread([&] { dialog_.View().SetTitle(text); });
}

void WindowHost::SetCommandsEnabled(bool enabled) {
  OnWindowThread([&] {
    dialog_.View().SetCommandsEnabled(enabled);
    // The commands are disabled exactly while a run or a fill works.
    if (enabled) {
      taskbar_.WorkEnded();
    } else {
      taskbar_.WorkStarted();
    }
  });
}

WindowHost::ItemSnapshot WindowHost::SnapshotItems() {
  ItemSnapshot rows{};
  OnWindowThread([&] { rows = dialog_.Items().SnapshotRows(); });
  return rows;
}

void WindowHost::RebuildRows() {
  OnWindowThread([&] { dialog_.Items().RebuildRows(); });
}

Text WindowHost::ShowRunOptions(int passes, int delay) {
  Text label;
  OnWindowThread([&] { label = dialog_.View().ShowOptions(passes, delay); });
  // The message line shows the label as formatted, its "&" included.
  return label;
}

void WindowHost::RunEnded(const engine::RunEnd& end) {
  OnWindowThread([&] { taskbar_.WorkEnded(); });
  const HWND window = dialog_.Window();
  if (!window || !IsWindow(window)) return;
  int countdown = 0;
  switch (end.after_run) {
    case engine::AfterRun::kNone:
      return;
    case engine::AfterRun::kEndProgram:
      SendMessageW(window, WM_COMMAND, MAKEWPARAM(kCommandCancel, kNotifyEndAfterWork), 0);
      return;
    case engine::AfterRun::kShutDown:
      countdown = kCountdownShutDown;
      break;
    case engine::AfterRun::kStandby:
      countdown = kCountdownStandby;
      break;
    case engine::AfterRun::kEndAndStandby:
      countdown = kCountdownStandbyAndEnd;
      break;
  }
  StartAfterRunAction(window, countdown,
                      [this](TextView line) { AddMessage(line, engine::MessageKind::kError); });
}

}  // namespace nulvane::app
