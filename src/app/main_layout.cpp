#include "app/main_layout.h"

#include <algorithm>

namespace nulvane::app {

std::optional<MainLayout> LayoutMainWindow(const LayoutInput& in) {
  if (!in.has_top_strip) return std::nullopt;
  using M = LayoutMetrics;
  const auto px = [&](int pixels) { return ScaleForDpi(pixels, in.dpi); };
  const int width = in.client_width;
  const int height = in.client_height;
  const int strip = px(M::kStripHeight);

  MainLayout out;
  out.top_strip = {0, 0, width, strip};
  if (in.has_status_bar) {
    out.link_button =
        Rect{width - px(M::kLinkFromRight), px(M::kLinkTop), px(M::kLinkWidth), px(M::kLinkHeight)};
    out.status_bar = Rect{0, height - strip, width, strip};
  }
  if (in.has_list_toolbar) {
    out.list_toolbar = Rect{in.item_list_left, in.item_list_top - strip, width, strip};
    out.item_list = Rect{in.item_list_left, in.item_list_top, width - 2 * in.item_list_left,
                         height - in.item_list_top - px(M::kItemListBottomGap)};
    out.message_list = Rect{in.message_list_left, height - px(M::kMessageListTopGap),
                            width - 2 * in.item_list_left, px(M::kMessageListHeight)};
  }
  if (in.has_corner_toolbar) {
    out.corner_toolbar =
        Rect{width - (in.corner_second_right - in.corner_first_left), 0, width, strip};
  }
  return out;
}

ClientSize MinimumClientSize(const MinimumInput& in) {
  using M = LayoutMetrics;
  const auto px = [&](int pixels) { return ScaleForDpi(pixels, in.dpi); };
  ClientSize size;
  // The list toolbar starts at the item list's left edge; the top strip holds the menu bar at
  // its left and the corner toolbar at its right; the link button stands inside the status bar.
  size.width = std::max({in.item_list_left + in.list_buttons_right,
                         in.menu_bar_width + px(M::kToolbarGap) + in.corner_buttons_width,
                         px(M::kLinkFromRight)});
  // Below the item list: the gap to the message list, the message list and the status bar.
  size.height = in.item_list_top + in.item_list_height + px(M::kItemListBottomGap);
  return size;
}

}  // namespace nulvane::app
