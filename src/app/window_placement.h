// The main window remembers where it was: its normal rectangle, the DPI it had and whether it
// was maximised are stored in the settings when it closes, and used at the next start when
// AcceptedPlacement (window_placement_rules.*) takes them for the monitors of today.
#pragma once

#include <windows.h>

#include <vector>

#include "app/window_placement_rules.h"

namespace nulvane::app {

// The monitors of the desktop now, each with its DPI (GetDpiForMonitor where the system has it,
// Windows 8.1 and later; else the system DPI).
std::vector<MonitorArea> DesktopMonitors();

// Closing: stores `window`'s placement, taken at `dpi`. A settings file that cannot be written
// keeps what it held (its failure was named when the window wrote its first setting).
void StoreWindowPlacement(HWND window, int dpi);

// Start-up, before the window is shown: places `window` as stored when the rule accepts it, and
// maximises it when it was maximised. Returns false, leaving the window centred, otherwise.
bool RestoreWindowPlacement(HWND window, const MinimumWindow& minimum);

}  // namespace nulvane::app
