#include "app/window_placement.h"

#include "app/dpi_resources.h"
#include "settings/settings.h"

namespace nulvane::app {
namespace {

Rect FromRect(const RECT& rect) {
  return Rect{rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top};
}

int MonitorDpi(HMONITOR monitor) {
  // GetDpiForMonitor (shcore.dll, Windows 8.1): MDT_EFFECTIVE_DPI = 0.
  using DpiForMonitor = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);
  static const auto dpi_for_monitor = [] {
    const HMODULE shcore = LoadLibraryW(L"shcore.dll");
    return shcore ? reinterpret_cast<DpiForMonitor>(
                        reinterpret_cast<void*>(GetProcAddress(shcore, "GetDpiForMonitor")))
                  : nullptr;
  }();
  UINT x = 0;
  UINT y = 0;
  if (dpi_for_monitor && SUCCEEDED(dpi_for_monitor(monitor, 0, &x, &y)) && x > 0) {
    return static_cast<int>(x);
  }
  return SystemDpi();
}

}  // namespace

std::vector<MonitorArea> DesktopMonitors() {
  std::vector<MonitorArea> monitors;
  EnumDisplayMonitors(
      nullptr, nullptr,
      [](HMONITOR monitor, HDC, LPRECT, LPARAM data) -> BOOL {
        MONITORINFO info{};
        info.cbSize = sizeof info;
        if (GetMonitorInfoW(monitor, &info)) {
          reinterpret_cast<std::vector<MonitorArea>*>(data)->push_back(
              MonitorArea{FromRect(info.rcMonitor), FromRect(info.rcWork), MonitorDpi(monitor)});
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&monitors));
  return monitors;
}

void StoreWindowPlacement(HWND window, int dpi) {
  WINDOWPLACEMENT placement{};
  placement.length = sizeof placement;
  if (!window || !GetWindowPlacement(window, &placement)) return;
  const Rect normal = FromRect(placement.rcNormalPosition);
  // Minimised, it opens again as it was before: maximised when it restores to maximised.
  const bool maximized =
      placement.showCmd == SW_SHOWMAXIMIZED ||
      (placement.showCmd == SW_SHOWMINIMIZED && (placement.flags & WPF_RESTORETOMAXIMIZED));
  settings::PutProgramInt(settings::kWindowXKey, normal.x);
  settings::PutProgramInt(settings::kWindowYKey, normal.y);
  settings::PutProgramInt(settings::kWindowWidthKey, normal.width);
  settings::PutProgramInt(settings::kWindowHeightKey, normal.height);
  settings::PutProgramInt(settings::kWindowDpiKey, dpi);
  settings::PutProgramInt(settings::kWindowMaximizedKey, maximized ? 1 : 0);
}

bool RestoreWindowPlacement(HWND window, const MinimumWindow& minimum) {
  RememberedPlacement remembered;
  // Without a DPI nothing was stored (or the file was edited): the rule refuses it.
  remembered.dpi = settings::GetProgramInt(settings::kWindowDpiKey, 0);
  if (remembered.dpi == 0) return false;
  remembered.normal.x = settings::GetProgramInt(settings::kWindowXKey, 0);
  remembered.normal.y = settings::GetProgramInt(settings::kWindowYKey, 0);
  remembered.normal.width = settings::GetProgramInt(settings::kWindowWidthKey, 0);
  remembered.normal.height = settings::GetProgramInt(settings::kWindowHeightKey, 0);
  remembered.maximized = settings::GetProgramInt(settings::kWindowMaximizedKey, 0) == 1;
  const std::optional<Rect> accepted = AcceptedPlacement(remembered, DesktopMonitors(), minimum);
  if (!accepted) return false;

  WINDOWPLACEMENT placement{};
  placement.length = sizeof placement;
  GetWindowPlacement(window, &placement);
  placement.flags = 0;
  // Hidden still, a normal window keeps hidden: the dialog manager shows it where it now is.
  placement.showCmd = remembered.maximized ? SW_SHOWMAXIMIZED : SW_HIDE;
  placement.rcNormalPosition =
      RECT{accepted->x, accepted->y, accepted->x + accepted->width, accepted->y + accepted->height};
  const RECT wanted = placement.rcNormalPosition;
  SetWindowPlacement(window, &placement);
  // Landing on a monitor of another DPI, the window took the size that WM_DPICHANGED suggested
  // for its old one: placed once more, it keeps the rectangle meant for the new monitor.
  WINDOWPLACEMENT now{};
  now.length = sizeof now;
  if (GetWindowPlacement(window, &now) && !EqualRect(&now.rcNormalPosition, &wanted)) {
    SetWindowPlacement(window, &placement);
  }
  return true;
}

}  // namespace nulvane::app
