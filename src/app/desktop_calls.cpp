#include "app/desktop_calls.h"

namespace nulvane::app {
namespace {

class SystemCalls final : public DesktopCalls {
 public:
  bool AllowMessageFromLowerIntegrity(HWND window, UINT message) override {
    // Looked up, so that a system without it (before Windows 7) still starts the program.
    using ChangeFilter = BOOL(WINAPI*)(HWND, UINT, DWORD, CHANGEFILTERSTRUCT*);
    static const auto change_filter = reinterpret_cast<ChangeFilter>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"user32.dll"), "ChangeWindowMessageFilterEx")));
    CHANGEFILTERSTRUCT status{};
    status.cbSize = sizeof status;
    return change_filter && change_filter(window, message, MSGFLT_ALLOW, &status) != FALSE;
  }

  bool SetDialogDpiChangeBehavior(HWND dialog, DWORD mask, DWORD values) override {
    using SetBehavior = BOOL(WINAPI*)(HWND, DWORD, DWORD);
    static const auto set_behavior = reinterpret_cast<SetBehavior>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"user32.dll"), "SetDialogDpiChangeBehavior")));
    return set_behavior && set_behavior(dialog, mask, values) != FALSE;
  }
};

DesktopCalls* g_calls = nullptr;

}  // namespace

DesktopCalls& SystemDesktopCalls() {
  static SystemCalls system_calls;
  return system_calls;
}

DesktopCalls& CurrentDesktopCalls() { return g_calls ? *g_calls : SystemDesktopCalls(); }

void UseDesktopCalls(DesktopCalls* calls) { g_calls = calls; }

bool AcceptDropsFromLowerIntegrity(HWND window) {
  DesktopCalls& calls = CurrentDesktopCalls();
  const bool drop = calls.AllowMessageFromLowerIntegrity(window, WM_DROPFILES);
  const bool data = calls.AllowMessageFromLowerIntegrity(window, kCopyGlobalDataMessage);
  return drop && data;
}

}  // namespace nulvane::app
