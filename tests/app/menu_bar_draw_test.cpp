// The bar's popup items as it measures and draws them: real items of a tracked popup, measured
// and drawn through the toolbar's messages into a memory DC whose pixels are read back.
#include "app/menu_bar_rules.h"
#include "app/system_icons.h"
#include "menu_bar_fixture.h"

namespace nulvane::app::testing {
namespace {

constexpr COLORREF kRed = RGB(255, 0, 0);

int ScreenDpi() {
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  return dpi;
}

class MenuBarDrawTest : public MenuBarTest {
 protected:
  // Registers a red icon for Open and Cut, sets the test menu and opens File and Edit once,
  // so that their items become the bar's owner-drawn items.
  void ConvertTestMenu() {
    HICON red = SolidIcon(kRed);
    ASSERT_EQ(bar_.AddIcon(red, kOpen), kOpen);
    ASSERT_EQ(bar_.AddIcon(red, kCut), kCut);
    DestroyIcon(red);
    UseTestMenu();
    UiScript script;
    WaitOpen(script, 0).Do([&] { PostKey(toolbar_, VK_RIGHT); });
    WaitOpen(script, 1).Do([&] { PostKey(toolbar_, VK_ESCAPE); });
    Run(script, [&] { ClickButton(0); });
    ASSERT_TRUE(script.completed());
  }

  static ULONG_PTR DataOf(HMENU menu, int position) {
    MENUITEMINFOW item{};
    item.cbSize = sizeof(item);
    item.fMask = MIIM_DATA | MIIM_FTYPE;
    GetMenuItemInfoW(menu, static_cast<UINT>(position), TRUE, &item);
    EXPECT_TRUE(item.fType & MFT_OWNERDRAW) << "item " << position << " is not owner-drawn";
    return item.dwItemData;
  }

  MEASUREITEMSTRUCT Measure(HMENU menu, int position) {
    MEASUREITEMSTRUCT measure{};
    measure.CtlType = ODT_MENU;
    measure.itemID = GetMenuItemID(menu, position);
    measure.itemData = DataOf(menu, position);
    EXPECT_TRUE(SendMessageW(toolbar_, WM_MEASUREITEM, 0, reinterpret_cast<LPARAM>(&measure)));
    return measure;
  }

  void Draw(Canvas& canvas, HMENU menu, int position, UINT state, const RECT& rect) {
    DRAWITEMSTRUCT draw{};
    draw.CtlType = ODT_MENU;
    draw.itemID = GetMenuItemID(menu, position);
    draw.itemAction = ODA_DRAWENTIRE;
    draw.itemState = state;
    draw.hwndItem = reinterpret_cast<HWND>(menu);
    draw.hDC = canvas.dc();
    draw.rcItem = rect;
    draw.itemData = DataOf(menu, position);
    SendMessageW(toolbar_, WM_DRAWITEM, 0, reinterpret_cast<LPARAM>(&draw));
    GdiFlush();
  }

  static RECT RectOf(const Box& box) { return {box.left, box.top, box.right, box.bottom}; }

  const COLORREF menu_colour_ = GetSysColor(COLOR_MENU);
  const RECT item_rect_{0, 0, 220, 24};
};

TEST_F(MenuBarDrawTest, SeparatorItemAndDefaultItemAreMeasuredByTheirFont) {
  HMENU popup = CreatePopupMenu();
  AppendMenuW(popup, MF_STRING, 1, L"&Same text");
  AppendMenuW(popup, MF_STRING, 2, L"&Same text");
  AppendMenuW(popup, MF_SEPARATOR, 0, nullptr);
  SetMenuDefaultItem(popup, 2, FALSE);
  HMENU menu = CreateMenu();
  AppendMenuW(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(popup), L"&Test");
  bar_.SetBarMenu(menu);
  UiScript script;
  WaitOpen(script, 0).Do([&] { PostKey(toolbar_, VK_ESCAPE); });
  Run(script, [&] { ClickButton(0); });

  const MEASUREITEMSTRUCT separator = Measure(popup, 2);
  EXPECT_EQ(separator.itemWidth, 0u);
  EXPECT_EQ(separator.itemHeight, static_cast<UINT>(GetSystemMetrics(SM_CYMENU) / 2));

  LOGFONTW font{};
  GetObjectW(GetStockObject(DEFAULT_GUI_FONT), sizeof(font), &font);
  HFONT regular = CreateFontIndirectW(&font);
  HDC screen = GetDC(nullptr);
  HGDIOBJ old = SelectObject(screen, regular);
  RECT text{};
  DrawTextW(screen, L"Same text", -1, &text, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
  SelectObject(screen, old);
  ReleaseDC(nullptr, screen);
  DeleteObject(regular);

  const MEASUREITEMSTRUCT item = Measure(popup, 0);
  EXPECT_EQ(item.itemHeight,
            static_cast<UINT>(std::max(18, static_cast<int>(std::abs(font.lfHeight)) + 8)));
  EXPECT_EQ(static_cast<int>(item.itemWidth),
            text.right - text.left + 2 * 21 + 6 - GetSystemMetrics(SM_CXMENUCHECK));
  // The default item is measured in the heavier font: the same text is wider.
  const MEASUREITEMSTRUCT default_item = Measure(popup, 1);
  EXPECT_GT(default_item.itemWidth, item.itemWidth);
  EXPECT_EQ(default_item.itemHeight, item.itemHeight);
}

TEST_F(MenuBarDrawTest, ACheckedItemWithoutIconShowsTheCheckGlyph) {
  ConvertTestMenu();
  Canvas canvas(220, 24, menu_colour_);
  Draw(canvas, Popup(0), 1, ODS_CHECKED, item_rect_);  // Save
  const ItemLayout layout = LayoutItem({0, 0, 220, 24}, ScreenDpi());
  ASSERT_EQ(layout.check.width(), 9);
  const COLORREF ink = GetSysColor(COLOR_MENUTEXT);
  for (int y = 0; y < 9; ++y) {
    for (int x = 0; x < 9; ++x) {
      const COLORREF pixel = canvas.Pixel(layout.check.left + x, layout.check.top + y);
      EXPECT_EQ(pixel, CheckGlyphPixel(x, y) ? ink : menu_colour_)
          << "glyph pixel " << x << "," << y;
    }
  }
  // Nothing else inside the icon box: the glyph's 27 pixels only.
  EXPECT_EQ(canvas.CountPixelsOtherThan(RectOf(layout.icon_box), menu_colour_), 27);
  // Unchecked, the same item has an empty icon box.
  Canvas unchecked(220, 24, menu_colour_);
  Draw(unchecked, Popup(0), 1, 0, item_rect_);
  EXPECT_EQ(unchecked.CountPixelsOtherThan(RectOf(layout.icon_box), menu_colour_), 0);
}

TEST_F(MenuBarDrawTest, AnItemWithAnIconShowsItAndADisabledOneShowsOnlyItsText) {
  ConvertTestMenu();
  const ItemLayout layout = LayoutItem({0, 0, 220, 24}, ScreenDpi());
  Canvas open(220, 24, menu_colour_);
  Draw(open, Popup(0), 0, 0, item_rect_);
  EXPECT_EQ(open.CountPixels(RectOf(layout.icon_box), kRed), 16 * 16);
  const RECT icon = open.BoundsOfPixelsOtherThan(RectOf(layout.icon_box), menu_colour_);
  EXPECT_EQ(icon.left, layout.icon.left);
  EXPECT_EQ(icon.top, layout.icon.top);

  Canvas cut(220, 24, menu_colour_);
  Draw(cut, Popup(1), 1, ODS_DISABLED | ODS_GRAYED, item_rect_);
  EXPECT_EQ(cut.CountPixelsOtherThan(RectOf(layout.icon_box), menu_colour_), 0);
  EXPECT_EQ(cut.CountPixels(item_rect_, kRed), 0);
  EXPECT_GT(cut.CountPixels(RectOf(layout.text), GetSysColor(COLOR_BTNSHADOW)), 0);
}

TEST_F(MenuBarDrawTest, TheTextAfterATabIsRightAligned) {
  ConvertTestMenu();
  const ItemLayout layout = LayoutItem({0, 0, 220, 24}, ScreenDpi());
  Canvas canvas(220, 24, menu_colour_);
  Draw(canvas, Popup(0), 0, 0, item_rect_);  // "&Open\tCtrl+O"
  const RECT ink = canvas.BoundsOfPixelsOtherThan(RectOf(layout.text), menu_colour_);
  EXPECT_LE(ink.left, layout.text.left + 2);    // "Open" starts at the left
  EXPECT_GE(ink.right, layout.text.right - 2);  // "Ctrl+O" ends at the right
  // Between the two parts the text area is empty.
  const int middle = (layout.text.left + layout.text.right) / 2;
  EXPECT_EQ(canvas.CountPixelsOtherThan({middle - 20, 0, middle + 20, 24}, menu_colour_), 0);
}

TEST_F(MenuBarDrawTest, TheMnemonicUnderlineIsHidden) {
  ConvertTestMenu();
  const ItemLayout layout = LayoutItem({0, 0, 220, 24}, ScreenDpi());
  Canvas item(220, 24, menu_colour_);
  Draw(item, Popup(1), 0, 0, item_rect_);  // "&Copy"
  // The same word without its mark, drawn plainly in the menu font, gives the same pixels.
  Canvas plain(220, 24, menu_colour_);
  HFONT font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  HGDIOBJ old = SelectObject(plain.dc(), font);
  SetBkMode(plain.dc(), TRANSPARENT);
  SetTextColor(plain.dc(), GetSysColor(COLOR_MENUTEXT));
  RECT text = RectOf(layout.text);
  DrawTextW(plain.dc(), L"Copy", -1, &text, DT_LEFT | DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
  SelectObject(plain.dc(), old);
  GdiFlush();
  const RECT area = RectOf(layout.text);
  ASSERT_GT(plain.CountPixelsOtherThan(area, menu_colour_), 0);
  for (int y = area.top; y < area.bottom; ++y) {
    for (int x = area.left; x < area.right; ++x) {
      ASSERT_EQ(item.Pixel(x, y), plain.Pixel(x, y)) << "at " << x << "," << y;
    }
  }
}

TEST_F(MenuBarDrawTest, ASelectedItemIsHighlightedWithItsGlyphInTheHighlightTextColour) {
  ConvertTestMenu();
  const ItemLayout layout = LayoutItem({0, 0, 220, 24}, ScreenDpi());
  Canvas canvas(220, 24, menu_colour_);
  Draw(canvas, Popup(0), 1, ODS_SELECTED | ODS_CHECKED, item_rect_);
  EXPECT_EQ(canvas.Pixel(0, 0), GetSysColor(COLOR_HIGHLIGHT));
  EXPECT_EQ(canvas.Pixel(110, 1), GetSysColor(COLOR_MENUHILIGHT));
  EXPECT_EQ(canvas.Pixel(layout.check.left + 8, layout.check.top + 1),
            GetSysColor(COLOR_HIGHLIGHTTEXT));
}

TEST(SystemIcons, ShellIconsLoadAndAMissingOneIsNoIcon) {
  CUniSysIco icons;
  HICON folder = icons.LoadShellIcon(4, 0);
  EXPECT_NE(folder, nullptr);
  HICON large = icons.LoadShellIcon(4, 1);
  EXPECT_NE(large, nullptr);
  EXPECT_EQ(icons.LoadShellIcon(60000, 0), nullptr);
  CWinCmdBar2 bar;
  EXPECT_EQ(bar.AddIcon(nullptr, 5), 0);  // what a missing icon adds: nothing
  EXPECT_EQ(bar.AddIcon(folder, 5), 5);
  EXPECT_EQ(bar.icon_count(), 1);
  if (folder) DestroyIcon(folder);
  if (large) DestroyIcon(large);
}

TEST(SystemIcons, TheBarHoldsAtMost256Icons) {
  CWinCmdBar2 bar;
  HICON icon = SolidIcon(kRed);
  for (int i = 1; i <= 256; ++i) ASSERT_EQ(bar.AddIcon(icon, i), i);
  EXPECT_EQ(bar.AddIcon(icon, 257), 0);
  EXPECT_EQ(bar.icon_count(), 256);
  DestroyIcon(icon);
}

// Runs in a child process started at 144 DPI by the test below.
TEST_F(MenuBarDrawTest, DISABLED_At144DpiTheColumnIconAndGlyphScale) {
  ASSERT_EQ(ScreenDpi(), 144);
  ConvertTestMenu();
  const ItemLayout layout = LayoutItem({0, 0, 300, 36}, 144);
  ASSERT_EQ(layout.icon_box.width(), 32);
  const RECT rect{0, 0, 300, 36};
  Canvas open(300, 36, menu_colour_);
  Draw(open, Popup(0), 0, 0, rect);
  EXPECT_EQ(open.CountPixels(RectOf(layout.icon_box), kRed), 24 * 24);
  const RECT icon = open.BoundsOfPixelsOtherThan(RectOf(layout.icon_box), menu_colour_);
  EXPECT_EQ(icon.right - icon.left, 24);
  EXPECT_EQ(icon.left, layout.icon.left);
  Canvas save(300, 36, menu_colour_);
  Draw(save, Popup(0), 1, ODS_CHECKED, rect);
  const RECT glyph = save.BoundsOfPixelsOtherThan(RectOf(layout.icon_box), menu_colour_);
  EXPECT_GT(glyph.right - glyph.left, 9);
  EXPECT_LE(glyph.right - glyph.left, 14);
  EXPECT_GE(Measure(Popup(0), 3).itemHeight, 27u);  // the minimum height of 18, scaled
}

TEST(MenuBarDpi, At144DpiTheColumnIconAndGlyphScale) {
  HKEY desktop = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", 0, nullptr, 0,
                            KEY_READ | KEY_WRITE, nullptr, &desktop, nullptr),
            ERROR_SUCCESS);
  DWORD old_value = 0;
  DWORD size = sizeof(old_value);
  DWORD type = 0;
  const bool had_value =
      RegQueryValueExW(desktop, L"LogPixels", nullptr, &type, reinterpret_cast<BYTE*>(&old_value),
                       &size) == ERROR_SUCCESS;
  const DWORD dpi = 144;
  std::string output;
  RegSetValueExW(desktop, L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dpi),
                 sizeof(dpi));
  const int code = RunThisProgram(
      L"--gtest_also_run_disabled_tests "
      L"--gtest_filter=MenuBarDrawTest.DISABLED_At144DpiTheColumnIconAndGlyphScale",
      {}, 60000, &output);
  if (had_value) {
    RegSetValueExW(desktop, L"LogPixels", 0, type, reinterpret_cast<const BYTE*>(&old_value),
                   sizeof(old_value));
  } else {
    RegDeleteValueW(desktop, L"LogPixels");
  }
  RegCloseKey(desktop);
  EXPECT_EQ(code, 0) << "the test at 144 DPI failed:\n" << output;
  EXPECT_NE(output.find("[  PASSED  ] 1 test"), std::string::npos) << output;
}

}  // namespace
}  // namespace nulvane::app::testing
