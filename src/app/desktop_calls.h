// The window calls whose effect only a real Windows shows: the message filter that lets an
// elevated window receive drops from Explorer (User Interface Privilege Isolation), and the
// dialog manager's own scaling of per-monitor-v2 dialogs on a DPI change (Windows 10 1703 and
// later). Wine accepts the first and reads nothing back, and lacks the second. They go through
// one replaceable object, so that a test can record them and play the documented system.
#pragma once

#include <windows.h>

namespace nulvane::app {

// The messages the shell's drag and drop sends to a window that accepts files: WM_DROPFILES
// and the one that carries the drop's data across the privilege boundary.
inline constexpr UINT kCopyGlobalDataMessage = 0x0049;  // WM_COPYGLOBALDATA

// DIALOG_DPI_CHANGE_BEHAVIORS (Windows 10 1703; not in the headers for Windows 7).
inline constexpr DWORD kDialogDpiDisableAll = 0x0001;       // DDC_DISABLE_ALL
inline constexpr DWORD kDialogDpiDisableRelayout = 0x0004;  // DDC_DISABLE_CONTROL_RELAYOUT

class DesktopCalls {
 public:
  virtual ~DesktopCalls() = default;
  // ChangeWindowMessageFilterEx(window, message, MSGFLT_ALLOW): `message` may reach `window`
  // from a program of lower integrity. True when the system accepted it.
  virtual bool AllowMessageFromLowerIntegrity(HWND window, UINT message) = 0;
  // SetDialogDpiChangeBehavior(dialog, mask, values) where the system has it; false where it
  // does not (before Windows 10 1703, where no dialog scales itself).
  virtual bool SetDialogDpiChangeBehavior(HWND dialog, DWORD mask, DWORD values) = 0;
};

// The system's calls, whatever is in use.
DesktopCalls& SystemDesktopCalls();
// The calls in use: the system's unless a test has put its own in place.
DesktopCalls& CurrentDesktopCalls();
// Makes `calls` the ones in use (null: the system's again). The caller keeps them alive.
void UseDesktopCalls(DesktopCalls* calls);

// Lets the shell's drops reach `window` when the program runs elevated and Explorer does not:
// WM_DROPFILES and WM_COPYGLOBALDATA, and nothing else. True when both were accepted.
bool AcceptDropsFromLowerIntegrity(HWND window);

}  // namespace nulvane::app
