// The countdown before an after-run shut-down or standby, and the step that shows it and then
// starts the action through the launcher.
#pragma once

#include <windows.h>

#include <functional>

#include "app/countdown_text.h"

namespace nulvane::app {

// The countdown dialog (template 152): ten seconds, one a second, to cancel. Ends with 1 when
// OK is chosen or the countdown reaches 0, with 0 on Cancel, Esc or the close box.
class PcShutDownDlg {
 public:
  PcShutDownDlg(HWND owner, CountdownTexts texts);
  virtual ~PcShutDownDlg();
  PcShutDownDlg(const PcShutDownDlg&) = delete;
  PcShutDownDlg& operator=(const PcShutDownDlg&) = delete;

  // Runs the dialog modally on the calling thread, owned by the owner; returns its result.
  INT_PTR Run();

 private:
  static INT_PTR CALLBACK DialogProc(HWND, UINT, WPARAM, LPARAM);
  INT_PTR OnMessage(UINT message, WPARAM wparam, LPARAM lparam);
  void OnInitDialog();
  void WriteLabel();

  int countdown_ = kCountdownSeconds;
  HWND owner_;
  HWND dialog_ = nullptr;
  CountdownTexts texts_;
  HFONT button_font_ = nullptr;
  HFONT label_font_ = nullptr;
};

// Receives an error line for the user (the window adds it to its message list).
using ErrorLineSink = std::function<void(TextView line)>;

// Shows the countdown for after-run action `action` (2 standby, 3 standby and end, any other
// code shut-down), owned by `main_dialog`, on the calling thread; returns once it has closed and
// the action has been started. A cancelled countdown does nothing. After a shut-down or in mode
// 3, command 2 is sent to `main_dialog`, which then ends the program; the action comes first.
// Standby is honest: when the PC has no sleep state a program can start, no countdown is shown,
// and when the system refuses the standby, the program stays open; either way `report` gets an
// error line saying so.
void StartAfterRunAction(HWND main_dialog, int action, const ErrorLineSink& report);

}  // namespace nulvane::app
