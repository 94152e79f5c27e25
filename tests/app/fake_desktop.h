// The desktop as Windows 10 1703 and later runs it for a per-monitor-v2 program, where Wine
// differs: the message filter's calls are recorded (Wine accepts them and reads nothing back),
// and a DPI change comes as Windows sends it, followed by what the dialog manager then does
// unless the dialog turned it off with SetDialogDpiChangeBehavior: it lays every immediate
// child of the dialog out again, scaled by the new DPI over the old (Wine has no such step).
#pragma once

#include <windows.h>

#include <map>
#include <vector>

#include "app/desktop_calls.h"

namespace nulvane::app::testing {

class FakeDesktop final : public DesktopCalls {
 public:
  FakeDesktop() { UseDesktopCalls(this); }
  ~FakeDesktop() override { UseDesktopCalls(nullptr); }
  FakeDesktop(const FakeDesktop&) = delete;
  FakeDesktop& operator=(const FakeDesktop&) = delete;

  struct FilterCall {
    HWND window = nullptr;
    UINT message = 0;
    bool accepted = false;  // what the system (Wine) answered
  };

  bool AllowMessageFromLowerIntegrity(HWND window, UINT message) override {
    const bool accepted = SystemDesktopCalls().AllowMessageFromLowerIntegrity(window, message);
    filter_calls.push_back({window, message, accepted});
    return accepted;
  }

  bool SetDialogDpiChangeBehavior(HWND dialog, DWORD mask, DWORD values) override {
    DWORD& behaviour = behaviours_[dialog];
    behaviour = (behaviour & ~mask) | (values & mask);
    return true;
  }

  // Moves `dialog` from `old_dpi` to `new_dpi` as Windows does: WM_DPICHANGED with the DPI in
  // both words of wParam and the suggested window rectangle, then the dialog manager's step.
  void SendDpiChanged(HWND dialog, int old_dpi, int new_dpi, RECT suggested) {
    SendMessageW(dialog, WM_DPICHANGED, MAKEWPARAM(new_dpi, new_dpi),
                 reinterpret_cast<LPARAM>(&suggested));
    const DWORD behaviour = behaviours_[dialog];
    if (behaviour & (kDialogDpiDisableAll | kDialogDpiDisableRelayout)) return;
    std::vector<HWND> children;
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
      children.push_back(child);
    }
    for (HWND child : children) {
      RECT rect{};
      GetWindowRect(child, &rect);
      MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
      const auto scale = [&](LONG value) { return MulDiv(value, new_dpi, old_dpi); };
      SetWindowPos(child, nullptr, scale(rect.left), scale(rect.top), scale(rect.right - rect.left),
                   scale(rect.bottom - rect.top), SWP_NOZORDER | SWP_NOACTIVATE);
    }
  }

  std::vector<FilterCall> filter_calls;

 private:
  std::map<HWND, DWORD> behaviours_;
};

}  // namespace nulvane::app::testing
