// The menu bar's window-free rules: index wrap, mnemonics, tab split, glyph and sizes.
#include "app/menu_bar_rules.h"

#include <gtest/gtest.h>

#include <string>

namespace nulvane::app {
namespace {

TEST(WrapIndex, OutOfRangeWrapsToTheOtherEnd) {
  EXPECT_EQ(WrapIndex(-1, 3), 2);
  EXPECT_EQ(WrapIndex(3, 3), 0);
  EXPECT_EQ(WrapIndex(1, 3), 1);
  // One item: both directions come back to it.
  EXPECT_EQ(WrapIndex(-1, 1), 0);
  EXPECT_EQ(WrapIndex(1, 1), 0);
  EXPECT_EQ(WrapIndex(5, 0), 0);
}

TEST(MnemonicOf, TakesTheLetterAfterASingleAmpersandFolded) {
  EXPECT_EQ(MnemonicOf(u"&File"), u'f');
  EXPECT_EQ(MnemonicOf(u"Save &As"), u'a');
  EXPECT_EQ(MnemonicOf(u"Fish && &Chips"), u'c');
  EXPECT_EQ(MnemonicOf(u"R&&D"), 0);
  EXPECT_EQ(MnemonicOf(u"Trailing&"), 0);
  EXPECT_EQ(MnemonicOf(u"&\u0414\u0430\u043B\u0435\u0435"), u'\u0434');  // Cyrillic De
  EXPECT_EQ(MnemonicOf(u"&\u00C9tat"), u'\u00E9');
}

TEST(MatchMnemonic, UniqueSeveralAndNone) {
  const std::vector<std::u16string_view> texts{u"&Open", u"&Save", u"Save &As", u"&Options"};
  const MnemonicMatch unique = MatchMnemonic(texts, u'A', -1);
  EXPECT_EQ(unique.count, 1);
  EXPECT_EQ(unique.index, 2);
  // Two items carry "o": the first after the highlighted one is chosen, wrapping round.
  EXPECT_EQ(MatchMnemonic(texts, u'o', -1).count, 2);
  EXPECT_EQ(MatchMnemonic(texts, u'o', -1).index, 0);
  EXPECT_EQ(MatchMnemonic(texts, u'o', 0).index, 3);
  EXPECT_EQ(MatchMnemonic(texts, u'o', 3).index, 0);
  const MnemonicMatch none = MatchMnemonic(texts, u'x', -1);
  EXPECT_EQ(none.count, 0);
  EXPECT_EQ(none.index, -1);
}

TEST(SplitAtTab, SplitsAtTheFirstTabOnly) {
  const TabSplit split = SplitAtTab(u"&Delete\tCtrl+D\tx");
  EXPECT_TRUE(split.has_tab);
  EXPECT_EQ(split.left, u"&Delete");
  EXPECT_EQ(split.right, u"Ctrl+D\tx");
  const TabSplit plain = SplitAtTab(u"Plain");
  EXPECT_FALSE(plain.has_tab);
  EXPECT_EQ(plain.left, u"Plain");
  EXPECT_TRUE(plain.right.empty());
}

TEST(CheckGlyph, HasTheNineByNinePattern) {
  const char* rows[9] = {".........", "........#", ".......##", "#.....###", "##...###.",
                         "###.###..", ".#####...", "..###....", "...#....."};
  for (int y = 0; y < 9; ++y) {
    for (int x = 0; x < 9; ++x) EXPECT_EQ(CheckGlyphPixel(x, y), rows[y][x] == '#') << x << y;
  }
  EXPECT_FALSE(CheckGlyphPixel(9, 3));
  // At 18 pixels each glyph pixel is a 2 × 2 block.
  EXPECT_TRUE(ScaledCheckGlyphPixel(16, 2, 18));
  EXPECT_TRUE(ScaledCheckGlyphPixel(17, 3, 18));
  EXPECT_FALSE(ScaledCheckGlyphPixel(15, 2, 18));
}

TEST(MeasureItem, HeightWidthAndSeparatorAt96Dpi) {
  // A small font: the minimum height rules; a large one: its height + 8.
  EXPECT_EQ(MeasureItem(50, -11, 13, 96).height, 19);
  EXPECT_EQ(MeasureItem(50, -8, 13, 96).height, 18);
  EXPECT_EQ(MeasureItem(50, -8, 13, 96).width, 50 + 42 + 6 - 13);
  EXPECT_EQ(MeasureSeparator(19).height, 9);
  EXPECT_EQ(MeasureSeparator(19).width, 0);
}

TEST(MeasureItem, ColumnsAndMinimumHeightScaleWithDpi) {
  EXPECT_EQ(ScaleForDpi(21, 144), 32);  // 31.5 rounds up
  EXPECT_EQ(ScaleForDpi(16, 144), 24);
  EXPECT_EQ(ScaleForDpi(16, 0), 16);
  EXPECT_EQ(MeasureItem(50, -8, 13, 144).height, 27);
  EXPECT_EQ(MeasureItem(50, -8, 13, 144).width, 50 + 64 + 6 - 13);
}

TEST(LayoutItem, IconBoxAtTheLeftAndTextBetweenTheColumns) {
  const ItemLayout at96 = LayoutItem({0, 10, 200, 32}, 96);
  EXPECT_EQ(at96.icon_box.left, 0);
  EXPECT_EQ(at96.icon_box.top, 12);
  EXPECT_EQ(at96.icon_box.width(), 21);
  EXPECT_EQ(at96.icon_box.height(), 18);
  EXPECT_EQ(at96.icon.left, 2);
  EXPECT_EQ(at96.icon.top, 13);
  // The glyph's top left is the box centre minus 4.
  EXPECT_EQ(at96.check.left, 10 - 4);
  EXPECT_EQ(at96.check.top, 12 + 9 - 4);
  EXPECT_EQ(at96.text.left, 24);
  EXPECT_EQ(at96.text.right, 179);
  const ItemLayout at144 = LayoutItem({0, 0, 300, 27}, 144);
  EXPECT_EQ(at144.icon_box.width(), 32);
  EXPECT_EQ(at144.icon.width(), 24);
  EXPECT_EQ(at144.check.width(), 14);
}

}  // namespace
}  // namespace nulvane::app
