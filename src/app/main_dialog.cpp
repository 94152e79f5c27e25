// The main dialog's messages, commands and closing rules. What the window shows is the view's
// (main_view.*); runs and fills start and stop through the process's run session.
#include "app/main_dialog.h"

#include <commctrl.h>

#include <vector>

#include "app/dialog_keys.h"
#include "app/folder_picker.h"
#include "app/list_commands.h"
#include "app/menu_bar.h"
#include "app/menus.h"
#include "app/program.h"
#include "app/send_to.h"
#include "app/window_host.h"
#include "app/window_placement.h"
#include "lang/language_table.h"
#include "platform/format.h"
#include "platform/win32/wide.h"

namespace nulvane::app {

namespace {

using platform::Format;
using platform::Wide;

using lang::TextId;

// How long closing waits for a stopped fill to remove its temporary file and folder; after it
// the program ends anyway.
constexpr std::uint32_t kFillCleanupWaitMs = 5000;

// The entries of the menu bar's menu that start a fill.
constexpr int kFillCommands[] = {kMenuCommandFill, kMenuCommandFillEndProgram,
                                 kMenuCommandFillShutdown, kMenuCommandFillStandby,
                                 kMenuCommandFillEndAndStandby};

// The step a run's or a fill's command chooses for after its end.
engine::AfterRun AfterRunOf(int command) {
  switch (command) {
    case kMenuCommandEndProgram:
    case kMenuCommandFillEndProgram:
      return engine::AfterRun::kEndProgram;
    case kMenuCommandShutdown:
    case kMenuCommandFillShutdown:
      return engine::AfterRun::kShutDown;
    case kMenuCommandStandby:
    case kMenuCommandFillStandby:
      return engine::AfterRun::kStandby;
    case kMenuCommandEndAndStandby:
    case kMenuCommandFillEndAndStandby:
      return engine::AfterRun::kEndAndStandby;
    default:
      return engine::AfterRun::kNone;
  }
}

// The dialog object lives in the window's DWLP_USER from WM_INITDIALOG on; the few messages
// before it go to the dialog manager's defaults.
INT_PTR CALLBACK MainDialogProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_INITDIALOG) SetWindowLongPtrW(window, DWLP_USER, lparam);
  auto* target = reinterpret_cast<CSetFileTime*>(GetWindowLongPtrW(window, DWLP_USER));
  return target ? target->HandleMessage(window, message, wparam, lparam) : 0;
}

}  // namespace

CSetFileTime::CSetFileTime(Text command_line)
    : session_(engine::ProcessRunSession()),
      items_(platform::SystemFileSystem(), view_),
      host_(std::make_unique<WindowHost>(*this)),
      list_commands_(std::make_unique<ListCommands>(*this)),
      command_line_(std::move(command_line)) {}

CSetFileTime::~CSetFileTime() { keys_.reset(); }

engine::RunHost& CSetFileTime::Host() { return *host_; }

bool CSetFileTime::WorkerActive() { return engine::ProcessRunSession().Active(); }

INT_PTR RunMainDialog(HINSTANCE instance, CSetFileTime& dialog) {
  return DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_MAIN), nullptr, MainDialogProc,
                         reinterpret_cast<LPARAM>(&dialog));
}

INT_PTR CSetFileTime::HandleMessage(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_INITDIALOG:
      return OnInitDialog(window);
    case WM_DESTROY:
      keys_.reset();
      StoreWindowPlacement(window, view_.dpi());
      return 0;
    case WM_UPDATEUISTATE:
      if (keys_) keys_->OnUpdateUiState(wparam);
      return 0;
    case WM_SIZE:
      view_.Layout(LOWORD(lparam), HIWORD(lparam));
      return 0;
    case WM_GETMINMAXINFO:
      view_.LimitMinimumSize(*reinterpret_cast<MINMAXINFO*>(lparam));
      return TRUE;
    case WM_NOTIFY:
      return OnNotify(*reinterpret_cast<const NMHDR*>(lparam));
    case WM_COMMAND:
      if (LOWORD(wparam) == kCommandCancel && HIWORD(wparam) == kNotifyEndAfterWork &&
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
      view_.OnDpiChanged(HIWORD(wparam), *reinterpret_cast<const RECT*>(lparam));
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
      // The shell's registered message, which no case label can name.
      return host_->Taskbar().OnMessage(message) ? TRUE : 0;
  }
}

INT_PTR CSetFileTime::OnInitDialog(HWND window) {
  view_.Create(window);
  ApplyLanguageTexts();
  host_->Taskbar().Attach(window);
  // Where the window was when it last closed, if that is still on a screen; else centred.
  MINMAXINFO limits{};
  view_.LimitMinimumSize(limits);
  RestoreWindowPlacement(window,
                         MinimumWindow{static_cast<int>(limits.ptMinTrackSize.x),
                                       static_cast<int>(limits.ptMinTrackSize.y), view_.dpi()});
  DialogKeyTargets keys = view_.KeyTargets();
  keys.list_keys = [this](UINT key) { return list_commands_->OnKey(key); };
  list_commands_->OnControlsCreated();
  keys_ = std::make_unique<DialogKeys>(std::move(keys));
  items_.ParseCommandLine(command_line_);
  // The dialog manager sets no focus: the keyboard starts in the item list.
  if (view_.item_list()) SetFocus(view_.item_list());
  return FALSE;
}

void CSetFileTime::ApplyLanguageTexts() {
  view_.ApplyLanguageTexts(engine::RunSession::ReadPasses(), session_.ReadDelay());
}

void CSetFileTime::ShowOptionsFromSettings() {
  view_.ShowOptions(engine::RunSession::ReadPasses(), session_.ReadDelay());
}

INT_PTR CSetFileTime::OnNotify(const NMHDR& header) {
  if (list_commands_->OnNotify(header)) return 0;
  if (header.hwndFrom == view_.item_list() && header.code == LVN_GETDISPINFOW) {
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
  engine::RunFlags& flags = session_.flags();
  // A fill clears the stop flag when it begins writing and sets it again once its temporary
  // file and folder are gone: in between, ending at once could leave the volume full.
  const bool fill_has_files = session_.FillActive() && flags.stop.load() == 0;
  if (fill_has_files || flags.fill_running.load() != 0) {
    if (flags.fill_running.load() != 0) {
      const Text question(lang::Txt(TextId::kAreYouSure));
      const Text caption(lang::Txt(TextId::kCancel));
      closing_ = true;
      const int answer =
          MessageBoxW(Window(), Wide(question), Wide(caption), MB_YESNO | MB_ICONWARNING);
      closing_ = false;
      // The fill finished meanwhile and ended the program: the answer changes nothing.
      if (ending_ || answer != IDYES) return;
    }
    // Writing or removing its files, the fill ends first, with both removed.
    StopFillAndWait();
    EndDialog(Window(), kCommandCancel);
  } else if (flags.stop.load() != 0) {
    EndDialog(Window(), kCommandCancel);
  }
  // Cancels a run's countdown; at rest it was set already.
  flags.stop.store(1);
}

void CSetFileTime::OnQueryEndSession() {
  if (!session_.FillActive()) return;
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
  const Text reason(lang::Txt(TextId::kFillEndsWithSession));
  const bool shown = create && create(Window(), Wide(reason));
  StopFillAndWait();
  if (shown && destroy) destroy(Window());
}

void CSetFileTime::StopFillAndWait() {
  closing_ = true;
  // No fill writes from here on, also one that is only about to start writing.
  session_.flags().fill_running.store(0);
  EnableWindow(Window(), FALSE);
  bool quit = false;
  WPARAM quit_code = 0;
  // The fill reports its clean-up through sent messages, which this loop handles.
  session_.StopFillAndWait(
      [&] {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
          if (message.message == WM_QUIT) {
            quit = true;
            quit_code = message.wParam;
            return false;
          }
          TranslateMessage(&message);
          DispatchMessageW(&message);
        }
        return true;
      },
      kFillCleanupWaitMs);
  // A quit request belongs to the loop outside.
  if (quit) PostQuitMessage(static_cast<int>(quit_code));
  EnableWindow(Window(), TRUE);
  closing_ = false;
}

void CSetFileTime::EndAfterWork() {
  ending_ = true;
  // The closing question has nothing left to ask: its box goes, the program ends.
  if (closing_) {
    struct Search {
      HWND owner;
      HWND box;
    } search{Window(), nullptr};
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
  EndDialog(Window(), kCommandCancel);
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
  engine::RunRequest request;
  request.after_run = AfterRunOf(command);
  list_commands_->PrepareRun(request);
  // After the run's own final rebuild: the paths dropped meanwhile are added now.
  request.done = [this](const engine::RunOutcome&) {
    host_->OnWindowThread([this] { items_.EndRun(); });
  };
  items_.BeginRun();
  session_.SetWorkerStarter(Program().start_worker);
  const engine::StartResult result = session_.Start(*host_, std::move(request));
  if (result != engine::StartResult::kStarted) items_.EndRun();
  ReportStart(result);
}

void CSetFileTime::StartFreeSpaceFill(int command) {
  // One worker at a time: a fill started during a run (or another fill) would overwrite the
  // after-run step chosen for it. The menu grays the fill entries meanwhile.
  if (WorkerActive()) return;
  engine::RunRequest request;
  request.kind = engine::RunKind::kFill;
  request.after_run = AfterRunOf(command);
  // On this thread, once the session is taken for the fill: the picker is modal to the
  // window, whose messages (and nothing else) its loop goes on handling.
  request.choose_folder = [this] { return ChooseFillFolder(Window()); };
  session_.SetWorkerStarter(Program().start_worker);
  ReportStart(session_.Start(*host_, std::move(request)));
}

void CSetFileTime::ReportStart(engine::StartResult result) {
  if (result != engine::StartResult::kNoThread) return;
  view_.AddMessage(Format(lang::Txt(TextId::kCannotStart), session_.StartFailure()),
                   engine::MessageKind::kError);
}

void CSetFileTime::OnSendToCommand(int command) {
  // Nothing is reported: the entry's check mark shows the outcome the next time it is seen.
  const CSendTo& send_to = SendTo();
  if (command == kMenuCommandAddSendTo) send_to.AddToSendTo(kProgramName);
  if (command == kMenuCommandRemoveSendTo) send_to.RemoveFromSendTo(kProgramName);
  if (command == kMenuCommandOpenSendTo) send_to.OpenSendToFolder();
}

void CSetFileTime::OnInitMenuPopup() {
  const HMENU menu = view_.menu_bar() ? MenuBar().menu() : nullptr;
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

}  // namespace nulvane::app
