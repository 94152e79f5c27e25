// The menu bar's rules that need no window: the wrapping of the current top-level index, the
// mnemonic of an item text and the matching of a typed letter, the split of an item text at its
// tab, the check glyph, and the arithmetic of an item's size and layout at a given DPI. The
// Win32 bar (menu_bar.*) applies them; they are tested natively.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace nulvane::app {

// The menu bar's sizes, measured at 96 DPI.
inline constexpr int kBarHeight = 20;
inline constexpr int kMinimumItemHeight = 18;
inline constexpr int kIconColumnWidth = 21;
inline constexpr int kIconSize = 16;
inline constexpr int kCheckGlyphSize = 9;

// `value` (measured at 96 DPI) at `dpi`, rounded to the nearest pixel; DPIs below 1 count as 96.
int ScaleForDpi(int value, int dpi);

// The current top-level index made valid: below 0 becomes the last item, at or past `count`
// the first. With no items the result is 0.
int WrapIndex(int index, int count);

// The mnemonic of a menu text: the character after the first "&" that does not start "&&",
// folded to lower case; 0 when the text has none.
char16_t MnemonicOf(std::u16string_view text);
// Lower case of the letters the program's sixteen languages use (Latin, Greek, Cyrillic);
// other characters are returned unchanged.
char16_t FoldCase(char16_t c);

// The answer to a typed letter among menu texts.
struct MnemonicMatch {
  int count = 0;   // how many texts carry the letter as their mnemonic
  int index = -1;  // the one to act on: the first match after `after`, wrapping; -1 for none
};
// Finds `key` among the mnemonics of `texts`. With several matches the one after the
// position `after` (the highlighted item, -1 for none) is chosen, wrapping round, so that
// typing the letter again moves on to the next item that carries it.
MnemonicMatch MatchMnemonic(const std::vector<std::u16string_view>& texts, char16_t key, int after);

// A menu item's text split at its first tab: the part before is drawn left-aligned, the part
// after right-aligned (a shortcut). `has_tab` tells an empty right part from none.
struct TabSplit {
  std::u16string_view left;
  std::u16string_view right;
  bool has_tab = false;
};
TabSplit SplitAtTab(std::u16string_view text);

// The 9 × 9 check glyph: true where pixel (x, y) of the glyph is set, rows from the top.
bool CheckGlyphPixel(int x, int y);
// The glyph drawn `size` × `size` pixels: pixel (x, y) takes the glyph pixel it covers.
bool ScaledCheckGlyphPixel(int x, int y, int size);

struct Size {
  int width = 0;
  int height = 0;
};
struct Box {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
  int width() const { return right - left; }
  int height() const { return bottom - top; }
};

// The size of a separator: no width, half the system's menu-bar height.
Size MeasureSeparator(int menu_bar_height);
// The size of an item whose text measures `text_width` pixels in a font whose height is
// `font_height` (negative for a character height, as LOGFONT holds it): at least the minimum
// height, else the absolute font height + 8; the text with an icon column on either side and 6
// pixels more, less the check-mark width that the system adds itself.
Size MeasureItem(int text_width, int font_height, int check_mark_width, int dpi);

// Where an item's parts go inside its rectangle.
struct ItemLayout {
  Box icon_box;  // the icon column's box at the item's left, centred vertically
  Box icon;      // the icon, centred in the box
  Box check;     // the check glyph, centred in the box
  Box text;      // from the icon box's right edge + 3 to the item's right edge - one column
};
ItemLayout LayoutItem(const Box& item, int dpi);

}  // namespace nulvane::app
