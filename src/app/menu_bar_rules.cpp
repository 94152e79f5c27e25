#include "app/menu_bar_rules.h"

#include <algorithm>
#include <cstdlib>

#include "lang/mnemonic.h"

namespace nulvane::app {

int ScaleForDpi(int value, int dpi) {
  if (dpi < 1) dpi = 96;
  const long long scaled = static_cast<long long>(value) * dpi;
  return static_cast<int>(scaled >= 0 ? (scaled + 48) / 96 : -((-scaled + 48) / 96));
}

int WrapIndex(int index, int count) {
  if (count <= 0) return 0;
  if (index < 0) return count - 1;
  if (index >= count) return 0;
  return index;
}

char16_t FoldCase(char16_t c) {
  if (c >= u'A' && c <= u'Z') return static_cast<char16_t>(c + 0x20);
  if ((c >= 0xC0 && c <= 0xDE && c != 0xD7)) return static_cast<char16_t>(c + 0x20);
  // Latin Extended-A pairs upper/lower case as even/odd (with a few exceptions at the edges).
  if (c >= 0x100 && c <= 0x17F && c != 0x130 && c != 0x131 && c != 0x138 && c != 0x149 &&
      c != 0x17F) {
    const bool odd_upper = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
    if (odd_upper) return (c & 1) ? static_cast<char16_t>(c + 1) : c;
    return (c & 1) ? c : static_cast<char16_t>(c + 1);
  }
  if (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) return static_cast<char16_t>(c + 0x20);
  if (c >= 0x410 && c <= 0x42F) return static_cast<char16_t>(c + 0x20);
  if (c >= 0x400 && c <= 0x40F) return static_cast<char16_t>(c + 0x50);
  return c;
}

char16_t MnemonicOf(std::u16string_view text) { return FoldCase(lang::MnemonicCharacter(text)); }

MnemonicMatch MatchMnemonic(const std::vector<std::u16string_view>& texts, char16_t key,
                            int after) {
  MnemonicMatch match;
  const char16_t folded = FoldCase(key);
  if (folded == 0) return match;
  const int count = static_cast<int>(texts.size());
  if (after < -1 || after >= count) after = -1;
  for (int step = 1; step <= count; ++step) {
    const int i = (after + step) % count;
    if (MnemonicOf(texts[i]) != folded) continue;
    if (match.count++ == 0) match.index = i;
  }
  return match;
}

TabSplit SplitAtTab(std::u16string_view text) {
  const std::size_t tab = text.find(u'\t');
  if (tab == std::u16string_view::npos) return {text, {}, false};
  return {text.substr(0, tab), text.substr(tab + 1), true};
}

namespace {
constexpr const char* kCheckGlyph[kCheckGlyphSize] = {
    ".........", "........#", ".......##", "#.....###", "##...###.",
    "###.###..", ".#####...", "..###....", "...#.....",
};
}  // namespace

bool CheckGlyphPixel(int x, int y) {
  if (x < 0 || y < 0 || x >= kCheckGlyphSize || y >= kCheckGlyphSize) return false;
  return kCheckGlyph[y][x] == '#';
}

bool ScaledCheckGlyphPixel(int x, int y, int size) {
  if (size <= 0 || x < 0 || y < 0 || x >= size || y >= size) return false;
  return CheckGlyphPixel(x * kCheckGlyphSize / size, y * kCheckGlyphSize / size);
}

Size MeasureSeparator(int menu_bar_height) { return {0, menu_bar_height / 2}; }

Size MeasureItem(int text_width, int font_height, int check_mark_width, int dpi) {
  const int height = std::max(ScaleForDpi(kMinimumItemHeight, dpi), std::abs(font_height) + 8);
  const int width = text_width + 2 * ScaleForDpi(kIconColumnWidth, dpi) + 6 - check_mark_width;
  return {std::max(width, 0), height};
}

namespace {
Box CentreIn(const Box& outer, int width, int height) {
  const int left = outer.left + (outer.width() - width) / 2;
  const int top = outer.top + (outer.height() - height) / 2;
  return {left, top, left + width, top + height};
}
}  // namespace

ItemLayout LayoutItem(const Box& item, int dpi) {
  ItemLayout layout;
  const int column = ScaleForDpi(kIconColumnWidth, dpi);
  layout.icon_box = CentreIn({item.left, item.top, item.left + column, item.bottom}, column,
                             ScaleForDpi(kMinimumItemHeight, dpi));
  const int icon = ScaleForDpi(kIconSize, dpi);
  layout.icon = CentreIn(layout.icon_box, icon, icon);
  const int glyph = ScaleForDpi(kCheckGlyphSize, dpi);
  // The glyph's top left is the box centre less half the glyph (4 pixels at 96 DPI).
  const int glyph_left = layout.icon_box.left + layout.icon_box.width() / 2 - glyph / 2;
  const int glyph_top = layout.icon_box.top + layout.icon_box.height() / 2 - glyph / 2;
  layout.check = {glyph_left, glyph_top, glyph_left + glyph, glyph_top + glyph};
  layout.text = {layout.icon_box.right + 3, item.top, item.right - column, item.bottom};
  return layout;
}

}  // namespace nulvane::app
