// The main dialog's controls: creating them on WM_INITDIALOG, their texts in the current
// language, their layout, and their DPI-dependent resources.
#include <windows.h>
#undef DeleteFile

#include <commctrl.h>

#include <algorithm>
#include <initializer_list>
#include <tuple>
#include <utility>

#include "app/desktop_calls.h"
#include "app/dpi_resources.h"
#include "app/dialog_keys.h"
#include "app/label_text.h"
#include "app/list_commands.h"
#include "app/main_dialog.h"
#include "app/menu_build.h"
#include "app/program.h"
#include "app/resource_ids.h"
#include "engine/deletion_run.h"
#include "lang/language_table.h"
#include "platform/format.h"
#include "platform/win32/wide.h"
#include "settings/settings.h"

namespace nulvane::app {

namespace {

using platform::Format;
using platform::Wide;

// Texts of the main dialog (language-table ids).
constexpr int kHelpText = 5;
constexpr int kResetText = 9;
constexpr int kReadyText = 14;
constexpr int kInfoBoxText = 15;
constexpr int kExitText = 28;
constexpr int kDeleteText = 29;
constexpr int kDelayLabelText = 34;
constexpr int kOverwriteLabelText = 35;
constexpr int kInfoText = 36;
constexpr int kErrorText = 37;
constexpr int kWarningText = 38;
constexpr int kPathColumnText = 47;
constexpr int kSizeColumnText = 48;
constexpr int kMessagesColumnText = 49;
constexpr int kDeletePlusText = 57;
// General texts.
constexpr int kTitleGeneralText = 19;
constexpr int kGermanHomeGeneralText = 20;
constexpr int kEnglishHomeGeneralText = 21;

// The shell32 icon of each menu command: FAQ, Donate and the home page; Exit; Edit Send-To;
// Remove from Send-To; Fill and Fill +; Info.
constexpr std::pair<int, int> kMenuCommandIcons[] = {{14, 32794},  {14, 32793},  {14, 32795},
                                                     {28, 2},      {5, 32799},   {240, 32798},
                                                     {275, 32791}, {275, 32805}, {1001, 32776}};

constexpr TextView kLanguageButtonText = u"\u00BB\u00BB LNG \u00AB\u00AB";

// Column widths and the link button's first place, at 96 DPI.
constexpr int kPathColumnWidth = 330;
constexpr int kSizeColumnWidth = 90;
constexpr int kMessagesColumnWidth = 400;
constexpr int kListButtonSize = 24;
constexpr int kCornerButtonSize = 20;
constexpr int kStripToolbarHeight = 20;
constexpr int kLinkBitmapHeight = 12;
constexpr Rect kFirstLinkPlace{260, 3, 220, 24};
constexpr Rect kFirstStatusBarSize{0, 0, 180, 20};

HINSTANCE ModuleOf(HWND window) {
  return reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(window, GWLP_HINSTANCE));
}

// A text-only toolbar: flat, list style, transparent, tool tips, no divider, placed and sized
// only by the dialog.
HWND CreateTextToolbar(HWND parent, int id) {
  const DWORD style = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | TBSTYLE_FLAT | TBSTYLE_LIST |
                      TBSTYLE_TRANSPARENT | TBSTYLE_TOOLTIPS | CCS_NODIVIDER | CCS_NOPARENTALIGN |
                      CCS_NORESIZE;
  HWND toolbar =
      CreateWindowExW(0, TOOLBARCLASSNAMEW, nullptr, style, 0, 0, 0, 0, parent,
                      reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), ModuleOf(parent), nullptr);
  if (!toolbar) return nullptr;
  SendMessageW(toolbar, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
  SendMessageW(toolbar, TB_SETBITMAPSIZE, 0, MAKELPARAM(0, 0));
  return toolbar;
}

void Place(HWND window, const Rect& rect) {
  if (!window) return;
  // A negative size (a client lower than the fixed strips) shows as an empty control.
  SetWindowPos(window, nullptr, rect.x, rect.y, std::max(rect.width, 0), std::max(rect.height, 0),
               SWP_NOZORDER | SWP_NOACTIVATE);
}

// A child's rectangle in its parent's client coordinates.
RECT ChildRect(HWND child) {
  RECT rect{};
  GetWindowRect(child, &rect);
  MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

void InsertColumn(HWND list, int index, int width) {
  LVCOLUMNW column{};
  column.mask = LVCF_WIDTH | LVCF_TEXT;
  column.cx = width;
  column.pszText = const_cast<wchar_t*>(L"");
  SendMessageW(list, LVM_INSERTCOLUMNW, static_cast<WPARAM>(index),
               reinterpret_cast<LPARAM>(&column));
}

void SetColumnText(HWND list, int index, TextView text) {
  Text copy(text);
  LVCOLUMNW column{};
  column.mask = LVCF_TEXT;
  column.pszText = Wide(copy);
  SendMessageW(list, LVM_SETCOLUMNW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&column));
}

// A font made for `description`, set on each of `windows` that exists; `held` keeps it, and
// the font it held before (which those windows no longer use) is deleted.
void SetFontOn(std::initializer_list<HWND> windows, const LOGFONTW& description, HFONT& held) {
  HFONT created = CreateFontIndirectW(&description);
  if (!created) return;
  for (HWND window : windows) {
    if (window) SendMessageW(window, WM_SETFONT, reinterpret_cast<WPARAM>(created), TRUE);
  }
  if (held) DeleteObject(held);
  held = created;
}

}  // namespace

INT_PTR CSetFileTime::OnInitDialog(HWND window) {
  dialog_ = window;
  dpi_ = WindowDpi(window);
  // The dialog scales itself on a DPI change (OnDpiChanged): the dialog manager of Windows 10
  // 1703 and later must not scale its template controls and fonts a second time.
  CurrentDesktopCalls().SetDialogDpiChangeBehavior(window, kDialogDpiDisableAll,
                                                   kDialogDpiDisableAll);
  // Run elevated, the window still takes drops from Explorer, which is not.
  AcceptDropsFromLowerIntegrity(window);

  // 1. The program icon, big and small.
  SetCaptionIcons();

  // 2. The menu bar, on the dialog, and the icons of its menu's commands (shell32 icons by
  // number, loaded again at each DPI; one that the system lacks leaves its command without an
  // icon).
  CWinCmdBar2& bar = MenuBar();
  menu_bar_ = bar.CreateBar(window);
  if (menu_bar_) {
    bar.SetDpi(dpi_);
    for (const auto& [icon_id, command] : kMenuCommandIcons) {
      bar.AddSizedIcon(
          [id = icon_id](int pixels) { return SystemIcons().LoadShellIconAt(id, pixels); },
          command);
    }
  }

  item_list_view_ = GetDlgItem(window, IDC_ITEM_LIST);
  message_list_ = GetDlgItem(window, IDC_MESSAGE_LIST);
  if (item_list_view_) {
    const RECT rect = ChildRect(item_list_view_);
    item_list_left_ = rect.left;
    item_list_top_ = rect.top;
  }
  if (message_list_) message_list_left_ = ChildRect(message_list_).left;

  // 4. Full-row selection (3., the message icons, come with the other DPI resources below).
  if (item_list_view_) {
    SendMessageW(item_list_view_, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT,
                 LVS_EX_FULLROWSELECT);
  }

  // 5. The top strip, the toolbars, the status bar and the link button.
  CreateStripsAndBars();
  ApplyDpiResources();

  // 6. The columns.
  if (item_list_view_) {
    InsertColumn(item_list_view_, 0, ScaleForDpi(kPathColumnWidth, dpi_));
    InsertColumn(item_list_view_, 1, ScaleForDpi(kSizeColumnWidth, dpi_));
  }
  if (message_list_) InsertColumn(message_list_, 0, ScaleForDpi(kMessagesColumnWidth, dpi_));

  // 7. and 8. The buttons, and the link button inside the status bar.
  AddButtons();

  // 9. to 11.
  ApplyLanguageTexts();
  RECT client{};
  GetClientRect(window, &client);
  LayoutMainDialog(client.right, client.bottom);
  InstallKeyboard();
  items_.ParseCommandLine(command_line_);
  // The dialog manager sets no focus: the keyboard starts in the item list.
  if (item_list_view_) SetFocus(item_list_view_);
  return FALSE;
}

void CSetFileTime::InstallKeyboard() {
  DialogKeyTargets targets;
  targets.dialog = dialog_;
  targets.bar = menu_bar_ ? &MenuBar() : nullptr;
  targets.list_toolbar = list_toolbar_;
  targets.toolbars = {corner_toolbar_, list_toolbar_, link_button_};
  // Top to bottom: the corner toolbar (inside the top strip), the list toolbar, both lists, the
  // link button (inside the status bar).
  targets.tab_order = {top_strip_, list_toolbar_, item_list_view_, message_list_, status_bar_};
  targets.list_keys = [this](UINT key) { return list_commands_->OnKey(key); };
  list_commands_->OnControlsCreated();
  keys_ = std::make_unique<DialogKeys>(std::move(targets));
}

void CSetFileTime::CreateStripsAndBars() {
  const HINSTANCE instance = ModuleOf(dialog_);
  top_strip_ = CreateWindowExW(
      0, REBARCLASSNAMEW, nullptr,
      WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN | RBS_VARHEIGHT | RBS_BANDBORDERS |
          RBS_AUTOSIZE | CCS_NODIVIDER | CCS_NOPARENTALIGN | CCS_NORESIZE,
      0, 0, 0, 0, dialog_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_TOP_STRIP)), instance,
      nullptr);
  if (top_strip_) {
    REBARINFO info{};
    info.cbSize = sizeof info;
    SendMessageW(top_strip_, RB_SETBARINFO, 0, reinterpret_cast<LPARAM>(&info));
    strip_toolbar_ = CreateTextToolbar(top_strip_, IDC_TOP_STRIP_BAND);
    REBARBANDINFOW band{};
    band.cbSize = REBARBANDINFOW_V6_SIZE;
    band.fMask = RBBIM_STYLE | RBBIM_CHILD | RBBIM_CHILDSIZE | RBBIM_SIZE;
    band.fStyle = RBBS_NOGRIPPER | RBBS_VARIABLEHEIGHT;
    band.hwndChild = strip_toolbar_;
    band.cyMinChild = static_cast<UINT>(ScaleForDpi(kStripToolbarHeight, dpi_));
    band.cx = 0;
    SendMessageW(top_strip_, RB_INSERTBANDW, static_cast<WPARAM>(-1),
                 reinterpret_cast<LPARAM>(&band));
    corner_toolbar_ = CreateTextToolbar(top_strip_, IDC_CORNER_TOOLBAR);
    // Above the band's own toolbar, which spans the whole strip.
    if (corner_toolbar_) {
      SetWindowPos(corner_toolbar_, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    }
  }
  list_toolbar_ = CreateTextToolbar(dialog_, IDC_LIST_TOOLBAR);
  status_bar_ = CreateWindowExW(
      0, STATUSCLASSNAMEW, nullptr,
      WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | SBARS_SIZEGRIP | CCS_NOPARENTALIGN | CCS_NORESIZE,
      kFirstStatusBarSize.x, kFirstStatusBarSize.y, ScaleForDpi(kFirstStatusBarSize.width, dpi_),
      ScaleForDpi(kFirstStatusBarSize.height, dpi_), dialog_,
      reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_STATUS_BAR)), instance, nullptr);
  // Created on the dialog, so that its command reaches the dialog, then shown in the status bar.
  link_button_ = CreateTextToolbar(dialog_, IDC_LINK_BUTTON);
}

void CSetFileTime::AddButtons() {
  if (list_toolbar_) {
    AddToolbarButton(list_toolbar_, lang::Txt(kResetText), kCommandReset, BTNS_BUTTON);
    AddToolbarButton(list_toolbar_, u"", 0, BTNS_SEP);
    AddToolbarButton(list_toolbar_, lang::Txt(kDeleteText), kCommandDelete, BTNS_BUTTON);
    AddToolbarButton(list_toolbar_, u"", 0, BTNS_SEP);
    AddToolbarButton(list_toolbar_, lang::Txt(kDeletePlusText), kCommandDeletePlus, BTNS_BUTTON);
    AddToolbarButton(list_toolbar_, u"", 0, BTNS_SEP);
    AddToolbarButton(list_toolbar_, u"#", kCommandOverwriteMenu, BTNS_BUTTON);
    AddToolbarButton(list_toolbar_, u"", 0, BTNS_SEP);
    AddToolbarButton(list_toolbar_, u"#", kCommandDelayMenu, BTNS_BUTTON);
  }
  if (corner_toolbar_) {
    AddToolbarButton(corner_toolbar_, kLanguageButtonText, kCommandLanguageMenu, BTNS_BUTTON);
    AddToolbarButton(corner_toolbar_, CornerLabel(lang::Txt(kExitText)), kCommandCancel,
                     BTNS_BUTTON);
    const int size = ScaleForDpi(kCornerButtonSize, dpi_);
    SendMessageW(corner_toolbar_, TB_SETBUTTONSIZE, 0, MAKELPARAM(size, size));
  }
  if (link_button_) {
    AddToolbarButton(link_button_, u"?", kCommandHomeLink, BTNS_BUTTON);
    SendMessageW(link_button_, TB_SETBITMAPSIZE, 0,
                 MAKELPARAM(0, ScaleForDpi(kLinkBitmapHeight, dpi_)));
    if (status_bar_) {
      SetParent(link_button_, status_bar_);
      Place(link_button_,
            Rect{ScaleForDpi(kFirstLinkPlace.x, dpi_), ScaleForDpi(kFirstLinkPlace.y, dpi_),
                 ScaleForDpi(kFirstLinkPlace.width, dpi_),
                 ScaleForDpi(kFirstLinkPlace.height, dpi_)});
    }
  }
}

void CSetFileTime::AddToolbarButton(HWND toolbar, TextView text, int command, BYTE style) {
  if (!toolbar) return;
  TBBUTTON button{};
  button.iBitmap = I_IMAGENONE;
  button.idCommand = command;
  button.fsState = TBSTATE_ENABLED;
  button.fsStyle = style;
  button.iString = -1;
  SendMessageW(toolbar, TB_ADDBUTTONSW, 1, reinterpret_cast<LPARAM>(&button));
  if (command != 0) {
    Text copy(text);
    TBBUTTONINFOW info{};
    info.cbSize = sizeof info;
    info.dwMask = TBIF_TEXT | TBIF_STYLE;
    info.fsStyle = static_cast<BYTE>(style | BTNS_AUTOSIZE);
    info.pszText = Wide(copy);
    SendMessageW(toolbar, TB_SETBUTTONINFOW, static_cast<WPARAM>(command),
                 reinterpret_cast<LPARAM>(&info));
  }
  const int size = ScaleForDpi(kListButtonSize, dpi_);
  SendMessageW(toolbar, TB_SETBUTTONSIZE, 0, MAKELPARAM(size, size));
}

void CSetFileTime::SetToolbarButtonText(HWND toolbar, TextView text, int command) {
  if (!toolbar) return;
  const LRESULT size = SendMessageW(toolbar, TB_GETBUTTONSIZE, 0, 0);
  Text copy(text);
  TBBUTTONINFOW info{};
  info.cbSize = sizeof info;
  info.dwMask = TBIF_TEXT;
  info.pszText = Wide(copy);
  SendMessageW(toolbar, TB_SETBUTTONINFOW, static_cast<WPARAM>(command),
               reinterpret_cast<LPARAM>(&info));
  SendMessageW(toolbar, TB_SETBUTTONSIZE, 0, size);
}

void CSetFileTime::BuildMenuBarMenu() {
  if (!menu_bar_) return;
  const bool in_send_to = SendTo().IsInSendTo(kProgramName);
  HMENU menu = Program().build_menu_bar_menu
                   ? Program().build_menu_bar_menu()
                   : CreateMenuFromModel(MenuBarMenu(lang::Table(), in_send_to)).release();
  // The bar owns the menu from here and destroys the one it had.
  if (menu) MenuBar().SetBarMenu(menu);
}

void CSetFileTime::ApplyLanguageTexts() {
  // 1. The title.
  const char16_t* product = lang::GetGeneralText(kTitleGeneralText);
  const Text title = Text(product ? product : u"") + u" [Unicode]";
  SetWindowTextW(dialog_, Wide(title));
  // 2. The menu bar's menu; the strip is shown.
  BuildMenuBarMenu();
  if (top_strip_) ShowWindow(top_strip_, SW_SHOW);
  // 3. Status and help text.
  SetStatusText(lang::Txt(kReadyText));
  const Text help(lang::Txt(kHelpText));
  SetDlgItemTextW(dialog_, IDC_PROGRESS_TEXT, Wide(help));
  // 4. and 5. The toolbars.
  SetToolbarButtonText(list_toolbar_, lang::Txt(kDeleteText), kCommandDelete);
  SetToolbarButtonText(list_toolbar_, lang::Txt(kDeletePlusText), kCommandDeletePlus);
  SetToolbarButtonText(corner_toolbar_, CornerLabel(lang::Txt(kExitText)), kCommandCancel);
  RefreshOptionLabels();
  SetToolbarButtonText(list_toolbar_, lang::Txt(kResetText), kCommandReset);
  // 6. One font for the info box, its text and both lists: the toolbars'.
  ApplyToolbarFont();
  // 7. and 8. The info box caption and the home address.
  const Text caption(lang::Txt(kInfoBoxText));
  SetDlgItemTextW(dialog_, IDC_INFO_BOX, Wide(caption));
  const char16_t* home = lang::GetGeneralText(
      lang::Table().CurrentLanguage() == 0 ? kGermanHomeGeneralText : kEnglishHomeGeneralText);
  SetToolbarButtonText(link_button_, home ? TextView(home) : TextView(u"?"), kCommandHomeLink);
  // 9. The legend: "Warning" ends up on top.
  if (message_list_) SendMessageW(message_list_, LVM_DELETEALLITEMS, 0, 0);
  AddMessage(lang::Txt(kInfoText), engine::MessageKind::kInfo);
  AddMessage(lang::Txt(kErrorText), engine::MessageKind::kError);
  AddMessage(lang::Txt(kWarningText), engine::MessageKind::kWarning);
  // 10. The column headers.
  if (item_list_view_) {
    SetColumnText(item_list_view_, 0, lang::Txt(kPathColumnText));
    SetColumnText(item_list_view_, 1, lang::Txt(kSizeColumnText));
  }
  if (message_list_) SetColumnText(message_list_, 0, lang::Txt(kMessagesColumnText));
  // 11.
  RECT client{};
  GetClientRect(dialog_, &client);
  LayoutMainDialog(client.right, client.bottom);
}

Text CSetFileTime::RefreshOptionLabels() {
  // The stored count as the overwrite menu offers it (up to 35): what the user chose, and the
  // number of passes a run makes.
  int passes = 1;
  settings::GetOptionInt(settings::kPassesKey, passes);
  SetToolbarButtonText(list_toolbar_,
                       Format(lang::Txt(kOverwriteLabelText), ClampOverwriteLabelCount(passes)),
                       kCommandOverwriteMenu);
  int delay = flags_.delay.load();
  settings::GetOptionInt(settings::kDelayKey, delay);
  delay = engine::ClampDelay(delay);
  flags_.delay.store(delay);
  Text label = Format(lang::Txt(kDelayLabelText), delay);
  SetToolbarButtonText(list_toolbar_, label, kCommandDelayMenu);
  return label;
}

void CSetFileTime::ApplyToolbarFont() {
  if (!corner_toolbar_) return;
  const WPARAM font = static_cast<WPARAM>(SendMessageW(corner_toolbar_, WM_GETFONT, 0, 0));
  for (HWND control : {GetDlgItem(dialog_, IDC_PROGRESS_TEXT), GetDlgItem(dialog_, IDC_INFO_BOX),
                       item_list_view_, message_list_}) {
    if (control) SendMessageW(control, WM_SETFONT, font, TRUE);
  }
}

void CSetFileTime::AddMessage(TextView text, engine::MessageKind kind) {
  if (!message_list_) return;
  Text copy(text);
  LVITEMW item{};
  item.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM;
  item.iItem = 0;
  item.pszText = Wide(copy);
  item.iImage = static_cast<int>(kind);
  item.lParam = 0;
  SendMessageW(message_list_, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
}

void CSetFileTime::SetCommandsEnabled(bool enabled) {
  const LPARAM state = MAKELPARAM(enabled ? TRUE : FALSE, 0);
  for (const int command :
       {kCommandDelete, kCommandDeletePlus, kCommandOverwriteMenu, kCommandReset}) {
    if (list_toolbar_) SendMessageW(list_toolbar_, TB_ENABLEBUTTON, command, state);
  }
  // The language too: a change re-applies every text and would wipe the run's lines.
  for (const int command : {kCommandLanguageMenu, kCommandCancel}) {
    if (corner_toolbar_) SendMessageW(corner_toolbar_, TB_ENABLEBUTTON, command, state);
  }
}

LayoutInput CSetFileTime::CurrentLayoutInput(int width, int height) const {
  LayoutInput in;
  in.client_width = width;
  in.client_height = height;
  in.dpi = dpi_;
  in.item_list_left = item_list_left_;
  in.item_list_top = item_list_top_;
  in.message_list_left = message_list_left_;
  in.has_top_strip = top_strip_ != nullptr;
  in.has_status_bar = status_bar_ != nullptr;
  in.has_list_toolbar = list_toolbar_ != nullptr;
  in.has_corner_toolbar = corner_toolbar_ != nullptr;
  if (corner_toolbar_) {
    RECT first{};
    RECT second{};
    SendMessageW(corner_toolbar_, TB_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&first));
    SendMessageW(corner_toolbar_, TB_GETITEMRECT, 1, reinterpret_cast<LPARAM>(&second));
    in.corner_first_left = first.left;
    in.corner_second_right = second.right;
  }
  return in;
}

void CSetFileTime::LayoutMainDialog(int width, int height) {
  const std::optional<MainLayout> layout = LayoutMainWindow(CurrentLayoutInput(width, height));
  if (!layout) return;
  Place(top_strip_, layout->top_strip);
  if (layout->status_bar) {
    Place(link_button_, *layout->link_button);
    Place(status_bar_, *layout->status_bar);
  }
  if (layout->list_toolbar) {
    Place(list_toolbar_, *layout->list_toolbar);
    Place(item_list_view_, *layout->item_list);
    Place(message_list_, *layout->message_list);
  }
  if (layout->corner_toolbar) Place(corner_toolbar_, *layout->corner_toolbar);
  // The menu bar sits at the strip's left, as wide as its buttons and above the strip, so that
  // it never covers the corner toolbar.
  if (menu_bar_ && IsWindow(menu_bar_)) {
    const auto buttons = static_cast<int>(SendMessageW(menu_bar_, TB_BUTTONCOUNT, 0, 0));
    RECT last{};
    if (buttons > 0)
      SendMessageW(menu_bar_, TB_GETITEMRECT, buttons - 1, reinterpret_cast<LPARAM>(&last));
    RECT bar{};
    GetWindowRect(menu_bar_, &bar);
    const int bar_height = bar.bottom - bar.top;
    SetWindowPos(menu_bar_, HWND_TOP, 0, std::max(0, (layout->top_strip.height - bar_height) / 2),
                 last.right, bar_height, SWP_NOACTIVATE);
  }
  // Moved and resized controls keep bits of their old places (the status bar its old text, the
  // message list and the item list's header whole areas): everything is painted anew.
  RedrawWindow(dialog_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

void CSetFileTime::OnGetMinMaxInfo(MINMAXINFO& info) const {
  // Before the controls exist (the message comes while the dialog is created) the system's
  // figures stand.
  if (!top_strip_ || !list_toolbar_ || !item_list_view_) return;
  MinimumInput in;
  in.dpi = dpi_;
  in.item_list_left = item_list_left_;
  in.item_list_top = item_list_top_;
  const auto buttons = static_cast<int>(SendMessageW(list_toolbar_, TB_BUTTONCOUNT, 0, 0));
  RECT last{};
  if (buttons > 0) {
    SendMessageW(list_toolbar_, TB_GETITEMRECT, buttons - 1, reinterpret_cast<LPARAM>(&last));
  }
  in.list_buttons_right = last.right;
  if (menu_bar_) {
    RECT bar{};
    GetWindowRect(menu_bar_, &bar);
    in.menu_bar_width = bar.right - bar.left;
  }
  const LayoutInput corner = CurrentLayoutInput(0, 0);
  in.corner_buttons_width = corner.corner_second_right - corner.corner_first_left;
  // The item list at three rows: its header, the rows (as tall as the message list's, which
  // has its icons and always a line), and its frame.
  int header = 0;
  if (HWND control = reinterpret_cast<HWND>(SendMessageW(item_list_view_, LVM_GETHEADER, 0, 0))) {
    RECT rect{};
    GetWindowRect(control, &rect);
    header = rect.bottom - rect.top;
  }
  int row = 0;
  RECT line{};
  line.left = LVIR_BOUNDS;
  if (message_list_ &&
      SendMessageW(message_list_, LVM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&line))) {
    row = line.bottom - line.top;
  }
  if (row <= 0) row = ScaleForDpi(kMinimumItemHeight, dpi_);
  RECT outer{};
  RECT inner{};
  GetWindowRect(item_list_view_, &outer);
  GetClientRect(item_list_view_, &inner);
  const int frame = (outer.bottom - outer.top) - (inner.bottom - inner.top);
  in.item_list_height = header + kMinimumItemRows * row + frame;
  const ClientSize client = MinimumClientSize(in);

  RECT window{0, 0, client.width, client.height};
  const auto style = static_cast<DWORD>(GetWindowLongPtrW(dialog_, GWL_STYLE));
  const auto ex_style = static_cast<DWORD>(GetWindowLongPtrW(dialog_, GWL_EXSTYLE));
  using AdjustForDpi = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
  static const auto adjust_for_dpi = reinterpret_cast<AdjustForDpi>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"user32.dll"), "AdjustWindowRectExForDpi")));
  if (!adjust_for_dpi ||
      !adjust_for_dpi(&window, style, FALSE, ex_style, static_cast<UINT>(dpi_))) {
    AdjustWindowRectEx(&window, style, FALSE, ex_style);
  }
  info.ptMinTrackSize.x = std::max<LONG>(info.ptMinTrackSize.x, window.right - window.left);
  info.ptMinTrackSize.y = std::max<LONG>(info.ptMinTrackSize.y, window.bottom - window.top);
}

void CSetFileTime::SetCaptionIcons() {
  const HINSTANCE instance = ModuleOf(dialog_);
  for (auto [kind, metric, held] : {std::tuple{ICON_BIG, SM_CXICON, &big_icon_},
                                    std::tuple{ICON_SMALL, SM_CXSMICON, &small_icon_}}) {
    HICON icon =
        LoadSizedIcon(instance, MAKEINTRESOURCEW(IDI_PROGRAM), SystemMetricForDpi(metric, dpi_));
    if (!icon) continue;
    SendMessageW(dialog_, WM_SETICON, static_cast<WPARAM>(kind), reinterpret_cast<LPARAM>(icon));
    if (*held) DestroyIcon(*held);
    *held = icon;
  }
}

void CSetFileTime::ApplyDpiResources() {
  const HINSTANCE instance = ModuleOf(dialog_);

  // The message icons at the small-icon size of this DPI.
  const int icon = SystemMetricForDpi(SM_CXSMICON, dpi_);
  if (message_list_) {
    HIMAGELIST images = ImageList_Create(icon, icon, ILC_COLOR32 | ILC_MASK, 1, 1);
    if (images) {
      for (const wchar_t* name : {IDI_ASTERISK, IDI_HAND, IDI_EXCLAMATION}) {
        if (HICON loaded = LoadSizedIcon(nullptr, name, icon)) {
          ImageList_AddIcon(images, loaded);
          DestroyIcon(loaded);
        }
      }
      SendMessageW(message_list_, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(images));
      if (message_images_) ImageList_Destroy(message_images_);
      message_images_ = images;
    }
  }

  // The toolbars' font (the system's icon-title font, as toolbars take it) at this DPI. At the
  // system DPI the toolbars keep the font they made themselves.
  if (dpi_ != SystemDpi() || dpi_font_) {
    SetFontOn({strip_toolbar_, corner_toolbar_, list_toolbar_, link_button_},
              IconTitleFontForDpi(dpi_), dpi_font_);
  }
  // The status bar's: the system's status font at this DPI.
  SetFontOn({status_bar_}, StatusFontForDpi(dpi_), status_font_);
  // The menu bar's font, height, icons and item sizes.
  if (menu_bar_) MenuBar().SetDpi(dpi_);
  const int list_size = ScaleForDpi(kListButtonSize, dpi_);
  const int corner_size = ScaleForDpi(kCornerButtonSize, dpi_);
  if (list_toolbar_)
    SendMessageW(list_toolbar_, TB_SETBUTTONSIZE, 0, MAKELPARAM(list_size, list_size));
  if (link_button_) {
    SendMessageW(link_button_, TB_SETBITMAPSIZE, 0,
                 MAKELPARAM(0, ScaleForDpi(kLinkBitmapHeight, dpi_)));
    SendMessageW(link_button_, TB_SETBUTTONSIZE, 0, MAKELPARAM(list_size, list_size));
  }
  if (corner_toolbar_) {
    SendMessageW(corner_toolbar_, TB_SETBUTTONSIZE, 0, MAKELPARAM(corner_size, corner_size));
  }
  if (top_strip_) {
    REBARBANDINFOW band{};
    band.cbSize = REBARBANDINFOW_V6_SIZE;
    band.fMask = RBBIM_CHILDSIZE;
    band.cyMinChild = static_cast<UINT>(ScaleForDpi(kStripToolbarHeight, dpi_));
    SendMessageW(top_strip_, RB_SETBANDINFOW, 0, reinterpret_cast<LPARAM>(&band));
  }
  // The program icon in the info box.
  const int big = SystemMetricForDpi(SM_CXICON, dpi_);
  if (HWND program_icon = GetDlgItem(dialog_, -1)) {
    if (HICON loaded = LoadSizedIcon(instance, MAKEINTRESOURCEW(IDI_PROGRAM), big)) {
      if (HICON old = reinterpret_cast<HICON>(
              SendMessageW(program_icon, STM_SETICON, reinterpret_cast<WPARAM>(loaded), 0))) {
        DestroyIcon(old);
      }
    }
  }
}

void CSetFileTime::OnDpiChanged(int dpi, const RECT& suggested) {
  const int old_dpi = dpi_;
  if (dpi > 0 && dpi != old_dpi) {
    // The template's controls keep their places relative to the dialog's size: scaled by the
    // same factor as everything else.
    const auto scale = [&](LONG value) { return MulDiv(value, dpi, old_dpi); };
    for (HWND child : {GetDlgItem(dialog_, IDC_INFO_BOX), GetDlgItem(dialog_, IDC_PROGRESS_TEXT),
                       GetDlgItem(dialog_, -1)}) {
      if (!child) continue;
      const RECT rect = ChildRect(child);
      Place(child, Rect{scale(rect.left), scale(rect.top), scale(rect.right - rect.left),
                        scale(rect.bottom - rect.top)});
    }
    item_list_left_ = scale(item_list_left_);
    item_list_top_ = scale(item_list_top_);
    message_list_left_ = scale(message_list_left_);
    for (HWND list : {item_list_view_, message_list_}) {
      if (!list) continue;
      const int columns = list == item_list_view_ ? 2 : 1;
      for (int column = 0; column < columns; ++column) {
        const auto width = static_cast<int>(SendMessageW(list, LVM_GETCOLUMNWIDTH, column, 0));
        SendMessageW(list, LVM_SETCOLUMNWIDTH, column, MAKELPARAM(scale(width), 0));
      }
    }
    dpi_ = dpi;
    SetCaptionIcons();
    ApplyDpiResources();
    ApplyToolbarFont();
  }
  SetWindowPos(dialog_, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
               suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
  RECT client{};
  GetClientRect(dialog_, &client);
  LayoutMainDialog(client.right, client.bottom);
}

}  // namespace nulvane::app
