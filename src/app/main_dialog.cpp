// The main dialog's messages, commands and closing rules. Building the controls and showing
// the texts is in main_dialog_build.cpp.
#include <windows.h>
#undef DeleteFile

#include <commctrl.h>
#include <shellapi.h>

#include <thread>
#include <vector>

#include "app/main_dialog.h"
#include "app/menus.h"
#include "app/shutdown_dialog.h"
#include "app/window_host.h"
#include "engine/deletion_run.h"
#include "lang/language_table.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/win32/wide.h"

namespace nulvane::app {

namespace {

using platform::Wide;

constexpr int kSureText = 31;    // "Are you sure?"
constexpr int kCancelText = 32;  // "Cancel"

// Runs still handing back to a dialog object. Process-wide: the worker decrements it as its
// very last access, after which it touches no object of the dialog.
std::atomic<int> g_active_workers{0};

// The object the dialog procedure forwards to.
CSetFileTime* g_dialog_target = nullptr;

INT_PTR CALLBACK MainDialogProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  return g_dialog_target ? g_dialog_target->HandleMessage(window, message, wparam, lparam) : 0;
}

}  // namespace

CSetFileTime::CSetFileTime(Text command_line)
    : flags_(engine::ProcessRunFlags()),
      row_display_(*this),
      items_(platform::SystemFileSystem(), row_display_),
      host_(std::make_unique<WindowHost>(*this)),
      command_line_(std::move(command_line)) {
  // On the worker that finished the run, owned by the window.
  host_->SetAfterRunStarter([this](int action) { StartAfterRunAction(dialog_, action); });
}

CSetFileTime::~CSetFileTime() {
  if (g_dialog_target == this) g_dialog_target = nullptr;
  if (message_images_) ImageList_Destroy(message_images_);
  if (dpi_font_) DeleteObject(dpi_font_);
  if (big_icon_) DestroyIcon(big_icon_);
  if (small_icon_) DestroyIcon(small_icon_);
}

engine::RunHost& CSetFileTime::Host() { return *host_; }

bool CSetFileTime::WorkerActive() { return g_active_workers.load() != 0; }

INT_PTR RunMainDialog(HINSTANCE instance, CSetFileTime& dialog) {
  g_dialog_target = &dialog;
  const INT_PTR result =
      DialogBoxParamW(instance, MAKEINTRESOURCEW(145), nullptr, MainDialogProc, 0);
  g_dialog_target = nullptr;
  return result;
}

INT_PTR CSetFileTime::HandleMessage(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_INITDIALOG:
      return OnInitDialog(window);
    case WM_SIZE:
      LayoutMainDialog(LOWORD(lparam), HIWORD(lparam));
      return 0;
    case WM_NOTIFY:
      return OnNotify(*reinterpret_cast<const NMHDR*>(lparam));
    case WM_COMMAND:
      OnCommand(LOWORD(wparam));
      return 0;
    case WM_DROPFILES:
      OnDropFiles(reinterpret_cast<HDROP>(wparam));
      return 0;
    case WM_DPICHANGED:
      OnDpiChanged(HIWORD(wparam), *reinterpret_cast<const RECT*>(lparam));
      return TRUE;
    case kRunOnWindowThreadMessage:
      (*reinterpret_cast<const std::function<void()>*>(lparam))();
      SetWindowLongPtrW(window, DWLP_MSGRESULT, 1);
      return TRUE;
    default:
      return 0;
  }
}

INT_PTR CSetFileTime::OnNotify(const NMHDR& header) {
  if (header.hwndFrom == item_list_view_ && header.code == LVN_GETDISPINFOW) {
    LVITEMW& item = reinterpret_cast<NMLVDISPINFOW*>(const_cast<NMHDR*>(&header))->item;
    if ((item.mask & LVIF_TEXT) && item.pszText && item.cchTextMax > 0) {
      if (!items_.GetRowText(item.iItem, item.iSubItem, reinterpret_cast<char16_t*>(item.pszText),
                             static_cast<std::size_t>(item.cchTextMax))) {
        item.pszText[0] = L'\0';
      }
    }
  }
  return 0;
}

void CSetFileTime::OnCommand(int command) {
  switch (command) {
    case kCommandEnter:
      break;
    case kCommandCancel:
      OnCancel();
      break;
    case kCommandDelete:
    case kMenuCommandEndProgram:
    case kMenuCommandShutdown:
    case kMenuCommandStandby:
    case kMenuCommandEndAndStandby:
      StartDeletionRun(command);
      break;
    case kCommandDeletePlus:
      ShowDeletePlusMenu();
      break;
    case kCommandReset:
      // Not while a run works: its end rebuilds the rows from the store.
      if (!WorkerActive()) items_.ResetList();
      break;
    case kCommandOverwriteMenu:
      OnOverwriteMenu();
      break;
    case kCommandDelayMenu:
      OnDelayMenu();
      break;
    case kCommandLanguageMenu:
      ShowLanguageMenu();
      break;
    case kMenuCommandInfo:
      ShowHelpBox();
      break;
    case kCommandHomeLink:
    case kMenuCommandFaq:
    case kMenuCommandHomePage:
    case kMenuCommandDonate:
      OpenLink(command);
      break;
    default:
      // The menus, popups and links are handled by the commands of the menu bar.
      break;
  }
}

void CSetFileTime::OnCancel() {
  if (flags_.fill_running.load() != 0) {
    const Text question(lang::Txt(kSureText));
    const Text caption(lang::Txt(kCancelText));
    if (MessageBoxW(dialog_, Wide(question), Wide(caption), MB_YESNO | MB_ICONWARNING) != IDYES) {
      return;
    }
    flags_.fill_running.store(0);
    // The fill sees the cleared flag between two writes and removes its file.
    Sleep(300);
    EndDialogWith(2);
  } else if (flags_.stop.load() != 0) {
    EndDialogWith(2);
  }
  // Cancels a run's countdown; at rest it was set already.
  flags_.stop.store(1);
}

void CSetFileTime::EndDialogWith(INT_PTR result) { EndDialog(dialog_, result); }

void CSetFileTime::OnDropFiles(HDROP drop) {
  const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
  std::vector<Text> paths;
  paths.reserve(count);
  for (UINT i = 0; i < count; ++i) {
    // Each path at its full length, however long.
    const UINT length = DragQueryFileW(drop, i, nullptr, 0);
    if (length == 0) continue;
    std::vector<wchar_t> buffer(length + 1, L'\0');
    const UINT copied = DragQueryFileW(drop, i, buffer.data(), length + 1);
    paths.push_back(platform::FromWide(buffer.data(), copied));
  }
  DragFinish(drop);
  // Adds and rebuilds, or holds the paths back until a run in progress has ended.
  items_.HandleDroppedFiles(paths);
}

void CSetFileTime::StartDeletionRun(int command) {
  // One worker at a time: a second start while a run works is ignored (the buttons are
  // disabled then; a key or a queued command could still arrive).
  if (WorkerActive()) return;
  flags_.exit_after_run.store(0);
  flags_.after_run_action.store(0);
  SetCommandsEnabled(false);
  if (command == kCommandDeletePlusItem) flags_.exit_after_run.store(1);
  if (command == kMenuCommandShutdown) flags_.after_run_action.store(1);
  if (command == kMenuCommandStandby) flags_.after_run_action.store(2);
  if (command == kMenuCommandEndAndStandby) flags_.after_run_action.store(3);
  items_.BeginRun();
  g_active_workers.fetch_add(1);
  engine::RunContext context(*host_, platform::SystemFileSystem(), platform::SystemClock(), flags_);
  std::thread([this, context] {
    engine::RunDeletion(context);
    // After the run's own final rebuild: the paths dropped meanwhile are added now.
    host_->OnWindowThread([this] { items_.EndRun(); });
    g_active_workers.fetch_sub(1);
  }).detach();
}

void CSetFileTime::SetStatusText(TextView text) {
  if (!status_bar_) return;
  const Text copy(text);
  SendMessageW(status_bar_, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(Wide(copy)));
}

void CSetFileTime::RowDisplay::SetRowCount(int count) {
  if (dialog_.item_list_view_) {
    SendMessageW(dialog_.item_list_view_, LVM_SETITEMCOUNT, static_cast<WPARAM>(count), 0);
  }
}

void CSetFileTime::RowDisplay::SetStatusText(TextView text) { dialog_.SetStatusText(text); }

void CSetFileTime::RowDisplay::AddWarning(TextView text) {
  dialog_.AddMessage(text, engine::MessageKind::kWarning);
}

}  // namespace nulvane::app
