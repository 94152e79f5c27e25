// Whether a window rectangle remembered from an earlier start may be used again: arithmetic on
// rectangles and DPIs, no window involved, so the rule is tested natively. The window applies the
// answer with SetWindowPlacement (window_placement.*).
#pragma once

#include <optional>
#include <vector>

#include "app/main_layout.h"

namespace nulvane::app {

// What the window stored when it closed: its normal rectangle in workspace coordinates (as
// GetWindowPlacement gives it) and the DPI the window had then.
struct RememberedPlacement {
  Rect normal;
  int dpi = 0;
  bool maximized = false;
};

// One monitor as the system describes it today: its whole area and its work area (without the
// taskbar and docked bars) in screen coordinates, and its DPI.
struct MonitorArea {
  Rect monitor;
  Rect work;
  int dpi = kBaseDpi;
};

// The smallest window the dialog allows, in pixels at `dpi`.
struct MinimumWindow {
  int width = 0;
  int height = 0;
  int dpi = kBaseDpi;
};

// The rectangle to restore, in workspace coordinates, or nothing (the window then opens centred
// as on a first start). The remembered size is scaled from its DPI to each monitor's (the corner
// stays where it was: screen positions do not depend on the DPI); the monitor whose work area
// the scaled rectangle then overlaps most is taken when that overlap is at least a third of the
// rectangle, the rectangle is no smaller than the minimum window at that monitor's DPI and no
// larger than the monitor. Workspace coordinates are converted with each monitor's offset of its
// work area. Anything that cannot be a rectangle (no DPI, no size, figures beyond any screen)
// gives nothing.
std::optional<Rect> AcceptedPlacement(const RememberedPlacement& remembered,
                                      const std::vector<MonitorArea>& monitors,
                                      const MinimumWindow& minimum);

}  // namespace nulvane::app
