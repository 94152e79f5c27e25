#include "app/window_host.h"

#include <commctrl.h>
#include <shlobj.h>

#include <vector>

#include "app/main_dialog.h"
#include "app/resource_ids.h"
#include "lang/language_table.h"
#include "platform/win32/wide.h"

namespace nulvane::app {

using platform::Wide;

namespace {
constexpr int kNoFolderText = 39;  // "Failed to get directory"
}  // namespace

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
  OnWindowThread([&] { dialog_.AddMessage(text, kind); });
}

void WindowHost::SetProgressText(TextView text) {
  const Text copy(text);
  OnWindowThread([&] {
    if (HWND control = GetDlgItem(dialog_.Window(), 1046)) SetWindowTextW(control, Wide(copy));
  });
}

void WindowHost::SetStatusText(TextView text) {
  const Text copy(text);
  OnWindowThread([&] {
    if (dialog_.StatusBar()) {
      SendMessageW(dialog_.StatusBar(), SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(Wide(copy)));
    }
  });
}

void WindowHost::SetTitle(TextView text) {
  const Text copy(text);
  OnWindowThread([&] { SetWindowTextW(dialog_.Window(), Wide(copy)); });
}

void WindowHost::SetCommandsEnabled(bool enabled) {
  OnWindowThread([&] { dialog_.SetCommandsEnabled(enabled); });
}

WindowHost::ItemSnapshot WindowHost::SnapshotItems() {
  ItemSnapshot rows{};
  OnWindowThread([&] { rows = dialog_.Items().SnapshotRows(); });
  return rows;
}

void WindowHost::RebuildRows() {
  OnWindowThread([&] { dialog_.Items().RebuildRows(); });
}

Text WindowHost::RefreshOptionLabels() {
  Text label;
  OnWindowThread([&] { label = dialog_.RefreshOptionLabels(); });
  // The message line shows the label as formatted, its "&" included.
  return label;
}

void WindowHost::SendCancel() {
  const HWND window = dialog_.Window();
  if (window && IsWindow(window)) {
    SendMessageW(window, WM_COMMAND, MAKEWPARAM(kCommandCancel, NOTIFY_END_AFTER_WORK), 0);
  }
}

void WindowHost::StartAfterRunAction(int action) {
  if (after_run_) after_run_(action);
}

std::optional<Text> WindowHost::ChooseFolder() {
  // The chooser runs on the calling thread (the fill's worker), owned by the main window; the
  // shell needs COM on that thread for as long as it is shown.
  const HRESULT com = OleInitialize(nullptr);
  BROWSEINFOW info{};
  info.hwndOwner = dialog_.Window();
  std::optional<Text> chosen;
  if (PIDLIST_ABSOLUTE list = SHBrowseForFolderW(&info)) {
    // Long enough for any path the shell can give, not only MAX_PATH.
    std::vector<wchar_t> path(32768, L'\0');
    if (SHGetPathFromIDListEx(list, path.data(), static_cast<DWORD>(path.size()), GPFIDL_DEFAULT) &&
        path[0] != L'\0') {
      chosen = platform::FromWide(path.data());
    }
    CoTaskMemFree(list);
    if (!chosen) {
      // A choice without a folder on a disk ("This PC", a printer): the fill does not start,
      // and the user is told why nothing happens.
      const Text message(lang::Txt(kNoFolderText));
      MessageBoxW(dialog_.Window(), Wide(message), nullptr, MB_OK | MB_ICONERROR);
    }
  }
  if (SUCCEEDED(com)) OleUninitialize();
  return chosen;
}

}  // namespace nulvane::app
