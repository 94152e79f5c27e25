#include "app/dialog_keys.h"

#include <commctrl.h>

#include <algorithm>
#include <string>
#include <utility>

#include "app/toolbar_keys.h"

namespace nulvane::app {
namespace {

// The instance the hook serves.
DialogKeys* g_keys = nullptr;

constexpr UINT_PTR kToolbarFocusSubclass = 0x4E56;

LRESULT CALLBACK DialogKeysFilter(int code, WPARAM wparam, LPARAM lparam) {
  if (code == MSGF_DIALOGBOX && g_keys && lparam &&
      g_keys->Filter(*reinterpret_cast<MSG*>(lparam))) {
    return TRUE;
  }
  return CallNextHookEx(nullptr, code, wparam, lparam);
}

struct Button {
  int command = 0;
  bool usable = false;
  std::wstring text;
};

// A toolbar's buttons in order, separators included.
std::vector<Button> ButtonsOf(HWND toolbar) {
  std::vector<Button> buttons;
  const auto count = static_cast<int>(SendMessageW(toolbar, TB_BUTTONCOUNT, 0, 0));
  for (int i = 0; i < count; ++i) {
    TBBUTTON raw{};
    if (!SendMessageW(toolbar, TB_GETBUTTON, static_cast<WPARAM>(i),
                      reinterpret_cast<LPARAM>(&raw))) {
      buttons.emplace_back();
      continue;
    }
    Button button;
    button.command = raw.idCommand;
    button.usable = !(raw.fsStyle & BTNS_SEP) && (raw.fsState & TBSTATE_ENABLED) &&
                    !(raw.fsState & TBSTATE_HIDDEN);
    const auto length = SendMessageW(toolbar, TB_GETBUTTONTEXTW, raw.idCommand, 0);
    if (length > 0) {
      button.text.assign(static_cast<std::size_t>(length) + 1, L'\0');
      SendMessageW(toolbar, TB_GETBUTTONTEXTW, raw.idCommand,
                   reinterpret_cast<LPARAM>(button.text.data()));
      button.text.resize(static_cast<std::size_t>(length));
    }
    buttons.push_back(std::move(button));
  }
  return buttons;
}

std::vector<bool> UsableOf(const std::vector<Button>& buttons) {
  std::vector<bool> usable;
  for (const Button& button : buttons) usable.push_back(button.usable);
  return usable;
}

int HotButton(HWND toolbar) { return static_cast<int>(SendMessageW(toolbar, TB_GETHOTITEM, 0, 0)); }

void SetHotButton(HWND toolbar, int index) {
  SendMessageW(toolbar, TB_SETHOTITEM, static_cast<WPARAM>(index), 0);
}

// A focused toolbar shows where the keyboard is: its hot button. It has one from the moment it
// takes the focus until it loses it.
LRESULT CALLBACK ToolbarFocusProc(HWND toolbar, UINT message, WPARAM wparam, LPARAM lparam,
                                  UINT_PTR, DWORD_PTR) {
  switch (message) {
    case WM_SETFOCUS:
      if (HotButton(toolbar) < 0)
        SetHotButton(toolbar, NextUsableButton(UsableOf(ButtonsOf(toolbar)), -1, 1));
      break;
    case WM_KILLFOCUS:
      SetHotButton(toolbar, -1);
      break;
    default:
      break;
  }
  return DefSubclassProc(toolbar, message, wparam, lparam);
}

bool KeyboardCuesAlwaysShown() {
  BOOL shown = FALSE;
  return SystemParametersInfoW(SPI_GETKEYBOARDCUES, 0, &shown, 0) && shown;
}

}  // namespace

DialogKeys::DialogKeys(DialogKeyTargets targets) : targets_(std::move(targets)) {
  const HWND dialog = targets_.dialog;
  for (HWND toolbar : targets_.toolbars) {
    if (!toolbar) continue;
    SetWindowLongPtrW(toolbar, GWL_STYLE, GetWindowLongPtrW(toolbar, GWL_STYLE) | WS_TABSTOP);
    // Tab enters a control parent and visits the tab stops inside it.
    const HWND parent = GetParent(toolbar);
    if (parent && parent != dialog) {
      SetWindowLongPtrW(parent, GWL_EXSTYLE,
                        GetWindowLongPtrW(parent, GWL_EXSTYLE) | WS_EX_CONTROLPARENT);
    }
    SetWindowSubclass(toolbar, ToolbarFocusProc, kToolbarFocusSubclass, 0);
  }
  // Tab follows the order of the dialog's children.
  HWND previous = nullptr;
  for (HWND child : targets_.tab_order) {
    if (!child) continue;
    if (previous) {
      SetWindowPos(child, previous, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    }
    previous = child;
  }
  if (!g_keys) {
    g_keys = this;
    hook_ = SetWindowsHookExW(WH_MSGFILTER, DialogKeysFilter, nullptr, GetCurrentThreadId());
  }
  if (!KeyboardCuesAlwaysShown()) ShowCues(false);
}

DialogKeys::~DialogKeys() {
  if (hook_) UnhookWindowsHookEx(hook_);
  if (g_keys == this) g_keys = nullptr;
  for (HWND toolbar : targets_.toolbars) {
    if (toolbar && IsWindow(toolbar)) {
      RemoveWindowSubclass(toolbar, ToolbarFocusProc, kToolbarFocusSubclass);
    }
  }
}

bool DialogKeys::Filter(MSG& message) {
  const HWND dialog = targets_.dialog;
  if (!dialog || (message.hwnd != dialog && !IsChild(dialog, message.hwnd))) return false;
  switch (message.message) {
    case WM_SYSKEYDOWN:
      return OnSystemKeyDown(message);
    case WM_SYSKEYUP:
      return OnSystemKeyUp(message);
    case WM_KEYUP:
      // The release of Alt comes as WM_KEYUP too when the system found something in between
      // (Wine does so for a release that is not the first input after the press).
      return message.wParam == VK_MENU && OnSystemKeyUp(message);
    case WM_SYSCHAR:
      return OnAltLetter(static_cast<char16_t>(message.wParam));
    case WM_KEYDOWN:
      alt_alone_ = false;
      return OnKeyDown(static_cast<UINT>(message.wParam));
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
    case WM_NCLBUTTONDOWN:
    case WM_NCRBUTTONDOWN:
      alt_alone_ = false;
      LeaveBarKeyboardMode();
      return false;
    default:
      return false;
  }
}

bool DialogKeys::OnSystemKeyDown(const MSG& message) {
  if (message.wParam == VK_MENU) {
    const bool repeated = (message.lParam & (LPARAM{1} << 30)) != 0;
    if (repeated) return true;
    if (targets_.bar && targets_.bar->keyboard_mode()) {
      // Alt again leaves the menu bar, as it does a native one.
      LeaveBarKeyboardMode();
      alt_alone_ = false;
      return true;
    }
    alt_alone_ = true;
    ShowCues(true);
    return true;
  }
  alt_alone_ = false;
  // Shift+F10: a list's context menu.
  if (message.wParam == VK_F10 && GetKeyState(VK_SHIFT) < 0 && targets_.list_keys &&
      targets_.list_keys(VK_F10)) {
    return true;
  }
  if (message.wParam == VK_F10 && GetKeyState(VK_SHIFT) >= 0) {
    if (targets_.bar && targets_.bar->keyboard_mode()) {
      LeaveBarKeyboardMode();
    } else {
      StartBarKeyboardMode();
    }
    return true;
  }
  // Alt+F4, Alt+Space and the rest go on to the system.
  return false;
}

bool DialogKeys::OnSystemKeyUp(const MSG& message) {
  if (message.wParam == VK_F10) return true;
  if (message.wParam != VK_MENU) return false;
  if (alt_alone_) {
    alt_alone_ = false;
    StartBarKeyboardMode();
  } else if (!targets_.bar || !targets_.bar->keyboard_mode()) {
    ShowCues(false);
  }
  // Used here in every case: the system would otherwise enter its own menu mode.
  return true;
}

bool DialogKeys::OnAltLetter(char16_t key) {
  alt_alone_ = false;
  LeaveBarKeyboardMode();
  if (const HWND toolbar = targets_.list_toolbar) {
    const std::vector<Button> buttons = ButtonsOf(toolbar);
    std::vector<std::u16string_view> texts;
    for (const Button& button : buttons) {
      texts.emplace_back(reinterpret_cast<const char16_t*>(button.text.data()), button.text.size());
    }
    const int hot = GetFocus() == toolbar ? HotButton(toolbar) : -1;
    const ToolbarMnemonic match = MatchToolbarMnemonic(texts, UsableOf(buttons), key, hot);
    if (match.action == ToolbarMnemonic::Action::kRun) {
      PressButton(toolbar, match.index);
      return true;
    }
    if (match.action == ToolbarMnemonic::Action::kMoveHot) {
      // A shared letter never runs a command: it shows which one Enter would run.
      SetFocus(toolbar);
      SetHotButton(toolbar, match.index);
      return true;
    }
  }
  if (targets_.bar) {
    const int index = targets_.bar->MnemonicIndex(key);
    if (index >= 0) {
      targets_.bar->OpenPopupByKey(index);
      return true;
    }
  }
  return false;
}

bool DialogKeys::OnKeyDown(UINT virtual_key) {
  CWinCmdBar* bar = targets_.bar;
  if (bar && bar->keyboard_mode()) {
    // A letter opens the item it is the mnemonic of, as in a native menu bar.
    const auto character = static_cast<char16_t>(MapVirtualKeyW(virtual_key, MAPVK_VK_TO_CHAR));
    const int index = character ? bar->MnemonicIndex(character) : -1;
    if (index >= 0) {
      LeaveBarKeyboardMode();
      bar->OpenPopupByKey(index);
      return true;
    }
    const bool used = bar->OnKeyboardModeKey(virtual_key);
    if (!bar->keyboard_mode()) ShowCues(false);
    return used;
  }
  if (targets_.list_keys && targets_.list_keys(virtual_key)) return true;
  if (const HWND toolbar = FocusedToolbar()) return OnToolbarKey(toolbar, virtual_key);
  return false;
}

bool DialogKeys::OnToolbarKey(HWND toolbar, UINT virtual_key) {
  const std::vector<bool> usable = UsableOf(ButtonsOf(toolbar));
  const int hot = HotButton(toolbar);
  switch (virtual_key) {
    case VK_LEFT:
    case VK_UP:
      SetHotButton(toolbar, NextUsableButton(usable, hot, -1));
      return true;
    case VK_RIGHT:
    case VK_DOWN:
      SetHotButton(toolbar, NextUsableButton(usable, hot, 1));
      return true;
    case VK_HOME:
      SetHotButton(toolbar, NextUsableButton(usable, -1, 1));
      return true;
    case VK_END:
      SetHotButton(toolbar, NextUsableButton(usable, -1, -1));
      return true;
    case VK_RETURN:
    case VK_SPACE:
      if (hot >= 0 && hot < static_cast<int>(usable.size()) && usable[hot]) {
        PressButton(toolbar, hot);
      }
      return true;
    default:
      return false;
  }
}

void DialogKeys::PressButton(HWND toolbar, int index) {
  const std::vector<Button> buttons = ButtonsOf(toolbar);
  if (index < 0 || index >= static_cast<int>(buttons.size()) || !buttons[index].usable) return;
  // What a click on the button sends, posted so that the command runs from the dialog's loop
  // and not from inside this filter.
  PostMessageW(targets_.dialog, WM_COMMAND, MAKEWPARAM(buttons[index].command, BN_CLICKED),
               reinterpret_cast<LPARAM>(toolbar));
}

void DialogKeys::StartBarKeyboardMode() {
  if (targets_.bar && targets_.bar->EnterKeyboardMode()) {
    ShowCues(true);
  } else {
    ShowCues(false);
  }
}

void DialogKeys::LeaveBarKeyboardMode() {
  if (!targets_.bar || !targets_.bar->keyboard_mode()) return;
  targets_.bar->LeaveKeyboardMode();
  ShowCues(false);
}

void DialogKeys::ShowCues(bool show) {
  if (!show && KeyboardCuesAlwaysShown()) return;
  const WPARAM change = MAKEWPARAM(show ? UIS_CLEAR : UIS_SET, UISF_HIDEACCEL);
  // Where the system keeps the state, the dialog's WM_UPDATEUISTATE follows at once; where it
  // does not, the state is applied here all the same.
  SendMessageW(targets_.dialog, WM_CHANGEUISTATE, change, 0);
  OnUpdateUiState(change);
}

void DialogKeys::OnUpdateUiState(WPARAM wparam) {
  if (!(HIWORD(wparam) & UISF_HIDEACCEL)) return;
  switch (LOWORD(wparam)) {
    case UIS_SET:
      cues_hidden_ = !KeyboardCuesAlwaysShown();
      break;
    case UIS_CLEAR:
      cues_hidden_ = false;
      break;
    case UIS_INITIALIZE:
      cues_hidden_ = !KeyboardCuesAlwaysShown() && !alt_alone_;
      break;
    default:
      return;
  }
  ApplyCues();
}

void DialogKeys::ApplyCues() {
  const UINT flags = cues_hidden_ ? DT_HIDEPREFIX : 0;
  std::vector<HWND> toolbars = targets_.toolbars;
  if (targets_.bar && targets_.bar->toolbar()) toolbars.push_back(targets_.bar->toolbar());
  for (HWND toolbar : toolbars) {
    if (!toolbar) continue;
    SendMessageW(toolbar, TB_SETDRAWTEXTFLAGS, DT_HIDEPREFIX, flags);
    InvalidateRect(toolbar, nullptr, TRUE);
  }
}

HWND DialogKeys::FocusedToolbar() const {
  const HWND focus = GetFocus();
  const auto& toolbars = targets_.toolbars;
  return focus && std::find(toolbars.begin(), toolbars.end(), focus) != toolbars.end() ? focus
                                                                                       : nullptr;
}

}  // namespace nulvane::app
