// The menu bar's buttons and the tracking of its popups by mouse and keyboard, driven with
// sent and posted messages in a host dialog.
#include "app/menu_build.h"
#include "menu_bar_fixture.h"

namespace nulvane::app::testing {
namespace {

std::wstring ButtonText(HWND toolbar, int id) {
  const LRESULT length = SendMessageW(toolbar, TB_GETBUTTONTEXTW, static_cast<WPARAM>(id), 0);
  if (length < 0) return L"<none>";
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  SendMessageW(toolbar, TB_GETBUTTONTEXTW, static_cast<WPARAM>(id),
               reinterpret_cast<LPARAM>(text.data()));
  text.resize(static_cast<std::size_t>(length));
  return text;
}

int ButtonCount(HWND toolbar) {
  return static_cast<int>(SendMessageW(toolbar, TB_BUTTONCOUNT, 0, 0));
}

TEST_F(MenuBarTest, SetBarMenuMakesOneButtonPerItemWithItsFullText) {
  UseTestMenu();
  ASSERT_EQ(ButtonCount(toolbar_), 3);
  const wchar_t* texts[] = {L"&File", L"&Edit", L"&Help"};
  for (int i = 0; i < 3; ++i) {
    TBBUTTON button{};
    SendMessageW(toolbar_, TB_GETBUTTON, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&button));
    EXPECT_EQ(button.idCommand, kFirstBarButtonId + i);
    EXPECT_EQ(ButtonText(toolbar_, kFirstBarButtonId + i), texts[i]);
  }
  // A translation may be longer than any fixed buffer: the text arrives whole.
  const std::wstring long_text = L"&" + std::wstring(150, L'x') + L"end";
  HMENU menu = CreateMenu();
  AppendMenuW(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(CreatePopupMenu()), long_text.c_str());
  bar_.SetBarMenu(menu);
  ASSERT_EQ(ButtonCount(toolbar_), 1);
  EXPECT_EQ(ButtonText(toolbar_, kFirstBarButtonId), long_text);
}

TEST_F(MenuBarTest, OnlySetBarMenuChangesTheButtons) {
  UseTestMenu();
  TBBUTTON extra{I_IMAGENONE, 999, TBSTATE_ENABLED, BTNS_BUTTON, {}, 0, 0};
  SendMessageW(toolbar_, TB_ADDBUTTONSW, 1, reinterpret_cast<LPARAM>(&extra));
  TBBUTTONINFOW info{sizeof(info), TBIF_TEXT, 0, 0, 0, 0, 0, 0, const_cast<wchar_t*>(L"X"), 0};
  SendMessageW(toolbar_, TB_SETBUTTONINFOW, kFirstBarButtonId, reinterpret_cast<LPARAM>(&info));
  EXPECT_EQ(ButtonCount(toolbar_), 3);
  EXPECT_EQ(ButtonText(toolbar_, kFirstBarButtonId), L"&File");
}

TEST_F(MenuBarTest, ASecondMenuReplacesTheFirstAndFreesItsRecords) {
  HMENU first = UseTestMenu();
  UiScript script;
  WaitOpen(script, 0).Do([] { EndMenus(); });
  Run(script, [&] { ClickButton(0); });
  EXPECT_EQ(bar_.record_count(), 5);  // the File popup's items (its submenu never opened)

  HMENU second = CreateMenu();
  AppendMenuW(second, MF_POPUP, reinterpret_cast<UINT_PTR>(CreatePopupMenu()), L"&Only");
  bar_.SetBarMenu(second);
  EXPECT_EQ(bar_.record_count(), 0);
  EXPECT_FALSE(IsMenu(first));
  EXPECT_EQ(ButtonCount(toolbar_), 1);
  EXPECT_EQ(ButtonText(toolbar_, kFirstBarButtonId), L"&Only");
}

TEST_F(MenuBarTest, AClickOpensThePopupAndASecondClickClosesIt) {
  UseTestMenu();
  UiScript script;
  WaitOpen(script, 1)
      .Do([&] { PostMouseAtScreen(toolbar_, WM_LBUTTONDOWN, ButtonScreenCentre(1)); })
      .WaitFor("the popup to close", [] { return OpenMenuCount() == 0; });
  Run(script, [&] { ClickButton(1); });
  EXPECT_TRUE(script.completed());
  // The closing click was the bar's own: it did not open the popup again.
  PumpMessagesFor(100);
  EXPECT_EQ(OpenMenuCount(), 0);
  EXPECT_TRUE(dialog_.commands().empty());
  // The parent saw the menu loop and the popup's initialisation.
  EXPECT_EQ(dialog_.CountMenuMessages(WM_ENTERMENULOOP), 1);
  EXPECT_EQ(dialog_.CountMenuMessages(WM_EXITMENULOOP), 1);
  EXPECT_GE(dialog_.CountMenuMessages(WM_INITMENUPOPUP), 1);
}

TEST_F(MenuBarTest, ACommandChosenByKeysReachesTheParent) {
  UseTestMenu();
  UiScript script;
  WaitOpen(script, 0)
      .Do([&] { PostKey(toolbar_, VK_DOWN); })
      .Do([&] { PostKey(toolbar_, VK_DOWN); })
      .WaitFor("Save highlighted", [&] { return HighlightedItem(Popup(0)) == 1; })
      .Do([&] { PostKey(toolbar_, VK_RETURN); });
  Run(script, [&] { ClickButton(0); });
  EXPECT_TRUE(script.completed());
  EXPECT_EQ(dialog_.commands(), std::vector<int>{kSave});
  // Menu-select notifications reach the parent too.
  EXPECT_GE(dialog_.CountMenuMessages(WM_MENUSELECT), 1);
}

TEST_F(MenuBarTest, LeftAndRightMoveBetweenTheItemsAndWrap) {
  UseTestMenu();
  UiScript script;
  WaitOpen(script, 0)
      .Do([&] { PostKey(toolbar_, VK_LEFT); })
      .WaitFor("Help after Left from File", [&] { return IsMenuOpen(Popup(2)); })
      .WaitFor("Help's first item highlighted", [&] { return HighlightedItem(Popup(2)) == 0; })
      .Do([&] { PostKey(toolbar_, VK_RIGHT); })
      .WaitFor("File after Right from Help", [&] { return IsMenuOpen(Popup(0)); })
      .WaitFor("File's first item highlighted", [&] { return HighlightedItem(Popup(0)) == 0; })
      .Do([&] { PostKey(toolbar_, VK_RIGHT); })
      .WaitFor("Edit after Right from File", [&] { return IsMenuOpen(Popup(1)); })
      .Do([&] { EXPECT_EQ(bar_.current_index(), 1); })
      .Do([&] { PostKey(toolbar_, VK_ESCAPE); });
  Run(script, [&] { ClickButton(0); });
  EXPECT_TRUE(script.completed());
  EXPECT_TRUE(dialog_.commands().empty());
}

TEST_F(MenuBarTest, WithOneItemLeftAndRightLeaveTheOpenPopupAsItIs) {
  HMENU menu = CreateMenu();
  HMENU only = CreatePopupMenu();
  AppendMenuW(only, MF_STRING, kAbout, L"&About");
  AppendMenuW(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(only), L"&Help");
  bar_.SetBarMenu(menu);
  auto inits = [&] { return dialog_.CountMenuMessages(WM_INITMENUPOPUP); };
  DWORD keys_sent = 0;
  UiScript script;
  WaitOpen(script, 0)
      .Do([&] { PostKey(toolbar_, VK_RIGHT); })
      .Do([&] {
        PostKey(toolbar_, VK_LEFT);
        keys_sent = GetTickCount();
      })
      .WaitFor("the keys' effect", [&] { return GetTickCount() - keys_sent > 300; })
      .Do([&] {
        // Opened once, by the click: neither key closed or reopened it.
        EXPECT_EQ(inits(), 1);
        EXPECT_TRUE(IsMenuOpen(only));
        EXPECT_EQ(bar_.current_index(), 0);
      })
      .Do([&] { PostKey(toolbar_, VK_ESCAPE); });
  Run(script, [&] { ClickButton(0); });
  EXPECT_TRUE(script.completed());
  EXPECT_EQ(inits(), 1);
}

TEST_F(MenuBarTest, RightOnAnItemWithASubmenuOpensTheSubmenu) {
  UseTestMenu();
  HMENU recent = GetSubMenu(Popup(0), 4);
  UiScript script;
  WaitOpen(script, 0)
      .Do([&] { PostKey(toolbar_, VK_UP); })  // wraps to the last item, Recent
      .WaitFor("Recent highlighted", [&] { return HighlightedItem(Popup(0)) == 4; })
      .Do([&] { PostKey(toolbar_, VK_RIGHT); })
      .WaitFor("the Recent submenu open", [&] { return IsMenuOpen(recent); })
      .Do([&] { EXPECT_EQ(bar_.current_index(), 0); })
      // Escape in the submenu closes only the submenu.
      .Do([&] { PostKey(toolbar_, VK_ESCAPE); })
      .WaitFor("the submenu closed", [&] { return !IsMenuOpen(recent); })
      .Do([&] { EXPECT_TRUE(IsMenuOpen(Popup(0))); })
      .Do([&] { PostKey(toolbar_, VK_ESCAPE); });
  Run(script, [&] { ClickButton(0); });
  EXPECT_TRUE(script.completed());
}

TEST_F(MenuBarTest, MovingTheMouseToAnotherItemOpensItsPopup) {
  UseTestMenu();
  UiScript script;
  WaitOpen(script, 0)
      .Do([&] { PostMouseAtScreen(toolbar_, WM_MOUSEMOVE, ButtonScreenCentre(2)); })
      .WaitFor("Help open after the mouse moved onto it", [&] { return IsMenuOpen(Popup(2)); })
      .Do([&] { EXPECT_EQ(OpenMenuCount(), 1); })
      .Do([&] { PostKey(toolbar_, VK_ESCAPE); });
  Run(script, [&] { ClickButton(0); });
  EXPECT_TRUE(script.completed());
}

TEST_F(MenuBarTest, AltAndALetterOpensTheMatchingPopupWithItsFirstItemHighlighted) {
  UseTestMenu();
  UiScript script;
  WaitOpen(script, 1)
      .WaitFor("Copy highlighted", [&] { return HighlightedItem(Popup(1)) == 0; })
      .Do([&] { PostKey(toolbar_, VK_ESCAPE); });
  Run(script, [&] { PostAltChar(dialog_.hwnd(), L'e'); });
  EXPECT_TRUE(script.completed());
  EXPECT_EQ(bar_.current_index(), 1);
}

TEST_F(MenuBarTest, ALetterInsideAPopupChoosesItsItem) {
  UseTestMenu();
  UiScript script;
  // The bar's items carry no string of their own: the bar answers the letter itself.
  WaitOpen(script, 0).Do([&] { PostChar(toolbar_, L'x'); });
  Run(script, [&] { ClickButton(0); });
  EXPECT_TRUE(script.completed());
  EXPECT_EQ(dialog_.commands(), std::vector<int>{kExit});
  // Its answer, asked directly: a unique match executes, a letter of no item is left alone.
  LRESULT answer = SendMessageW(toolbar_, WM_MENUCHAR, MAKEWPARAM(L'S', MF_POPUP),
                                reinterpret_cast<LPARAM>(Popup(0)));
  EXPECT_EQ(HIWORD(answer), MNC_EXECUTE);
  EXPECT_EQ(LOWORD(answer), 1);
  answer = SendMessageW(toolbar_, WM_MENUCHAR, MAKEWPARAM(L'q', MF_POPUP),
                        reinterpret_cast<LPARAM>(Popup(0)));
  EXPECT_NE(HIWORD(answer), MNC_EXECUTE);
}

// An entry that opens a submenu carries its model's command id, so its icon is found.
TEST_F(MenuBarTest, AnEntryWithASubmenuShowsTheIconOfItsCommand) {
  constexpr int kMoreCommand = 401;
  MenuEntry more;
  more.kind = MenuEntry::Kind::kSubmenu;
  more.id = kMoreCommand;
  more.text = u"&More";
  more.submenu.push_back(MenuEntry{MenuEntry::Kind::kItem, kAbout, u"&About", false, false, {}});
  MenuEntry top;
  top.kind = MenuEntry::Kind::kSubmenu;
  top.text = u"&File";
  top.submenu.push_back(more);
  HICON icon = SolidIcon(RGB(200, 0, 0));
  ASSERT_EQ(bar_.AddIcon(icon, kMoreCommand), kMoreCommand);
  DestroyIcon(icon);
  bar_.SetBarMenu(CreateMenuFromModel(MenuModel{top}).release());
  int image = -2;
  UiScript script;
  WaitOpen(script, 0)
      .Do([&] {
        MENUITEMINFOW item{};
        item.cbSize = sizeof(item);
        item.fMask = MIIM_DATA | MIIM_ID | MIIM_SUBMENU;
        ASSERT_TRUE(GetMenuItemInfoW(Popup(0), 0, TRUE, &item));
        EXPECT_EQ(item.wID, static_cast<UINT>(kMoreCommand));
        EXPECT_NE(item.hSubMenu, nullptr);
        const CWinCmdBar2::ItemRecord* record = bar_.RecordOf(item.dwItemData);
        ASSERT_NE(record, nullptr);
        image = record->image;
      })
      .Do([&] { PostKey(toolbar_, VK_ESCAPE); });
  Run(script, [&] { ClickButton(0); });
  EXPECT_TRUE(script.completed());
  EXPECT_EQ(image, 0);
}

}  // namespace
}  // namespace nulvane::app::testing
