// CWinCmdBar: the toolbar, its buttons and the tracking of the popups.
#include "app/menu_bar.h"

#include "app/dpi_resources.h"
#include "app/menu_bar_rules.h"
#include "app/menu_item_text.h"

namespace nulvane::app {
namespace {

// The bar whose windows are subclassed, and the bar whose popup is tracked. One at a time.
CWinCmdBar* g_attached_bar = nullptr;
CWinCmdBar* g_hook_target = nullptr;

void PostKeyPress(HWND window, UINT virtual_key) {
  const LPARAM scan = static_cast<LPARAM>(MapVirtualKeyW(virtual_key, MAPVK_VK_TO_VSC)) << 16;
  PostMessageW(window, WM_KEYDOWN, virtual_key, 1 | scan);
  PostMessageW(window, WM_KEYUP, virtual_key, 1 | scan | (LPARAM{3} << 30));
}

// The bar's font at `dpi`: the default GUI font with italic off, the default character set and
// proof quality.
HFONT CreateBarFont(int dpi) {
  LOGFONTW font{};
  GetObjectW(GetStockObject(DEFAULT_GUI_FONT), sizeof(font), &font);
  font.lfItalic = FALSE;
  font.lfCharSet = DEFAULT_CHARSET;
  font.lfQuality = PROOF_QUALITY;
  const LOGFONTW scaled = FontForDpi(font, dpi);
  return CreateFontIndirectW(&scaled);
}

POINT PointOf(LPARAM lparam) {
  return POINT{static_cast<short>(LOWORD(lparam)), static_cast<short>(HIWORD(lparam))};
}

}  // namespace

LRESULT CALLBACK BarSubclassProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  CWinCmdBar* bar = g_attached_bar;
  if (!bar) return DefWindowProcW(window, message, wparam, lparam);
  const bool is_parent = window == bar->parent_;
  WNDPROC previous = is_parent ? bar->parent_proc_ : bar->toolbar_proc_;
  LRESULT result = 0;
  if (message == WM_NCDESTROY) {
    bar->Detach();
    return CallWindowProcW(previous, window, message, wparam, lparam);
  }
  const bool consumed = is_parent ? bar->OnParentMessage(message, wparam, lparam, result)
                                  : bar->OnToolbarMessage(message, wparam, lparam, result);
  return consumed ? result : CallWindowProcW(previous, window, message, wparam, lparam);
}

LRESULT CALLBACK BarMessageFilter(int code, WPARAM wparam, LPARAM lparam) {
  if (code == MSGF_MENU && g_hook_target && lparam &&
      g_hook_target->FilterMenuMessage(*reinterpret_cast<MSG*>(lparam))) {
    return TRUE;
  }
  return CallNextHookEx(nullptr, code, wparam, lparam);
}

CWinCmdBar::~CWinCmdBar() {
  Detach();
  if (toolbar_ && IsWindow(toolbar_)) DestroyWindow(toolbar_);
  if (menu_) DestroyMenu(menu_);
  if (font_) DeleteObject(font_);
}

void CWinCmdBar::Detach() {
  if (g_attached_bar != this) return;
  if (parent_ && IsWindow(parent_) && parent_proc_) {
    SetWindowLongPtrW(parent_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(parent_proc_));
  }
  if (toolbar_ && IsWindow(toolbar_) && toolbar_proc_) {
    SetWindowLongPtrW(toolbar_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(toolbar_proc_));
  }
  parent_proc_ = toolbar_proc_ = nullptr;
  g_attached_bar = nullptr;
  if (parent_ && !IsWindow(parent_)) parent_ = nullptr;
  if (toolbar_ && !IsWindow(toolbar_)) toolbar_ = nullptr;
}

int CWinCmdBar::Dpi() const { return dpi_ > 0 ? dpi_ : SystemDpi(); }

void CWinCmdBar::SetDpi(int dpi) {
  if (dpi <= 0 || dpi == dpi_) return;
  dpi_ = dpi;
  bar_height_ = ScaleForDpi(kBarHeight, dpi);
  if (toolbar_ && IsWindow(toolbar_)) {
    if (HFONT font = CreateBarFont(dpi)) {
      // The toolbar measures its buttons again for the new font.
      SendMessageW(toolbar_, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
      SendMessageW(toolbar_, TB_AUTOSIZE, 0, 0);
      if (font_) DeleteObject(font_);
      font_ = font;
    }
    RECT rect{};
    GetWindowRect(toolbar_, &rect);
    SetWindowPos(toolbar_, nullptr, 0, 0, rect.right - rect.left, bar_height_,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  ApplyDpi();
}

HWND CWinCmdBar::CreateBar(HWND parent) {
  // A toolbar destroyed with its former parent (its WM_NCDESTROY comes while it is still a
  // window, so Detach kept the handle) does not block a new bar.
  if (toolbar_ && !IsWindow(toolbar_)) toolbar_ = nullptr;
  if (!parent || (g_attached_bar && g_attached_bar != this) || toolbar_) return nullptr;
  const DWORD style = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN | TBSTYLE_FLAT |
                      TBSTYLE_LIST | TBSTYLE_TRANSPARENT | TBSTYLE_TOOLTIPS | CCS_NODIVIDER |
                      CCS_NOPARENTALIGN | CCS_NORESIZE;
  toolbar_ = CreateWindowExW(0, TOOLBARCLASSNAMEW, nullptr, style, 0, 0, 180, 20, parent, nullptr,
                             GetModuleHandleW(nullptr), nullptr);
  if (!toolbar_) return nullptr;
  parent_ = parent;
  const int dpi = WindowDpi(parent);
  if (!font_ || dpi != dpi_) {
    if (font_) DeleteObject(font_);
    font_ = CreateBarFont(dpi);
  }
  dpi_ = dpi;
  SendMessageW(toolbar_, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
  SendMessageW(toolbar_, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
  SendMessageW(toolbar_, TB_SETBITMAPSIZE, 0, MAKELPARAM(0, 0));
  bar_height_ = ScaleForDpi(kBarHeight, dpi_);
  ApplyDpi();
  RECT client{};
  GetClientRect(parent, &client);
  SetWindowPos(toolbar_, nullptr, 0, 0, client.right - client.left, bar_height_,
               SWP_NOZORDER | SWP_NOACTIVATE);
  ShowWindow(toolbar_, SW_SHOW);
  g_attached_bar = this;
  parent_proc_ = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrW(parent_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&BarSubclassProc)));
  toolbar_proc_ = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrW(toolbar_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&BarSubclassProc)));
  return toolbar_;
}

void CWinCmdBar::SetBarMenu(HMENU menu) {
  if (menu_ && menu_ != menu) {
    ReleaseMenuRecords();
    DestroyMenu(menu_);
  }
  menu_ = menu;
  item_count_ = menu ? GetMenuItemCount(menu) : 0;
  if (item_count_ < 0) item_count_ = 0;
  current_ = 0;
  if (!toolbar_) return;
  SendMessageW(toolbar_, WM_SETREDRAW, FALSE, 0);
  while (SendMessageW(toolbar_, TB_BUTTONCOUNT, 0, 0) > 0) {
    if (!SendMessageW(toolbar_, TB_DELETEBUTTON, 0, 0)) break;
  }
  for (int i = 0; i < item_count_; ++i) {
    std::wstring text = MenuItemText(menu, static_cast<UINT>(i));
    TBBUTTON button{};
    button.iBitmap = I_IMAGENONE;
    button.idCommand = kFirstBarButtonId + i;
    button.fsState = TBSTATE_ENABLED;
    button.fsStyle = BTNS_AUTOSIZE | BTNS_SHOWTEXT;
    button.iString = reinterpret_cast<INT_PTR>(text.c_str());
    adding_buttons_ = true;
    SendMessageW(toolbar_, TB_ADDBUTTONSW, 1, reinterpret_cast<LPARAM>(&button));
    adding_buttons_ = false;
  }
  SendMessageW(toolbar_, WM_SETREDRAW, TRUE, 0);
  InvalidateRect(toolbar_, nullptr, TRUE);
}

int CWinCmdBar::ButtonAt(POINT point) const {
  const LRESULT hit = SendMessageW(toolbar_, TB_HITTEST, 0, reinterpret_cast<LPARAM>(&point));
  if (hit < 0 || hit >= item_count_) return -1;
  // A point beside the last button hits no button, whatever the toolbar's answer.
  RECT button{};
  SendMessageW(toolbar_, TB_GETITEMRECT, static_cast<WPARAM>(hit),
               reinterpret_cast<LPARAM>(&button));
  return PtInRect(&button, point) ? static_cast<int>(hit) : -1;
}

void CWinCmdBar::PressButton(int index, bool pressed) {
  if (index < 0 || index >= item_count_) return;
  SendMessageW(toolbar_, TB_PRESSBUTTON, static_cast<WPARAM>(kFirstBarButtonId + index),
               MAKELPARAM(pressed ? TRUE : FALSE, 0));
}

void CWinCmdBar::TrackCurrentPopup(bool select_first) {
  if (!menu_ || !toolbar_) return;
  // One popup after another in this loop, never from a posted request: a request that arrived
  // while a popup was still open could only end that popup and ask again, without end.
  for (;;) {
    const int opened = current_;
    HMENU popup = GetSubMenu(menu_, opened);
    if (!popup) return;
    PressButton(opened, true);
    RECT button{};
    SendMessageW(toolbar_, TB_GETITEMRECT, static_cast<WPARAM>(opened),
                 reinterpret_cast<LPARAM>(&button));
    MapWindowPoints(toolbar_, nullptr, reinterpret_cast<POINT*>(&button), 2);
    POINT cursor{};
    GetCursorPos(&cursor);
    ScreenToClient(toolbar_, &cursor);
    last_mouse_ = cursor;
    highlighted_flags_ = 0;
    popup_depth_ = 0;
    switch_requested_ = false;
    g_hook_target = this;
    hook_ = SetWindowsHookExW(WH_MSGFILTER, BarMessageFilter, nullptr, GetCurrentThreadId());
    // Posted before the menu loop starts, never from inside one: the key is the first thing the
    // new popup reads, and no key of the user's is left behind in the queue.
    if (select_first) PostKeyPress(toolbar_, VK_DOWN);
    TPMPARAMS exclude{sizeof(exclude), button};
    TrackPopupMenuEx(popup, TPM_LEFTALIGN | TPM_TOPALIGN | TPM_VERTICAL | TPM_LEFTBUTTON,
                     button.left, button.bottom, toolbar_, &exclude);
    PressButton(opened, false);
    if (hook_) UnhookWindowsHookEx(hook_);
    hook_ = nullptr;
    g_hook_target = nullptr;
    if (!switch_requested_) return;
    current_ = WrapIndex(switch_to_, item_count_);
    select_first = switch_by_key_;
  }
}

void CWinCmdBar::SwitchTo(int index, bool by_key) {
  PressButton(current_, false);
  switch_requested_ = true;
  switch_to_ = index;
  switch_by_key_ = by_key;
  EndMenu();
}

bool CWinCmdBar::OnParentMessage(UINT message, WPARAM wparam, LPARAM, LRESULT& result) {
  if (message != WM_MENUCHAR || !menu_ || !toolbar_) return false;
  // Alt with a letter that no mnemonic of the window matched: the bar's items are the menu.
  const int index = MnemonicIndex(static_cast<char16_t>(LOWORD(wparam)));
  if (index < 0) return false;
  OpenPopupByKey(index);
  result = MAKELRESULT(0, MNC_CLOSE);
  return true;
}

bool CWinCmdBar::OnLeftButtonDown(LPARAM lparam) {
  const int index = ButtonAt(PointOf(lparam));
  if (index < 0) return false;
  current_ = index;
  TrackCurrentPopup();
  return true;
}

bool CWinCmdBar::OnToolbarMessage(UINT message, WPARAM wparam, LPARAM lparam, LRESULT& result) {
  switch (message) {
    case WM_LBUTTONDOWN:
      result = 0;
      return OnLeftButtonDown(lparam);
    case WM_INITMENUPOPUP:
      ++popup_depth_;
      SendMessageW(parent_, message, wparam, lparam);
      return false;
    case WM_UNINITMENUPOPUP:
      if (popup_depth_ > 0) --popup_depth_;
      return false;
    case WM_ENTERMENULOOP:
    case WM_EXITMENULOOP:
      SendMessageW(parent_, message, wparam, lparam);
      return false;
    case WM_MENUSELECT:
      // Sent to the menu's owner, the toolbar: the flags tell whether the highlighted item
      // opens a submenu (for the Right arrow); the parent sees the notification as usual.
      highlighted_flags_ = HIWORD(wparam) == 0xFFFF ? 0 : HIWORD(wparam);
      result = SendMessageW(parent_, message, wparam, lparam);
      return true;
    case WM_COMMAND:
      // The popup's owner is the toolbar: its commands go on to the parent as they are.
      if (lparam != 0) return false;
      result = SendMessageW(parent_, message, wparam, lparam);
      return true;
    case TB_ADDBUTTONSW:
    case TB_ADDBUTTONSA:
    case TB_INSERTBUTTONW:
    case TB_INSERTBUTTONA:
    case TB_SETBUTTONINFOW:
    case TB_SETBUTTONINFOA:
      // Only SetBarMenu changes the bar's buttons.
      if (adding_buttons_) {
        adding_buttons_ = false;
        return false;
      }
      result = 0;
      return true;
    case kOpenCurrentPopup:
      result = 0;
      if (tracking()) {
        // A popup is open: the tracking loop opens the current item's popup once it has closed.
        SwitchTo(current_, wparam != 0);
        return true;
      }
      current_ = WrapIndex(current_, item_count_);
      TrackCurrentPopup(wparam != 0);
      return true;
    default:
      return false;
  }
}

bool CWinCmdBar::FilterMenuMessage(MSG& message) {
  switch (message.message) {
    case WM_KEYDOWN:
      return FilterKey(message);
    case WM_MOUSEMOVE:
      return FilterMouseMove(message);
    case WM_LBUTTONDOWN:
      return FilterLeftButtonDown(message);
    default:
      return false;
  }
}

bool CWinCmdBar::FilterKey(MSG& message) {
  // While a submenu is open, Left and Escape close that submenu as in any menu. The filter
  // posts no key of its own: the menu loop removes the key it consumed by its kind, and a
  // posted key of the same kind would be taken in its place, leaving the user's key to be read
  // again and again.
  const bool in_submenu = popup_depth_ > 1;
  switch (message.wParam) {
    case VK_LEFT:
      if (in_submenu) return false;
      // With one item there is nowhere to go: the open popup stays as it is.
      if (item_count_ > 1) SwitchTo(current_ - 1, true);
      return true;
    case VK_RIGHT: {
      const bool opens_submenu = (highlighted_flags_ & MF_POPUP) != 0;
      highlighted_flags_ = 0;
      if (opens_submenu) return false;
      if (item_count_ > 1) SwitchTo(current_ + 1, true);
      return true;
    }
    case VK_ESCAPE:
      if (in_submenu) return false;
      EndMenu();
      return true;
    default:
      return false;
  }
}

bool CWinCmdBar::FilterMouseMove(MSG& message) {
  POINT point = PointOf(message.lParam);
  ScreenToClient(toolbar_, &point);
  if (point.x == last_mouse_.x && point.y == last_mouse_.y) return true;
  last_mouse_ = point;
  const int index = ButtonAt(point);
  if (index < 0 || index == current_) return false;
  SwitchTo(index, false);
  return true;
}

bool CWinCmdBar::FilterLeftButtonDown(MSG& message) {
  POINT point = PointOf(message.lParam);
  ScreenToClient(toolbar_, &point);
  if (ButtonAt(point) != current_) return false;
  // A second click on the open item's button closes its popup.
  EndMenu();
  return true;
}

}  // namespace nulvane::app
