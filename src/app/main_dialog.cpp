// The main dialog's messages, commands and closing rules. Building the controls and showing
// the texts is in main_dialog_build.cpp.
#include <windows.h>
#undef DeleteFile

#include <commctrl.h>
#include <shellapi.h>

#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "app/dialog_keys.h"
#include "app/list_commands.h"
#include "app/main_dialog.h"
#include "app/menus.h"
#include "app/program.h"
#include "app/resource_ids.h"
#include "app/shutdown_dialog.h"
#include "app/window_host.h"
#include "engine/deletion_run.h"
#include "engine/free_space_fill.h"
#include "lang/language_table.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/format.h"
#include "platform/text.h"
#include "platform/win32/wide.h"

namespace nulvane::app {

namespace {

using platform::Format;
using platform::Wide;

constexpr int kSureText = 31;       // "Are you sure?"
constexpr int kCancelText = 32;     // "Cancel"
constexpr int kNoThreadText = 181;  // "The work cannot start: %s"
// Why the program holds the session's end up while a fill removes its files.
constexpr int kFillEndsWithSessionText = 200;

// How long closing waits for a stopped fill to remove its temporary file and folder; after it
// the program ends anyway.
constexpr DWORD kFillCleanupWaitMs = 5000;

// The entries of the menu bar's menu that start a fill.
constexpr int kFillCommands[] = {kMenuCommandFill, kMenuCommandFillEndProgram,
                                 kMenuCommandFillShutdown, kMenuCommandFillStandby,
                                 kMenuCommandFillEndAndStandby};

// Runs still handing back to a dialog object. Process-wide: the worker decrements it as its
// very last access, after which it touches no object of the dialog.
std::atomic<int> g_active_workers{0};
// Of those, the fills: from the fill command until the fill's worker has handed everything back
// (the folder choice and the clean-up included).
std::atomic<int> g_fill_workers{0};

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
      list_commands_(std::make_unique<ListCommands>(*this)),
      command_line_(std::move(command_line)) {
  // On the worker that finished the run, owned by the window.
  host_->SetAfterRunStarter([this](int action) {
    StartAfterRunAction(dialog_, action, [this](TextView line) {
      host_->AddMessage(line, engine::MessageKind::kError);
    });
  });
}

CSetFileTime::~CSetFileTime() {
  keys_.reset();
  if (g_dialog_target == this) g_dialog_target = nullptr;
  if (message_images_) ImageList_Destroy(message_images_);
  if (dpi_font_) DeleteObject(dpi_font_);
  if (status_font_) DeleteObject(status_font_);
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
    case WM_DESTROY:
      keys_.reset();
      return 0;
    case WM_UPDATEUISTATE:
      if (keys_) keys_->OnUpdateUiState(wparam);
      return 0;
    case WM_SIZE:
      LayoutMainDialog(LOWORD(lparam), HIWORD(lparam));
      return 0;
    case WM_GETMINMAXINFO:
      OnGetMinMaxInfo(*reinterpret_cast<MINMAXINFO*>(lparam));
      return TRUE;
    case WM_NOTIFY:
      return OnNotify(*reinterpret_cast<const NMHDR*>(lparam));
    case WM_COMMAND:
      if (LOWORD(wparam) == kCommandCancel && HIWORD(wparam) == NOTIFY_END_AFTER_WORK &&
          lparam == 0) {
        EndAfterWork();
        return 0;
      }
      OnCommand(LOWORD(wparam));
      return 0;
    case WM_DROPFILES:
      OnDropFiles(reinterpret_cast<HDROP>(wparam));
      return 0;
    case WM_INITMENUPOPUP:
      OnInitMenuPopup();
      return 0;
    case WM_CONTEXTMENU:
      return list_commands_->OnContextMenu(reinterpret_cast<HWND>(wparam), lparam) ? TRUE : FALSE;
    case WM_DPICHANGED:
      OnDpiChanged(HIWORD(wparam), *reinterpret_cast<const RECT*>(lparam));
      return TRUE;
    case WM_QUERYENDSESSION:
      OnQueryEndSession();
      // A dialog answers through DWLP_MSGRESULT: the session may end.
      SetWindowLongPtrW(window, DWLP_MSGRESULT, TRUE);
      return TRUE;
    case kRunOnWindowThreadMessage:
      SetWindowLongPtrW(window, DWLP_MSGRESULT, host_->RunPendingCall(lparam) ? 1 : 0);
      return TRUE;
    default:
      return 0;
  }
}

INT_PTR CSetFileTime::OnNotify(const NMHDR& header) {
  if (list_commands_->OnNotify(header)) return 0;
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
      // Not while a run or a fill works (a command queued before its button was disabled).
      if (!WorkerActive()) ShowLanguageMenu();
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
    case kMenuCommandFill:
    case kMenuCommandFillEndProgram:
    case kMenuCommandFillShutdown:
    case kMenuCommandFillStandby:
    case kMenuCommandFillEndAndStandby:
      StartFreeSpaceFill(command);
      break;
    case kMenuCommandAddSendTo:
    case kMenuCommandRemoveSendTo:
    case kMenuCommandOpenSendTo:
      OnSendToCommand(command);
      break;
    default:
      list_commands_->OnCommand(command);
      break;
  }
}

void CSetFileTime::OnCancel() {
  // A close box, Esc or the worker's own cancel arriving while closing asks or waits.
  if (closing_) return;
  if (list_commands_->StopAfterCurrentItem()) return;
  // A fill clears the stop flag when it begins writing and sets it again once its temporary
  // file and folder are gone: in between, ending at once could leave the volume full.
  const bool fill_has_files = g_fill_workers.load() != 0 && flags_.stop.load() == 0;
  if (fill_has_files || flags_.fill_running.load() != 0) {
    if (flags_.fill_running.load() != 0) {
      const Text question(lang::Txt(kSureText));
      const Text caption(lang::Txt(kCancelText));
      closing_ = true;
      const int answer =
          MessageBoxW(dialog_, Wide(question), Wide(caption), MB_YESNO | MB_ICONWARNING);
      closing_ = false;
      // The fill finished meanwhile and ended the program: the answer changes nothing.
      if (ending_ || answer != IDYES) return;
    }
    // Writing or removing its files, the fill ends first, with both removed.
    StopFillAndWait();
    EndDialogWith(2);
  } else if (flags_.stop.load() != 0) {
    EndDialogWith(2);
  }
  // Cancels a run's countdown; at rest it was set already.
  flags_.stop.store(1);
}

void CSetFileTime::OnQueryEndSession() {
  if (g_fill_workers.load() == 0) return;
  // The shut-down screen names the program and says why it holds the session up meanwhile.
  // Both calls exist from Windows Vista on; they are looked up so that their absence costs
  // nothing but the reason.
  using BlockReasonCreate = BOOL(WINAPI*)(HWND, LPCWSTR);
  using BlockReasonDestroy = BOOL(WINAPI*)(HWND);
  const HMODULE user32 = GetModuleHandleW(L"user32.dll");
  const auto create = reinterpret_cast<BlockReasonCreate>(
      reinterpret_cast<void*>(GetProcAddress(user32, "ShutdownBlockReasonCreate")));
  const auto destroy = reinterpret_cast<BlockReasonDestroy>(
      reinterpret_cast<void*>(GetProcAddress(user32, "ShutdownBlockReasonDestroy")));
  const Text reason(lang::Txt(kFillEndsWithSessionText));
  const bool shown = create && create(dialog_, Wide(reason));
  StopFillAndWait();
  if (shown && destroy) destroy(dialog_);
}

void CSetFileTime::StopFillAndWait() {
  closing_ = true;
  // The program ends: the fill's after-run step must not follow.
  flags_.exit_after_run.store(0);
  flags_.after_run_action.store(0);
  flags_.fill_running.store(0);
  EnableWindow(dialog_, FALSE);
  const DWORD start = GetTickCount();
  bool quit = false;
  WPARAM quit_code = 0;
  while (g_fill_workers.load() != 0 && !quit && GetTickCount() - start < kFillCleanupWaitMs) {
    // Asked again on every round: a fill that was only about to write sets its flags when it
    // starts, and must see the request all the same. It stops between two writes, then closes
    // and deletes its files and removes its folder, reporting through sent messages that this
    // loop handles.
    flags_.fill_running.store(0);
    flags_.stop.store(1);
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) {
        quit = true;
        quit_code = message.wParam;
        break;
      }
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
  // A quit request belongs to the loop outside.
  if (quit) PostQuitMessage(static_cast<int>(quit_code));
  EnableWindow(dialog_, TRUE);
  closing_ = false;
}

void CSetFileTime::EndDialogWith(INT_PTR result) { EndDialog(dialog_, result); }

void CSetFileTime::EndAfterWork() {
  ending_ = true;
  // The closing question has nothing left to ask: its box goes, the program ends.
  if (closing_) {
    struct Search {
      HWND owner;
      HWND box;
    } search{dialog_, nullptr};
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND window, LPARAM data) -> BOOL {
          auto* wanted = reinterpret_cast<Search*>(data);
          wchar_t name[16] = {};
          GetClassNameW(window, name, 16);
          if (GetWindow(window, GW_OWNER) != wanted->owner || lstrcmpW(name, L"#32770") != 0) {
            return TRUE;
          }
          wanted->box = window;
          return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    if (search.box) EndDialog(search.box, IDNO);
  }
  EndDialogWith(2);
}

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
  list_commands_->PrepareRun(context);
  const bool started = StartWorker([this, context] {
    engine::RunDeletion(context);
    // After the run's own final rebuild: the paths dropped meanwhile are added now.
    host_->OnWindowThread([this] { items_.EndRun(); });
    g_active_workers.fetch_sub(1);
  });
  if (!started) {
    // Nothing ran: everything the start changed is put back.
    g_active_workers.fetch_sub(1);
    flags_.exit_after_run.store(0);
    flags_.after_run_action.store(0);
    items_.EndRun();
    SetCommandsEnabled(true);
  }
}

void CSetFileTime::StartFreeSpaceFill(int command) {
  // One worker at a time: a fill started during a run (or another fill) would overwrite the
  // after-run step chosen for it. The menu grays the fill entries meanwhile.
  if (WorkerActive()) return;
  flags_.exit_after_run.store(command == kMenuCommandFillEndProgram ? 1 : 0);
  int action = 0;
  if (command == kMenuCommandFillShutdown) action = 1;
  if (command == kMenuCommandFillStandby) action = 2;
  if (command == kMenuCommandFillEndAndStandby) action = 3;
  flags_.after_run_action.store(action);
  g_active_workers.fetch_add(1);
  g_fill_workers.fetch_add(1);
  engine::RunContext context(*host_, platform::SystemFileSystem(), platform::SystemClock(), flags_);
  // The worker shows the folder picker itself, owned by the dialog, which stays responsive.
  const bool started = StartWorker([context] {
    engine::RunFreeSpaceFill(context);
    g_fill_workers.fetch_sub(1);
    g_active_workers.fetch_sub(1);
  });
  if (!started) {
    g_fill_workers.fetch_sub(1);
    g_active_workers.fetch_sub(1);
    flags_.exit_after_run.store(0);
    flags_.after_run_action.store(0);
  }
}

bool CSetFileTime::StartWorker(std::function<void()> work) {
  try {
    if (Program().start_worker) {
      Program().start_worker(std::move(work));
    } else {
      std::thread(std::move(work)).detach();
    }
    return true;
  } catch (const std::system_error& error) {
    // The C library's words for the thread library's error code.
    AddMessage(Format(lang::Txt(kNoThreadText), platform::Utf8ToText(error.code().message())),
               engine::MessageKind::kError);
  } catch (const std::bad_alloc&) {
    AddMessage(Format(lang::Txt(kNoThreadText), platform::SystemErrorText(ERROR_NOT_ENOUGH_MEMORY)),
               engine::MessageKind::kError);
  }
  return false;
}

void CSetFileTime::OnSendToCommand(int command) {
  // Nothing is reported: the entry's check mark shows the outcome the next time it is seen.
  const CSendTo& send_to = SendTo();
  if (command == kMenuCommandAddSendTo) send_to.AddToSendTo(kProgramName);
  if (command == kMenuCommandRemoveSendTo) send_to.RemoveFromSendTo(kProgramName);
  if (command == kMenuCommandOpenSendTo) send_to.OpenSendToFolder();
}

void CSetFileTime::OnInitMenuPopup() {
  const HMENU menu = menu_bar_ ? MenuBar().menu() : nullptr;
  if (!menu) return;
  list_commands_->OnInitMenuPopup(menu);
  CheckMenuItem(menu, kMenuCommandAddSendTo,
                MF_BYCOMMAND | (SendTo().IsInSendTo(kProgramName) ? MF_CHECKED : MF_UNCHECKED));
  const UINT state = WorkerActive() ? MF_GRAYED : MF_ENABLED;
  for (const int command : kFillCommands) EnableMenuItem(menu, command, MF_BYCOMMAND | state);
  // The fill submenu's own entry, found as the one whose submenu holds a fill command.
  for (int top = 0; top < GetMenuItemCount(menu); ++top) {
    const HMENU popup = GetSubMenu(menu, top);
    for (int i = 0; popup && i < GetMenuItemCount(popup); ++i) {
      const HMENU submenu = GetSubMenu(popup, i);
      if (submenu && GetMenuState(submenu, kMenuCommandFillEndProgram, MF_BYCOMMAND) !=
                         static_cast<UINT>(-1)) {
        EnableMenuItem(popup, static_cast<UINT>(i), MF_BYPOSITION | state);
      }
    }
  }
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
