#include "app/list_commands.h"

#include <commctrl.h>
#include <windowsx.h>

#include <cstring>

#include "app/file_picker.h"
#include "app/launcher.h"
#include "app/list_menus.h"
#include "app/main_dialog.h"
#include "app/menu_build.h"
#include "lang/language_table.h"
#include "platform/format.h"
#include "platform/win32/wide.h"
#include "settings/settings.h"

namespace nulvane::app {

namespace {

using lang::TextId;
using platform::Wide;

// The legend: the three lines below every message, one of each kind, in the current language.
constexpr TextId kLegendTexts[] = {TextId::kInfo, TextId::kError, TextId::kWarning};
constexpr int kLegendLines = 3;

constexpr TextView kLogFileName = u"Nulvane.log";

Text ItemText(HWND list, int row) {
  // Asked again with more room until the text fits: a path has no fixed longest length.
  for (int room = 512;; room *= 2) {
    std::vector<wchar_t> buffer(static_cast<std::size_t>(room), L'\0');
    LVITEMW item{};
    item.pszText = buffer.data();
    item.cchTextMax = room;
    const auto length = static_cast<int>(SendMessageW(
        list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item)));
    if (length < room - 1 || room >= (1 << 16)) return platform::FromWide(buffer.data());
  }
}

int ItemImage(HWND list, int row) {
  LVITEMW item{};
  item.mask = LVIF_IMAGE;
  item.iItem = row;
  SendMessageW(list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
  return item.iImage;
}

}  // namespace

void ListCommands::OnControlsCreated() {
  if (const HWND list = dialog_.View().item_list()) {
    SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_INFOTIP, LVS_EX_INFOTIP);
  }
}

bool ListCommands::OnNotify(const NMHDR& header) {
  if (header.hwndFrom != dialog_.View().item_list() || header.code != LVN_GETINFOTIPW) return false;
  auto& tip = *reinterpret_cast<NMLVGETINFOTIPW*>(const_cast<NMHDR*>(&header));
  if (!tip.pszText || tip.cchTextMax <= 0) return true;
  // A row shown whole needs no tip; a path cut at the column's edge is shown whole (as far as
  // the tooltip's buffer reaches).
  if ((tip.dwFlags & LVGIT_UNFOLDED) != 0 || tip.iSubItem != 0 ||
      !dialog_.Items().GetRowText(tip.iItem, 0, reinterpret_cast<char16_t*>(tip.pszText),
                                  static_cast<std::size_t>(tip.cchTextMax))) {
    tip.pszText[0] = L'\0';
  }
  return true;
}

void ListCommands::PrepareRun(engine::RunRequest& context) {
  wiping_.store(false);
  stop_after_item_.store(false);
  int verify = 0;
  settings::GetOptionInt(settings::kVerifyKey, verify);
  context.verify = verify != 0;
  context.stop_after_item = &stop_after_item_;
  engine::RunHost& host = dialog_.Host();
  const bool verified = context.verify;
  // On the worker; the line travels to the window through the host.
  context.on_wiping = [this, &host, verified] {
    wiping_.store(true);
    if (verified) host.AddMessage(lang::Txt(TextId::kVerifiedRun), engine::MessageKind::kInfo);
  };
}

bool ListCommands::StopAfterCurrentItem() {
  if (!CSetFileTime::WorkerActive() || !wiping_.load() || stop_after_item_.load()) return false;
  // The run has handed the commands back: its wiping is over, though its worker may still be
  // finishing. A close now closes, as it did before the stop after an item existed.
  if (dialog_.View().commands_enabled()) return false;
  stop_after_item_.store(true);
  // The run no longer needs the flag; set, it makes the next close end the program at once.
  engine::ProcessRunSession().flags().stop.store(1);
  dialog_.View().AddMessage(lang::Txt(TextId::kStoppingAfterItem), engine::MessageKind::kWarning);
  return true;
}

void ListCommands::OnInitMenuPopup(HMENU menu) const {
  if (!menu) return;
  int verify = 0;
  settings::GetOptionInt(settings::kVerifyKey, verify);
  CheckMenuItem(menu, kMenuCommandVerify, MF_BYCOMMAND | (verify != 0 ? MF_CHECKED : MF_UNCHECKED));
}

void ListCommands::ToggleVerify() {
  int verify = 0;
  settings::GetOptionInt(settings::kVerifyKey, verify);
  settings::PutOptionInt(settings::kVerifyKey, verify != 0 ? 0 : 1);
}

bool ListCommands::OnCommand(int command) {
  switch (command) {
    case kMenuCommandVerify:
      ToggleVerify();
      return true;
    case kListCommandRemove:
      RemoveSelected();
      return true;
    case kListCommandOpenFolder:
      OpenContainingFolder();
      return true;
    case kListCommandCopyPaths:
      CopyPaths();
      return true;
    case kLogCommandCopy:
      CopyLog();
      return true;
    case kLogCommandSave:
      SaveLog();
      return true;
    case kLogCommandClear:
      ClearLog();
      return true;
    case kMenuCommandAddFiles:
      AddFiles();
      return true;
    case kMenuCommandAddFolder:
      AddFolder();
      return true;
    default:
      return false;
  }
}

bool ListCommands::OnKey(UINT virtual_key) {
  ListKey key;
  key.virtual_key = virtual_key;
  key.control = GetKeyState(VK_CONTROL) < 0;
  key.shift = GetKeyState(VK_SHIFT) < 0;
  const HWND focus = GetFocus();
  if (focus && focus == dialog_.View().item_list()) key.focus = ListFocus::kItemList;
  if (focus && focus == dialog_.View().message_list()) key.focus = ListFocus::kMessageList;
  if (IsContextMenuKey(key)) {
    SendMessageW(dialog_.Window(), WM_CONTEXTMENU, reinterpret_cast<WPARAM>(focus),
                 MAKELPARAM(-1, -1));
    return true;
  }
  const int command = ListCommandForKey(key);
  if (command == 0) return false;
  // Posted: the key's own handling ends before a dialog or a rebuild begins.
  PostMessageW(dialog_.Window(), WM_COMMAND, MAKEWPARAM(command, 0), 0);
  return true;
}

bool ListCommands::OnContextMenu(HWND window, LPARAM screen_position) {
  const bool item_list = window && window == dialog_.View().item_list();
  if (!item_list && (!window || window != dialog_.View().message_list())) return false;
  const MenuModel model =
      item_list ? ItemListMenu(lang::Table(), !SelectedRows(window).empty(),
                               CSetFileTime::WorkerActive() || dialog_.Items().RunActive())
                : MessageListMenu(lang::Table());
  UniqueMenu menu = CreatePopupFromModel(model);
  if (!menu.get()) return true;
  POINT at{GET_X_LPARAM(screen_position), GET_Y_LPARAM(screen_position)};
  if (at.x == -1 && at.y == -1) {
    // From the keyboard: below the focused row, or the list's corner.
    RECT row{};
    row.left = LVIR_BOUNDS;
    const auto focused = static_cast<int>(
        SendMessageW(window, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_FOCUSED));
    if (focused < 0 || !SendMessageW(window, LVM_GETITEMRECT, static_cast<WPARAM>(focused),
                                     reinterpret_cast<LPARAM>(&row))) {
      row = RECT{0, 0, 0, 0};
    }
    at = POINT{row.left + 8, row.bottom};
    ClientToScreen(window, &at);
  }
  TrackPopupMenuEx(menu.get(), TPM_LEFTALIGN | TPM_TOPALIGN | TPM_RIGHTBUTTON, at.x, at.y,
                   dialog_.Window(), nullptr);
  return true;
}

std::vector<int> ListCommands::SelectedRows(HWND list) const {
  std::vector<int> rows;
  if (!list) return rows;
  for (auto row = static_cast<int>(
           SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
       row >= 0; row = static_cast<int>(SendMessageW(list, LVM_GETNEXTITEM,
                                                     static_cast<WPARAM>(row), LVNI_SELECTED))) {
    rows.push_back(row);
  }
  return rows;
}

void ListCommands::RemoveSelected() {
  // The run took its rows at its start and rebuilds them at its end: the list stays as it is.
  if (CSetFileTime::WorkerActive() || dialog_.Items().RunActive()) return;
  const std::vector<int> rows = SelectedRows(dialog_.View().item_list());
  if (rows.empty()) return;
  const int first = rows.front();
  dialog_.Items().RemoveRows(rows);
  // The row that took the first removed row's place is where the user goes on.
  const int count = dialog_.Items().RowCount();
  if (count > 0) {
    const int next = first < count ? first : count - 1;
    LVITEMW state{};
    state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    state.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageW(dialog_.View().item_list(), LVM_SETITEMSTATE, static_cast<WPARAM>(next),
                 reinterpret_cast<LPARAM>(&state));
  }
}

void ListCommands::AddFiles() {
  std::vector<Text> paths = CurrentFilePicker().ChooseFiles(dialog_.Window());
  // Like a drop: added at once, or held back until a run in progress has ended.
  if (!paths.empty()) dialog_.Items().HandleDroppedFiles(paths);
}

void ListCommands::AddFolder() {
  if (std::optional<Text> folder = CurrentFilePicker().ChooseFolder(dialog_.Window())) {
    dialog_.Items().HandleDroppedFiles({std::move(*folder)});
  }
}

void ListCommands::OpenContainingFolder() {
  const std::vector<int> rows = SelectedRows(dialog_.View().item_list());
  if (rows.empty()) return;
  // One folder view: the first selected entry's.
  CurrentLauncher().ShowInFolder(ItemText(dialog_.View().item_list(), rows.front()));
}

void ListCommands::CopyPaths() {
  Text text;
  for (const int row : SelectedRows(dialog_.View().item_list())) {
    text += ItemText(dialog_.View().item_list(), row);
    text += u"\r\n";
  }
  if (!text.empty()) PutOnClipboard(text);
}

std::vector<LogLine> ListCommands::LogLines(bool selected_only) const {
  const HWND list = dialog_.View().message_list();
  std::vector<LogLine> lines;
  if (!list) return lines;
  const auto count = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
  const int messages = count > kLegendLines ? count - kLegendLines : 0;
  std::vector<int> rows = selected_only ? SelectedRows(list) : std::vector<int>{};
  if (rows.empty()) {
    for (int row = 0; row < messages; ++row) rows.push_back(row);
  }
  // Newest on top in the list, oldest first in the text.
  for (auto row = rows.rbegin(); row != rows.rend(); ++row) {
    lines.push_back(LogLine{ItemImage(list, *row), ItemText(list, *row)});
  }
  return lines;
}

void ListCommands::CopyLog() { PutOnClipboard(LogAsText(lang::Table(), LogLines(true))); }

void ListCommands::SaveLog() {
  const std::optional<Text> file =
      CurrentFilePicker().ChooseSaveFile(dialog_.Window(), kLogFileName);
  if (!file) return;
  const std::string bytes = LogFileBytes(LogAsText(lang::Table(), LogLines(false)));
  HANDLE handle = CreateFileW(Wide(*file), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD error = ERROR_SUCCESS;
  if (handle == INVALID_HANDLE_VALUE) {
    error = GetLastError();
  } else {
    DWORD written = 0;
    if (!WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
        written != bytes.size()) {
      error = GetLastError() != ERROR_SUCCESS ? GetLastError() : ERROR_WRITE_FAULT;
    }
    if (!CloseHandle(handle) && error == ERROR_SUCCESS) error = GetLastError();
  }
  if (error != ERROR_SUCCESS) {
    dialog_.View().AddMessage(
        platform::Format(lang::Txt(TextId::kLogNotSaved), *file,
                         platform::SystemErrorText(static_cast<std::uint32_t>(error))),
        engine::MessageKind::kError);
  }
}

void ListCommands::ClearLog() {
  const HWND list = dialog_.View().message_list();
  if (!list) return;
  SendMessageW(list, LVM_DELETEALLITEMS, 0, 0);
  for (int kind = 0; kind < kLegendLines; ++kind) {
    dialog_.View().AddMessage(lang::Txt(kLegendTexts[kind]),
                              static_cast<engine::MessageKind>(kind));
  }
}

void ListCommands::PutOnClipboard(TextView text) const {
  if (!OpenClipboard(dialog_.Window())) return;
  EmptyClipboard();
  const SIZE_T bytes = (text.size() + 1) * sizeof(wchar_t);
  if (HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes)) {
    if (void* target = GlobalLock(memory)) {
      std::memcpy(target, text.data(), text.size() * sizeof(wchar_t));
      static_cast<wchar_t*>(target)[text.size()] = L'\0';
      GlobalUnlock(memory);
      // The clipboard owns the memory once it took it.
      if (!SetClipboardData(CF_UNICODETEXT, memory)) GlobalFree(memory);
    } else {
      GlobalFree(memory);
    }
  }
  CloseClipboard();
}

}  // namespace nulvane::app
