#include "app/dpi_resources.h"

#include <commctrl.h>

#include "app/main_layout.h"

namespace nulvane::app {
namespace {

template <typename Function>
Function UserCall(const char* name) {
  return reinterpret_cast<Function>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), name)));
}

using ParametersForDpi = BOOL(WINAPI*)(UINT, UINT, PVOID, UINT, UINT);

}  // namespace

int SystemDpi() {
  HDC screen = GetDC(nullptr);
  const int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : kBaseDpi;
  if (screen) ReleaseDC(nullptr, screen);
  return dpi > 0 ? dpi : kBaseDpi;
}

int WindowDpi(HWND window) {
  using DpiForWindow = UINT(WINAPI*)(HWND);
  static const auto dpi_for_window = UserCall<DpiForWindow>("GetDpiForWindow");
  if (dpi_for_window && window) {
    if (const UINT dpi = dpi_for_window(window)) return static_cast<int>(dpi);
  }
  return SystemDpi();
}

int SystemMetricForDpi(int index, int dpi) {
  using MetricsForDpi = int(WINAPI*)(int, UINT);
  static const auto metrics_for_dpi = UserCall<MetricsForDpi>("GetSystemMetricsForDpi");
  if (dpi <= 0) dpi = SystemDpi();
  if (metrics_for_dpi) return metrics_for_dpi(index, static_cast<UINT>(dpi));
  return MulDiv(GetSystemMetrics(index), dpi, SystemDpi());
}

LOGFONTW FontForDpi(LOGFONTW font, int dpi) {
  if (dpi > 0) font.lfHeight = MulDiv(font.lfHeight, dpi, SystemDpi());
  return font;
}

LOGFONTW IconTitleFontForDpi(int dpi) {
  static const auto for_dpi = UserCall<ParametersForDpi>("SystemParametersInfoForDpi");
  LOGFONTW font{};
  if (for_dpi && for_dpi(SPI_GETICONTITLELOGFONT, sizeof font, &font, 0, static_cast<UINT>(dpi))) {
    return font;
  }
  if (!SystemParametersInfoW(SPI_GETICONTITLELOGFONT, sizeof font, &font, 0)) {
    GetObjectW(GetStockObject(DEFAULT_GUI_FONT), sizeof font, &font);
  }
  return FontForDpi(font, dpi);
}

LOGFONTW StatusFontForDpi(int dpi) {
  static const auto for_dpi = UserCall<ParametersForDpi>("SystemParametersInfoForDpi");
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  if (for_dpi &&
      for_dpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, static_cast<UINT>(dpi))) {
    return metrics.lfStatusFont;
  }
  if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) {
    return FontForDpi(metrics.lfStatusFont, dpi);
  }
  LOGFONTW font{};
  GetObjectW(GetStockObject(DEFAULT_GUI_FONT), sizeof font, &font);
  return FontForDpi(font, dpi);
}

HICON LoadSizedIcon(HINSTANCE instance, const wchar_t* name, int size) {
  using LoadIconWithScaleDownFunction = HRESULT(WINAPI*)(HINSTANCE, PCWSTR, int, int, HICON*);
  static const auto load_scaled =
      reinterpret_cast<LoadIconWithScaleDownFunction>(reinterpret_cast<void*>(
          GetProcAddress(GetModuleHandleW(L"comctl32.dll"), "LoadIconWithScaleDown")));
  HICON icon = nullptr;
  if (load_scaled && SUCCEEDED(load_scaled(instance, name, size, size, &icon)) && icon) {
    return icon;
  }
  return static_cast<HICON>(
      LoadImageW(instance, name, IMAGE_ICON, size, size, instance ? 0 : LR_SHARED));
}

}  // namespace nulvane::app
