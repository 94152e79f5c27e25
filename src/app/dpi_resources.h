// Sizes, fonts and icons for a given DPI. Every function takes the DPI it is to work for; the
// window passes the one that WM_DPICHANGED carries, never the DPI the system reports for a
// window afterwards (GetDpiForWindow stays at the start-up value on systems that do not move
// windows between monitors, and answers the old value until the message has been handled).
// The calls that newer systems have (GetSystemMetricsForDpi, SystemParametersInfoForDpi,
// LoadIconWithScaleDown) are looked up at run time, so the program still starts on Windows 7.
#pragma once

#include <windows.h>

namespace nulvane::app {

// The DPI that the system's own metrics, stock fonts and parameters are made for.
int SystemDpi();
// A window's DPI as the system reports it now: GetDpiForWindow where the system has it
// (Windows 10 1607 and later), else the system DPI. Used only when a window is created.
int WindowDpi(HWND window);

// System metric `index` at `dpi`: GetSystemMetricsForDpi where the system has it, else the
// system-DPI value scaled by dpi / SystemDpi().
int SystemMetricForDpi(int index, int dpi);

// A font description made for the system DPI (a stock font's, a system parameter's) at `dpi`.
LOGFONTW FontForDpi(LOGFONTW font, int dpi);
// The icon-title font (what toolbars take by default) and the status font (what status bars
// take) at `dpi`: SystemParametersInfoForDpi where the system has it, else scaled.
LOGFONTW IconTitleFontForDpi(int dpi);
LOGFONTW StatusFontForDpi(int dpi);

// An icon drawn for `size` × `size` pixels: LoadIconWithScaleDown where the common controls
// have it (version 6), LoadImageW otherwise (system icons, `instance` null, then come from their
// shared copy). The caller destroys it.
HICON LoadSizedIcon(HINSTANCE instance, const wchar_t* name, int size);

}  // namespace nulvane::app
