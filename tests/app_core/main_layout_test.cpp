#include "app/main_layout.h"

#include <gtest/gtest.h>

#include "app/label_text.h"

namespace nulvane::app {
namespace {

// The template's places at 96 DPI with the dialog font: the item list at 11, 137, the message
// list's left edge 11.
LayoutInput At96(int width, int height) {
  LayoutInput in;
  in.client_width = width;
  in.client_height = height;
  in.item_list_left = 11;
  in.item_list_top = 137;
  in.message_list_left = 11;
  in.corner_first_left = 0;
  in.corner_second_right = 150;
  return in;
}

TEST(MainLayout, PlacesEveryStripForTwoClientSizes) {
  for (const auto& [width, height] : {std::pair{600, 420}, std::pair{1000, 700}}) {
    SCOPED_TRACE(width);
    const auto layout = LayoutMainWindow(At96(width, height));
    ASSERT_TRUE(layout);
    EXPECT_EQ(layout->top_strip, (Rect{0, 0, width, 24}));
    EXPECT_EQ(layout->status_bar, (Rect{0, height - 24, width, 24}));
    EXPECT_EQ(layout->link_button, (Rect{width - 191, 3, 167, 24}));
    EXPECT_EQ(layout->list_toolbar, (Rect{11, 137 - 24, width, 24}));
    EXPECT_EQ(layout->item_list, (Rect{11, 137, width - 22, height - 137 - 130}));
    EXPECT_EQ(layout->message_list, (Rect{11, height - 126, width - 22, 100}));
    EXPECT_EQ(layout->corner_toolbar, (Rect{width - 150, 0, width, 24}));
  }
}

TEST(MainLayout, TheMinimumClientHoldsTheWidestRowAndThreeItemRows) {
  MinimumInput in;
  in.item_list_left = 11;
  in.item_list_top = 137;
  in.list_buttons_right = 420;
  in.menu_bar_width = 60;
  in.corner_buttons_width = 150;
  in.item_list_height = 20 + 3 * 18 + 4;
  // The list toolbar is the widest row; below the item list the message list and status bar.
  EXPECT_EQ(MinimumClientSize(in), (ClientSize{431, 137 + 78 + 130}));
  // A long translation in the corner toolbar makes the top strip the widest.
  in.corner_buttons_width = 400;
  EXPECT_EQ(MinimumClientSize(in).width, 60 + 8 + 400);
  // At 144 DPI the fixed figures scale; the measured ones come scaled already.
  in.dpi = 144;
  EXPECT_EQ(MinimumClientSize(in), (ClientSize{60 + 12 + 400, 137 + 78 + 195}));
  // The link button keeps its place in the status bar however short the rows are.
  EXPECT_EQ(MinimumClientSize(MinimumInput{}).width, 191);
  // At the minimum the layout's rules give the item list exactly its height and the message
  // list its place below it.
  LayoutInput at = At96(431, 345);
  const auto layout = LayoutMainWindow(at);
  ASSERT_TRUE(layout);
  EXPECT_EQ(layout->item_list->height, 78);
  EXPECT_GT(layout->message_list->y, layout->item_list->y + layout->item_list->height);
}

TEST(MainLayout, NarrowerThanTheCornerToolbarGoesToNegativeXAndNothingIsClamped) {
  LayoutInput in = At96(100, 200);
  in.corner_first_left = 2;
  in.corner_second_right = 182;
  const auto layout = LayoutMainWindow(in);
  ASSERT_TRUE(layout);
  EXPECT_EQ(layout->corner_toolbar->x, -80);
  EXPECT_EQ(layout->item_list->height, 200 - 137 - 130);
  EXPECT_EQ(layout->link_button->x, -91);
}

TEST(MainLayout, SkipsTheStepsOfMissingControls) {
  LayoutInput in = At96(600, 420);
  in.has_top_strip = false;
  EXPECT_FALSE(LayoutMainWindow(in));

  in = At96(600, 420);
  in.has_status_bar = false;
  in.has_corner_toolbar = false;
  auto layout = LayoutMainWindow(in);
  ASSERT_TRUE(layout);
  EXPECT_FALSE(layout->status_bar);
  EXPECT_FALSE(layout->link_button);
  EXPECT_FALSE(layout->corner_toolbar);
  EXPECT_TRUE(layout->item_list);

  in = At96(600, 420);
  in.has_list_toolbar = false;
  layout = LayoutMainWindow(in);
  EXPECT_FALSE(layout->list_toolbar);
  EXPECT_FALSE(layout->item_list);
  EXPECT_FALSE(layout->message_list);
  EXPECT_TRUE(layout->status_bar);
}

TEST(MainLayout, ScalesEveryFixedFigureAt144Dpi) {
  LayoutInput in = At96(900, 630);
  in.dpi = 144;
  in.item_list_left = 16;
  in.item_list_top = 206;
  in.message_list_left = 16;
  const auto layout = LayoutMainWindow(in);
  ASSERT_TRUE(layout);
  EXPECT_EQ(layout->top_strip, (Rect{0, 0, 900, 36}));
  EXPECT_EQ(layout->status_bar, (Rect{0, 630 - 36, 900, 36}));
  EXPECT_EQ(layout->link_button, (Rect{900 - 287, 5, 251, 36}));
  EXPECT_EQ(layout->list_toolbar, (Rect{16, 206 - 36, 900, 36}));
  EXPECT_EQ(layout->item_list, (Rect{16, 206, 900 - 32, 630 - 206 - 195}));
  EXPECT_EQ(layout->message_list, (Rect{16, 630 - 189, 900 - 32, 150}));
}

TEST(MainLayout, ScaleForDpiIsExactAt96AndRoundsHalvesAway) {
  EXPECT_EQ(ScaleForDpi(191, 96), 191);
  EXPECT_EQ(ScaleForDpi(3, 144), 5);      // 4.5
  EXPECT_EQ(ScaleForDpi(167, 144), 251);  // 250.5
  EXPECT_EQ(ScaleForDpi(-3, 144), -5);
  EXPECT_EQ(ScaleForDpi(24, 120), 30);
}

TEST(LabelText, CornerLabelWrapsTheText) {
  EXPECT_EQ(CornerLabel(u"Exit"), u"\u00BB\u00BB Exit \u00AB\u00AB");
}

}  // namespace
}  // namespace nulvane::app
