#include "app/window_placement_rules.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace nulvane::app {
namespace {

// Remembered figures beyond this are no screen's: they come from an edited or damaged file.
constexpr std::int64_t kFarthest = 1 << 20;

std::int64_t Overlap(std::int64_t a_start, std::int64_t a_length, std::int64_t b_start,
                     std::int64_t b_length) {
  const std::int64_t start = std::max(a_start, b_start);
  const std::int64_t end = std::min(a_start + a_length, b_start + b_length);
  return std::max<std::int64_t>(0, end - start);
}

// `value` × `to` / `from`, rounded to the nearest (MulDiv's rule), in 64 bits.
std::int64_t Scale(std::int64_t value, int to, int from) {
  const std::int64_t product = value * to;
  return (product + (product >= 0 ? from / 2 : -from / 2)) / from;
}

}  // namespace

std::optional<Rect> AcceptedPlacement(const RememberedPlacement& remembered,
                                      const std::vector<MonitorArea>& monitors,
                                      const MinimumWindow& minimum) {
  const Rect& normal = remembered.normal;
  if (remembered.dpi <= 0 || remembered.dpi > 10 * kBaseDpi || minimum.dpi <= 0) return {};
  if (normal.width <= 0 || normal.height <= 0 || normal.width > kFarthest ||
      normal.height > kFarthest || std::abs(std::int64_t{normal.x}) > kFarthest ||
      std::abs(std::int64_t{normal.y}) > kFarthest) {
    return {};
  }
  std::optional<Rect> best;
  std::int64_t best_overlap = 0;
  for (const MonitorArea& area : monitors) {
    if (area.dpi <= 0) continue;
    const std::int64_t width = Scale(normal.width, area.dpi, remembered.dpi);
    const std::int64_t height = Scale(normal.height, area.dpi, remembered.dpi);
    if (width < Scale(minimum.width, area.dpi, minimum.dpi) ||
        height < Scale(minimum.height, area.dpi, minimum.dpi)) {
      continue;
    }
    if (width > area.monitor.width || height > area.monitor.height) continue;
    // Workspace coordinates are relative to the work area: on screen the corner lies further by
    // the work area's offset within the monitor (a taskbar on the left or at the top).
    const std::int64_t left = std::int64_t{normal.x} + area.work.x - area.monitor.x;
    const std::int64_t top = std::int64_t{normal.y} + area.work.y - area.monitor.y;
    const std::int64_t overlap = Overlap(left, width, area.work.x, area.work.width) *
                                 Overlap(top, height, area.work.y, area.work.height);
    if (overlap * 3 < width * height || overlap <= best_overlap) continue;
    best_overlap = overlap;
    best = Rect{normal.x, normal.y, static_cast<int>(width), static_cast<int>(height)};
  }
  return best;
}

}  // namespace nulvane::app
