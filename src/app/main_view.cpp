// The main dialog's controls: creating them on WM_INITDIALOG, their buttons, their texts in the
// current language, and what is shown in them. The layout and the DPI resources are in
// main_view_layout.cpp.
#include <windows.h>
#undef DeleteFile

#include <commctrl.h>

#include <algorithm>
#include <initializer_list>
#include <tuple>
#include <utility>

#include "app/command_ids.h"
#include "app/desktop_calls.h"
#include "app/dialog_keys.h"
#include "app/dpi_resources.h"
#include "app/label_text.h"
#include "app/main_view.h"
#include "app/main_view_parts.h"
#include "app/menu_build.h"
#include "app/program.h"
#include "lang/language_table.h"
#include "platform/format.h"
#include "platform/win32/wide.h"

namespace nulvane::app {

namespace {

using platform::Format;
using platform::Wide;
using namespace view_parts;

using lang::GeneralTextId;
using lang::TextId;

// The shell32 icon of each menu command: FAQ, Donate and the home page; Exit; Edit Send-To;
// Remove from Send-To; Fill and Fill +; Info.
constexpr std::pair<int, int> kMenuCommandIcons[] = {
    {14, kMenuCommandFaq},   {14, kMenuCommandDonate},    {14, kMenuCommandHomePage},
    {28, kCommandCancel},    {5, kMenuCommandOpenSendTo}, {240, kMenuCommandRemoveSendTo},
    {275, kMenuCommandFill}, {275, kMenuCommandFillPlus}, {1001, kMenuCommandInfo}};

constexpr TextView kLanguageButtonText = u"\u00BB\u00BB LNG \u00AB\u00AB";

// The link button's first place and the status bar's first size, at 96 DPI.
constexpr Rect kFirstLinkPlace{260, 3, 220, 24};
constexpr Rect kFirstStatusBarSize{0, 0, 180, 20};

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

// Replaces a button's text, keeping the toolbar's button size as it was.
void SetToolbarButtonText(HWND toolbar, TextView text, int command) {
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

}  // namespace

void MainView::Create(HWND window) {
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

  item_list_ = GetDlgItem(window, IDC_ITEM_LIST);
  message_list_ = GetDlgItem(window, IDC_MESSAGE_LIST);
  if (item_list_) {
    const RECT rect = ChildRect(item_list_);
    item_list_left_ = rect.left;
    item_list_top_ = rect.top;
  }
  if (message_list_) message_list_left_ = ChildRect(message_list_).left;

  // 4. Full-row selection (3., the message icons, come with the other DPI resources below).
  if (item_list_) {
    SendMessageW(item_list_, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT,
                 LVS_EX_FULLROWSELECT);
  }

  // 5. The top strip, the toolbars, the status bar and the link button.
  CreateStripsAndBars();
  ApplyDpiResources();

  // 6. The columns.
  if (item_list_) {
    InsertColumn(item_list_, 0, ScaleForDpi(kPathColumnWidth, dpi_));
    InsertColumn(item_list_, 1, ScaleForDpi(kSizeColumnWidth, dpi_));
  }
  if (message_list_) InsertColumn(message_list_, 0, ScaleForDpi(kMessagesColumnWidth, dpi_));

  // 7. and 8. The buttons, and the link button inside the status bar.
  AddButtons();
}

DialogKeyTargets MainView::KeyTargets() const {
  DialogKeyTargets targets;
  targets.dialog = dialog_;
  targets.bar = menu_bar_ ? &MenuBar() : nullptr;
  targets.list_toolbar = list_toolbar_;
  targets.toolbars = {corner_toolbar_, list_toolbar_, link_button_};
  // Top to bottom: the corner toolbar (inside the top strip), the list toolbar, both lists, the
  // link button (inside the status bar).
  targets.tab_order = {top_strip_, list_toolbar_, item_list_, message_list_, status_bar_};
  return targets;
}

void MainView::CreateStripsAndBars() {
  const HINSTANCE instance = ModuleOf(dialog_);
  top_strip_ = CreateWindowExW(
      0, REBARCLASSNAMEW, nullptr,
      WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN | RBS_VARHEIGHT | RBS_BANDBORDERS |
          RBS_AUTOSIZE | CCS_NODIVIDER | CCS_NOPARENTALIGN | CCS_NORESIZE,
      0, 0, 0, 0, dialog_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kTopStripId)), instance,
      nullptr);
  if (top_strip_) {
    REBARINFO info{};
    info.cbSize = sizeof info;
    SendMessageW(top_strip_, RB_SETBARINFO, 0, reinterpret_cast<LPARAM>(&info));
    strip_toolbar_ = CreateTextToolbar(top_strip_, kTopStripBandId);
    REBARBANDINFOW band{};
    band.cbSize = REBARBANDINFOW_V6_SIZE;
    band.fMask = RBBIM_STYLE | RBBIM_CHILD | RBBIM_CHILDSIZE | RBBIM_SIZE;
    band.fStyle = RBBS_NOGRIPPER | RBBS_VARIABLEHEIGHT;
    band.hwndChild = strip_toolbar_;
    band.cyMinChild = static_cast<UINT>(ScaleForDpi(kStripToolbarHeight, dpi_));
    band.cx = 0;
    SendMessageW(top_strip_, RB_INSERTBANDW, static_cast<WPARAM>(-1),
                 reinterpret_cast<LPARAM>(&band));
    corner_toolbar_ = CreateTextToolbar(top_strip_, kCornerToolbarId);
    // Above the band's own toolbar, which spans the whole strip.
    if (corner_toolbar_) {
      SetWindowPos(corner_toolbar_, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    }
  }
  list_toolbar_ = CreateTextToolbar(dialog_, kListToolbarId);
  status_bar_ = CreateWindowExW(
      0, STATUSCLASSNAMEW, nullptr,
      WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | SBARS_SIZEGRIP | CCS_NOPARENTALIGN | CCS_NORESIZE,
      kFirstStatusBarSize.x, kFirstStatusBarSize.y, ScaleForDpi(kFirstStatusBarSize.width, dpi_),
      ScaleForDpi(kFirstStatusBarSize.height, dpi_), dialog_,
      reinterpret_cast<HMENU>(static_cast<INT_PTR>(kStatusBarId)), instance, nullptr);
  // Created on the dialog, so that its command reaches the dialog, then shown in the status bar.
  link_button_ = CreateTextToolbar(dialog_, kLinkButtonId);
}

void MainView::AddButtons() {
  if (list_toolbar_) {
    AddToolbarButton(list_toolbar_, lang::Txt(TextId::kReset), kCommandReset, BTNS_BUTTON);
    AddToolbarButton(list_toolbar_, u"", 0, BTNS_SEP);
    AddToolbarButton(list_toolbar_, lang::Txt(TextId::kDelete), kCommandDelete, BTNS_BUTTON);
    AddToolbarButton(list_toolbar_, u"", 0, BTNS_SEP);
    AddToolbarButton(list_toolbar_, lang::Txt(TextId::kDeletePlus), kCommandDeletePlus,
                     BTNS_BUTTON);
    AddToolbarButton(list_toolbar_, u"", 0, BTNS_SEP);
    AddToolbarButton(list_toolbar_, u"#", kCommandOverwriteMenu, BTNS_BUTTON);
    AddToolbarButton(list_toolbar_, u"", 0, BTNS_SEP);
    AddToolbarButton(list_toolbar_, u"#", kCommandDelayMenu, BTNS_BUTTON);
  }
  if (corner_toolbar_) {
    AddToolbarButton(corner_toolbar_, kLanguageButtonText, kCommandLanguageMenu, BTNS_BUTTON);
    AddToolbarButton(corner_toolbar_, CornerLabel(lang::Txt(TextId::kExit)), kCommandCancel,
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

void MainView::AddToolbarButton(HWND toolbar, TextView text, int command, BYTE style) {
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

void MainView::BuildMenuBarMenu() {
  if (!menu_bar_) return;
  const bool in_send_to = SendTo().IsInSendTo(kProgramName);
  HMENU menu = Program().build_menu_bar_menu
                   ? Program().build_menu_bar_menu()
                   : CreateMenuFromModel(MenuBarMenu(lang::Table(), in_send_to)).release();
  // The bar owns the menu from here and destroys the one it had.
  if (menu) MenuBar().SetBarMenu(menu);
}

void MainView::ApplyLanguageTexts(int passes, int delay) {
  // 1. The title.
  const char16_t* product = lang::GetGeneralText(GeneralTextId::kTitle);
  SetTitle(Text(product ? product : u"") + u" [Unicode]");
  // 2. The menu bar's menu; the strip is shown.
  BuildMenuBarMenu();
  if (top_strip_) ShowWindow(top_strip_, SW_SHOW);
  // 3. Status and help text.
  SetStatusText(lang::Txt(TextId::kReady));
  SetProgressText(lang::Txt(TextId::kInstructions));
  // 4. and 5. The toolbars.
  SetToolbarButtonText(list_toolbar_, lang::Txt(TextId::kDelete), kCommandDelete);
  SetToolbarButtonText(list_toolbar_, lang::Txt(TextId::kDeletePlus), kCommandDeletePlus);
  SetToolbarButtonText(corner_toolbar_, CornerLabel(lang::Txt(TextId::kExit)), kCommandCancel);
  ShowOptions(passes, delay);
  SetToolbarButtonText(list_toolbar_, lang::Txt(TextId::kReset), kCommandReset);
  // 6. One font for the info box, its text and both lists: the toolbars'.
  ApplyToolbarFont();
  // 7. and 8. The info box caption and the home address.
  const Text caption(lang::Txt(TextId::kInfoBoxCaption));
  SetDlgItemTextW(dialog_, IDC_INFO_BOX, Wide(caption));
  const char16_t* home =
      lang::GetGeneralText(lang::Table().CurrentLanguage() == 0 ? GeneralTextId::kGermanHomeLink
                                                                : GeneralTextId::kHomeLink);
  SetToolbarButtonText(link_button_, home ? TextView(home) : TextView(u"?"), kCommandHomeLink);
  // 9. The legend: "Warning" ends up on top.
  if (message_list_) SendMessageW(message_list_, LVM_DELETEALLITEMS, 0, 0);
  AddMessage(lang::Txt(TextId::kInfo), engine::MessageKind::kInfo);
  AddMessage(lang::Txt(TextId::kError), engine::MessageKind::kError);
  AddMessage(lang::Txt(TextId::kWarning), engine::MessageKind::kWarning);
  // 10. The column headers.
  if (item_list_) {
    SetColumnText(item_list_, 0, lang::Txt(TextId::kPathColumn));
    SetColumnText(item_list_, 1, lang::Txt(TextId::kSizeColumn));
  }
  if (message_list_) SetColumnText(message_list_, 0, lang::Txt(TextId::kMessagesColumn));
  // 11.
  LayoutToClient();
}

Text MainView::ShowOptions(int passes, int delay) {
  SetToolbarButtonText(list_toolbar_, Format(lang::Txt(TextId::kOverwriteEntry), passes),
                       kCommandOverwriteMenu);
  Text label = Format(lang::Txt(TextId::kDelayEntry), delay);
  SetToolbarButtonText(list_toolbar_, label, kCommandDelayMenu);
  return label;
}

void MainView::AddMessage(TextView text, engine::MessageKind kind) {
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

void MainView::SetCommandsEnabled(bool enabled) {
  commands_enabled_ = enabled;
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

void MainView::ShowProgress(const engine::Progress& progress) {
  SetProgressText(progress.times + u"\n" + progress.amount);
  SetStatusText(progress.amount);
  SetTitle(progress.title);
}

void MainView::SetProgressText(TextView text) {
  const Text copy(text);
  SetDlgItemTextW(dialog_, IDC_PROGRESS_TEXT, Wide(copy));
}

void MainView::SetTitle(TextView text) {
  const Text copy(text);
  SetWindowTextW(dialog_, Wide(copy));
}

void MainView::SetStatusText(TextView text) {
  if (!status_bar_) return;
  const Text copy(text);
  SendMessageW(status_bar_, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(Wide(copy)));
}

void MainView::SetRowCount(int count) {
  if (item_list_) SendMessageW(item_list_, LVM_SETITEMCOUNT, static_cast<WPARAM>(count), 0);
}

void MainView::AddWarning(TextView text) { AddMessage(text, engine::MessageKind::kWarning); }

}  // namespace nulvane::app
