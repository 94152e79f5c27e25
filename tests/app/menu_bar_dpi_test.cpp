// The bar at another DPI (its font, height, icons loaded again at their new size, the sizes of
// its popup items) and what a screen reader finds in its owner-drawn items.
#include <oleacc.h>

#include "app/menu_bar_rules.h"
#include "menu_bar_fixture.h"

namespace nulvane::app::testing {
namespace {

constexpr COLORREF kRed = RGB(255, 0, 0);
constexpr COLORREF kBlue = RGB(0, 0, 255);

LONG FontHeight(HWND window) {
  LOGFONTW font{};
  GetObjectW(reinterpret_cast<HFONT>(SendMessageW(window, WM_GETFONT, 0, 0)), sizeof font, &font);
  return font.lfHeight;
}

class MenuBarDpiTest : public MenuBarTest {
 protected:
  void SetUp() override {
    MenuBarTest::SetUp();
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    ASSERT_EQ(dpi, 96) << "the test starts at 96 DPI";
  }

  // Open's icon is red at 16 pixels and blue at any other size, so that a drawn item tells an
  // icon loaded at its size from one stretched to it. Cut has no icon.
  void ConvertTestMenu() {
    ASSERT_EQ(bar_.AddSizedIcon(
                  [](int pixels) { return SolidIcon(pixels == 16 ? kRed : kBlue, pixels); }, kOpen),
              kOpen);
    UseTestMenu();
    UiScript script;
    WaitOpen(script, 0).Do([&] { PostKey(toolbar_, VK_RIGHT); });
    WaitOpen(script, 1).Do([&] { PostKey(toolbar_, VK_ESCAPE); });
    Run(script, [&] { ClickButton(0); });
    ASSERT_TRUE(script.completed());
  }

  static MENUITEMINFOW ItemInfo(HMENU menu, int position) {
    MENUITEMINFOW item{};
    item.cbSize = sizeof(item);
    item.fMask = MIIM_DATA | MIIM_FTYPE;
    GetMenuItemInfoW(menu, static_cast<UINT>(position), TRUE, &item);
    return item;
  }

  MEASUREITEMSTRUCT Measure(HMENU menu, int position) {
    MEASUREITEMSTRUCT measure{};
    measure.CtlType = ODT_MENU;
    measure.itemID = GetMenuItemID(menu, position);
    measure.itemData = ItemInfo(menu, position).dwItemData;
    SendMessageW(toolbar_, WM_MEASUREITEM, 0, reinterpret_cast<LPARAM>(&measure));
    return measure;
  }

  // Draws item `position` of popup `index` into `canvas`, filling it.
  void Draw(Canvas& canvas, int index, int position) {
    DRAWITEMSTRUCT draw{};
    draw.CtlType = ODT_MENU;
    draw.itemID = GetMenuItemID(Popup(index), position);
    draw.itemAction = ODA_DRAWENTIRE;
    draw.hDC = canvas.dc();
    draw.rcItem = {0, 0, canvas.width(), canvas.height()};
    draw.itemData = ItemInfo(Popup(index), position).dwItemData;
    SendMessageW(toolbar_, WM_DRAWITEM, 0, reinterpret_cast<LPARAM>(&draw));
    GdiFlush();
  }

  // The height of the ink of item `position`'s text, drawn at the bar's DPI.
  int TextInkHeight(int index, int position, int width, int height) {
    Canvas canvas(width, height, GetSysColor(COLOR_MENU));
    Draw(canvas, index, position);
    const Box text = LayoutItem({0, 0, width, height}, bar_.Dpi()).text;
    const RECT ink = canvas.BoundsOfPixelsOtherThan({text.left, text.top, text.right, text.bottom},
                                                    GetSysColor(COLOR_MENU));
    return ink.bottom - ink.top;
  }
};

TEST_F(MenuBarDpiTest, AtANewDpiTheFontHeightIconsAndItemSizesAreThoseOfThatDpi) {
  ConvertTestMenu();
  const LONG font96 = FontHeight(toolbar_);
  RECT button96{};
  SendMessageW(toolbar_, TB_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&button96));
  const MEASUREITEMSTRUCT open96 = Measure(Popup(0), 0);
  const MEASUREITEMSTRUCT separator96 = Measure(Popup(0), 2);
  const int ink96 = TextInkHeight(1, 0, 220, 24);  // "Copy"
  ASSERT_GT(ink96, 0);

  bar_.SetDpi(144);
  EXPECT_EQ(bar_.Dpi(), 144);
  EXPECT_EQ(FontHeight(toolbar_), MulDiv(font96, 144, 96));
  RECT bar{};
  GetWindowRect(toolbar_, &bar);
  EXPECT_EQ(bar.bottom - bar.top, 30);
  RECT button{};
  SendMessageW(toolbar_, TB_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&button));
  EXPECT_GT(button.right - button.left, button96.right - button96.left) << "the wider font";

  // The items measure in the font of 144 DPI: the minimum height of 18 becomes 27.
  const MEASUREITEMSTRUCT open = Measure(Popup(0), 0);
  EXPECT_EQ(open.itemHeight, 27u);
  EXPECT_GT(open.itemWidth, open96.itemWidth);
  EXPECT_GT(Measure(Popup(0), 2).itemHeight, separator96.itemHeight);

  // The text is drawn in the font of 144 DPI.
  EXPECT_GE(TextInkHeight(1, 0, 300, 36), ink96 * 4 / 3);

  // Open's icon, loaded again at 24 pixels (blue), fills the icon box's middle.
  const ItemLayout layout = LayoutItem({0, 0, 300, 36}, 144);
  Canvas canvas(300, 36, GetSysColor(COLOR_MENU));
  Draw(canvas, 0, 0);
  const RECT box{layout.icon_box.left, layout.icon_box.top, layout.icon_box.right,
                 layout.icon_box.bottom};
  EXPECT_EQ(canvas.CountPixels(box, kBlue), 24 * 24);
  EXPECT_EQ(canvas.CountPixels(box, kRed), 0);

  // Back at 96 DPI: the sizes of the start.
  bar_.SetDpi(96);
  EXPECT_EQ(FontHeight(toolbar_), font96);
  GetWindowRect(toolbar_, &bar);
  EXPECT_EQ(bar.bottom - bar.top, 20);
  EXPECT_EQ(Measure(Popup(0), 0).itemHeight, open96.itemHeight);
  int width = 0;
  int height = 0;
  ImageList_GetIconSize(bar_.image_list(), &width, &height);
  EXPECT_EQ(width, 16);
}

// A screen reader reads an owner-drawn item's text from the MSAAMENUINFO at the start of its
// item data.
TEST_F(MenuBarDpiTest, EveryOwnerDrawnItemCarriesItsTextForScreenReaders) {
  ConvertTestMenu();
  const std::pair<int, std::vector<std::wstring>> popups[] = {
      {0, {L"&Open\tCtrl+O", L"&Save", L"", L"E&xit", L"&Recent"}}, {1, {L"&Copy", L"C&ut"}}};
  for (const auto& [index, texts] : popups) {
    for (int position = 0; position < static_cast<int>(texts.size()); ++position) {
      SCOPED_TRACE(::testing::Message() << "popup " << index << " item " << position);
      const MENUITEMINFOW item = ItemInfo(Popup(index), position);
      ASSERT_TRUE(item.fType & MFT_OWNERDRAW);
      ASSERT_NE(item.dwItemData, 0u);
      const auto* accessible = reinterpret_cast<const MSAAMENUINFO*>(item.dwItemData);
      EXPECT_EQ(accessible->dwMSAASignature, static_cast<DWORD>(MSAA_MENU_SIG));
      const std::wstring& text = texts[static_cast<std::size_t>(position)];
      ASSERT_EQ(accessible->cchWText, text.size());
      ASSERT_NE(accessible->pszWText, nullptr);
      EXPECT_EQ(std::wstring(accessible->pszWText, accessible->cchWText), text);
      EXPECT_EQ(accessible->pszWText[accessible->cchWText], L'\0');
      // The bar still knows its own records behind the reader's part.
      EXPECT_NE(bar_.RecordOf(item.dwItemData), nullptr);
    }
  }
}

}  // namespace
}  // namespace nulvane::app::testing
