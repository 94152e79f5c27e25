#include "app/window_placement_rules.h"

#include <gtest/gtest.h>

namespace nulvane::app {
namespace {

// Two monitors side by side: a 1920 × 1080 primary at 96 DPI with its taskbar at the bottom, and
// a 2560 × 1440 one at 144 DPI to its right with its taskbar on the left (80 pixels wide).
const std::vector<MonitorArea> kDesk = {
    {Rect{0, 0, 1920, 1080}, Rect{0, 0, 1920, 1040}, 96},
    {Rect{1920, 0, 2560, 1440}, Rect{2000, 0, 2480, 1440}, 144},
};
const MinimumWindow kMinimum{400, 300, 96};

RememberedPlacement At(int x, int y, int width, int height, int dpi) {
  return RememberedPlacement{Rect{x, y, width, height}, dpi, false};
}

TEST(WindowPlacementRules, KeepsTheCornerAndScalesTheSizeToTheMonitorsDpi) {
  // Stored at 96 DPI on the primary: used as it is.
  EXPECT_EQ(AcceptedPlacement(At(100, 50, 800, 600, 96), kDesk, kMinimum),
            (Rect{100, 50, 800, 600}));
  // Stored at 192 DPI (the scaling was lowered since): half the size, the same corner.
  EXPECT_EQ(AcceptedPlacement(At(100, 50, 1600, 1200, 192), kDesk, kMinimum),
            (Rect{100, 50, 800, 600}));
  // On the second monitor (workspace x 1940 is screen x 2020, in its work area): 144 DPI there.
  EXPECT_EQ(AcceptedPlacement(At(1940, 100, 800, 600, 96), kDesk, kMinimum),
            (Rect{1940, 100, 1200, 900}));
}

TEST(WindowPlacementRules, NeedsAThirdOfTheWindowInsideAWorkArea) {
  // 800 × 600 with 300 of its width inside the primary's right edge: 37.5 %, kept.
  const std::vector<MonitorArea> one = {kDesk[0]};
  EXPECT_EQ(AcceptedPlacement(At(1620, 100, 800, 600, 96), one, kMinimum),
            (Rect{1620, 100, 800, 600}));
  // 250 of 800 inside (31 %): ignored.
  EXPECT_EQ(AcceptedPlacement(At(1670, 100, 800, 600, 96), one, kMinimum), std::nullopt);
  // Below the work area (behind the taskbar) counts as outside: 1040 - 850 = 190 of 600 rows.
  EXPECT_EQ(AcceptedPlacement(At(100, 850, 800, 600, 96), one, kMinimum), std::nullopt);
  // A monitor that was unplugged: far off every screen.
  EXPECT_EQ(AcceptedPlacement(At(-3000, 100, 800, 600, 96), kDesk, kMinimum), std::nullopt);
  EXPECT_EQ(AcceptedPlacement(At(100, 100, 800, 600, 96), {}, kMinimum), std::nullopt);
}

TEST(WindowPlacementRules, RefusesSizesBelowTheMinimumOrBeyondTheMonitor) {
  const std::vector<MonitorArea> one = {kDesk[0]};
  EXPECT_EQ(AcceptedPlacement(At(100, 50, 399, 600, 96), one, kMinimum), std::nullopt);
  EXPECT_EQ(AcceptedPlacement(At(100, 50, 800, 299, 96), one, kMinimum), std::nullopt);
  EXPECT_EQ(AcceptedPlacement(At(100, 50, 400, 300, 96), one, kMinimum), (Rect{100, 50, 400, 300}));
  // Large enough at 144 DPI but, scaled down to the monitor's 96 DPI, below the minimum.
  EXPECT_EQ(AcceptedPlacement(At(100, 50, 500, 600, 144), one, kMinimum), std::nullopt);
  // The minimum is given at another DPI: 300 pixels at 144 DPI are 200 at 96.
  EXPECT_EQ(AcceptedPlacement(At(100, 50, 300, 250, 96), one, MinimumWindow{300, 300, 144}),
            (Rect{100, 50, 300, 250}));
  // As large as the monitor is allowed, one pixel more is not; nor is a size that only the
  // scaling makes too large (1300 × 1.5 = 1950 > 1920).
  EXPECT_EQ(AcceptedPlacement(At(0, 0, 1920, 1080, 96), one, kMinimum), (Rect{0, 0, 1920, 1080}));
  EXPECT_EQ(AcceptedPlacement(At(0, 0, 1921, 1080, 96), one, kMinimum), std::nullopt);
  const std::vector<MonitorArea> scaled = {{Rect{0, 0, 1920, 1080}, Rect{0, 0, 1920, 1040}, 144}};
  EXPECT_EQ(AcceptedPlacement(At(0, 0, 1300, 600, 96), scaled, kMinimum), std::nullopt);
}

TEST(WindowPlacementRules, FiguresNoScreenHasAreIgnored) {
  for (const RememberedPlacement& bad :
       {At(100, 50, 800, 600, 0), At(100, 50, 800, 600, -96), At(100, 50, 0, 600, 96),
        At(100, 50, 800, -600, 96), At(2147483647, 50, 800, 600, 96),
        At(100, -2147483647 - 1, 800, 600, 96), At(100, 50, 2147483647, 2147483647, 96)}) {
    EXPECT_EQ(AcceptedPlacement(bad, kDesk, kMinimum), std::nullopt)
        << bad.normal.x << "," << bad.normal.y << " " << bad.normal.width << "x"
        << bad.normal.height << " @" << bad.dpi;
  }
}

}  // namespace
}  // namespace nulvane::app
