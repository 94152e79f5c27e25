// The main dialog's keyboard. The dialog is a modal dialog box with no accelerator table, its
// menu bar and its buttons are toolbars: nothing in the system gives them the keys a native
// menu bar and native buttons answer. DialogKeys does, with a WH_MSGFILTER hook for
// MSGF_DIALOGBOX on the dialog's thread, which sees every message of the dialog's loop before
// the dialog manager (IsDialogMessage) does:
//
// - F10, or Alt pressed and released alone: the menu bar's keyboard mode (CWinCmdBar); Alt and
//   the letter of a menu bar item opens that item's popup.
// - Alt and a letter: the list toolbar's button with that mnemonic runs; where several share
//   the letter, each press makes the next of them hot (and focuses the toolbar) and Enter runs
//   the hot one. The menu bar's items come after the list toolbar's buttons.
// - The toolbars are tab stops (the top strip and the status bar are control parents, so Tab
//   reaches the corner toolbar and the link button inside them); in a focused toolbar the arrow
//   keys, Home and End move the hot button and Enter or Space presses it.
// - Mnemonic underlines are shown while Alt is held and during the menu bar's keyboard mode,
//   hidden otherwise unless the system asks for them always (SPI_GETKEYBOARDCUES). The change
//   goes to the dialog's UI state (WM_CHANGEUISTATE), and every toolbar draws as the state says
//   (WM_UPDATEUISTATE). The state is also kept here: not every system keeps it for a window
//   (Wine answers WM_QUERYUISTATE with 0 and sends no WM_UPDATEUISTATE).
//
// One instance at a time (the hook reaches it through a program-wide pointer). User-interface
// thread only.
#pragma once

#include <windows.h>

#include <functional>
#include <vector>

#include "app/menu_bar.h"

namespace nulvane::app {

struct DialogKeyTargets {
  HWND dialog = nullptr;
  CWinCmdBar* bar = nullptr;
  // The toolbar whose buttons answer Alt and a letter.
  HWND list_toolbar = nullptr;
  // Every toolbar that Tab reaches, the list toolbar included.
  std::vector<HWND> toolbars;
  // The dialog's children in the order Tab visits them (a control parent stands for the
  // controls inside it).
  std::vector<HWND> tab_order;
  // The lists' keys (Del, Insert, Ctrl+O, the context-menu key, Shift+F10 ...): true when the
  // key was used. Asked outside the menu bar's keyboard mode and before a focused toolbar.
  std::function<bool(UINT virtual_key)> list_keys;
};

class DialogKeys {
 public:
  explicit DialogKeys(DialogKeyTargets targets);
  ~DialogKeys();
  DialogKeys(const DialogKeys&) = delete;
  DialogKeys& operator=(const DialogKeys&) = delete;

  // The hook's work: true when the message was used and goes no further.
  bool Filter(MSG& message);
  // The dialog's WM_UPDATEUISTATE: the toolbars show or hide their underlines as it says.
  void OnUpdateUiState(WPARAM wparam);
  bool cues_hidden() const { return cues_hidden_; }

 private:
  bool OnSystemKeyDown(const MSG& message);
  bool OnSystemKeyUp(const MSG& message);
  bool OnAltLetter(char16_t key);
  bool OnKeyDown(UINT virtual_key);
  // The arrow keys, Home, End, Enter and Space in a focused toolbar.
  bool OnToolbarKey(HWND toolbar, UINT virtual_key);
  void PressButton(HWND toolbar, int index);
  void StartBarKeyboardMode();
  void LeaveBarKeyboardMode();
  // Shows or hides the mnemonic underlines of the dialog (through its UI state) and makes every
  // toolbar draw as that state says.
  void ShowCues(bool show);
  void ApplyCues();
  HWND FocusedToolbar() const;

  DialogKeyTargets targets_;
  HHOOK hook_ = nullptr;
  // Alt is down and no other key or click came since it went down.
  bool alt_alone_ = false;
  // The dialog's UI state as far as the underlines go (UISF_HIDEACCEL).
  bool cues_hidden_ = false;
};

}  // namespace nulvane::app
