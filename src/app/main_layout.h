// The main window's layout as arithmetic on sizes: where each strip and list goes for a client
// size, at a given DPI. No window is involved, so the rules are tested natively; the dialog
// applies the result to its controls.
#pragma once

#include <optional>

#include "app/menu_bar_rules.h"  // ScaleForDpi: one rounding rule for every size of the window

namespace nulvane::app {

// The DPI at which every figure of the layout is given.
inline constexpr int kBaseDpi = 96;

struct Rect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  friend bool operator==(const Rect&, const Rect&) = default;
};

// The fixed figures of the layout at 96 DPI.
struct LayoutMetrics {
  static constexpr int kStripHeight = 24;         // top strip, list toolbar, status bar
  static constexpr int kMessageListHeight = 100;  // the message list
  static constexpr int kItemListBottomGap = 130;  // from the item list's bottom to the client's
  static constexpr int kMessageListTopGap = 126;  // from the message list's top to the client's
  static constexpr int kLinkFromRight = 191;      // the link button's x, from the right edge
  static constexpr int kLinkTop = 3;
  static constexpr int kLinkWidth = 167;
  static constexpr int kLinkHeight = 24;
  static constexpr int kToolbarGap = 8;  // between the menu bar and the corner toolbar
};

// What the layout needs to know besides the client size. The controls that may be missing
// (a control that could not be created is simply absent) are flags.
struct LayoutInput {
  int client_width = 0;
  int client_height = 0;
  int dpi = kBaseDpi;
  // The item list view's left and top edge as the dialog template placed them, in client
  // pixels; the message list's left edge likewise.
  int item_list_left = 0;
  int item_list_top = 0;
  int message_list_left = 0;
  bool has_top_strip = true;
  bool has_status_bar = true;
  bool has_list_toolbar = true;
  // The corner toolbar, with the left edge of its first button and the right edge of its second.
  bool has_corner_toolbar = true;
  int corner_first_left = 0;
  int corner_second_right = 0;
};

// Where each control goes, in client pixels of its parent (the link button in the status bar's,
// the corner toolbar in the top strip's). A control that is missing, or whose step is skipped,
// has no rectangle.
struct MainLayout {
  Rect top_strip;
  std::optional<Rect> status_bar;
  std::optional<Rect> link_button;
  std::optional<Rect> list_toolbar;
  std::optional<Rect> item_list;
  std::optional<Rect> message_list;
  std::optional<Rect> corner_toolbar;
};

// The layout for `input`; nothing at all while the top strip does not exist. Nothing is
// clamped here: a client narrower than the corner toolbar's buttons gives that toolbar a
// negative x, and a low client gives the item list a negative height. The window's minimum
// size (below) keeps its client out of those sizes.
std::optional<MainLayout> LayoutMainWindow(const LayoutInput& input);

// What the smallest client must hold, in client pixels at `dpi` (measured on the controls).
struct MinimumInput {
  int dpi = kBaseDpi;
  int item_list_left = 0;  // as in LayoutInput
  int item_list_top = 0;
  // The right edge of the list toolbar's last button, in the toolbar's coordinates.
  int list_buttons_right = 0;
  // The menu bar's width and the corner toolbar's buttons (r1.right - r0.left).
  int menu_bar_width = 0;
  int corner_buttons_width = 0;
  // The item list's height for the rows it must show: its header, the rows, its frame.
  int item_list_height = 0;
};
struct ClientSize {
  int width = 0;
  int height = 0;
  friend bool operator==(const ClientSize&, const ClientSize&) = default;
};
// The smallest client in which both toolbars, the item list (at `item_list_height`), the
// message list and the status bar are visible and apart: the list toolbar's buttons, the menu
// bar and the corner toolbar side by side with a gap, the status bar's link button inside it.
ClientSize MinimumClientSize(const MinimumInput& input);

// The rows the item list keeps at the minimum size.
inline constexpr int kMinimumItemRows = 3;

}  // namespace nulvane::app
