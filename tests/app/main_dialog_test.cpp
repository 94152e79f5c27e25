// The real main dialog, from the real resources, run modally and driven from inside its own
// loop: texts at rest in English and German, the layout, the command line and drops, a run on a
// folder under Z:, Esc during a countdown and at rest, a drop during a run, and 144 DPI.
#include <algorithm>
#include <memory>

#include "main_dialog_fixture.h"

namespace nulvane::app {
namespace {

TEST_F(MainDialogTest, AtRestInEnglishShowsTitleStatusLabelsLegendAndHeaders) {
  CSetFileTime dialog(u"");
  UiScript script;
  script.Do([&] {
    EXPECT_EQ(WindowText(dialog.Window()), L"Nulvane 4.21 [Unicode]");
    EXPECT_EQ(StatusText(dialog), L"Items:0 // Total: 0.0 byte");
    EXPECT_EQ(WindowText(GetDlgItem(dialog.Window(), 1046)),
              W(lang::Txt(lang::TextId::kInstructions)));
    EXPECT_EQ(WindowText(GetDlgItem(dialog.Window(), 1023)), L" # Sure Delete ;)");
    EXPECT_EQ(ButtonText(testing::ControlById(dialog.Window(), kListToolbarId), kCommandReset),
              L"&Reset");
    EXPECT_EQ(ButtonText(testing::ControlById(dialog.Window(), kListToolbarId), kCommandDelete),
              L"&Delete");
    EXPECT_EQ(ButtonText(testing::ControlById(dialog.Window(), kListToolbarId), kCommandDeletePlus),
              L"Delete +");
    EXPECT_EQ(
        ButtonText(testing::ControlById(dialog.Window(), kListToolbarId), kCommandOverwriteMenu),
        L"&Overwrite 1 times");
    EXPECT_EQ(ButtonText(testing::ControlById(dialog.Window(), kListToolbarId), kCommandDelayMenu),
              L"Delete &Delay 0 sec");
    EXPECT_EQ(
        ButtonText(testing::ControlById(dialog.Window(), kCornerToolbarId), kCommandLanguageMenu),
        L"\u00BB\u00BB LNG \u00AB\u00AB");
    EXPECT_EQ(ButtonText(testing::ControlById(dialog.Window(), kCornerToolbarId), kCommandCancel),
              L"\u00BB\u00BB Exit \u00AB\u00AB");
    EXPECT_EQ(ButtonText(testing::ControlById(dialog.Window(), kLinkButtonId), kCommandHomeLink),
              L"https://nulvane.example");
    EXPECT_EQ(Column(testing::ControlById(dialog.Window(), IDC_MESSAGE_LIST), 0),
              (std::vector<std::wstring>{L"Warning", L"Error", L"Info"}));
    EXPECT_EQ(HeaderText(testing::ControlById(dialog.Window(), IDC_ITEM_LIST), 0), L"Path");
    EXPECT_EQ(HeaderText(testing::ControlById(dialog.Window(), IDC_ITEM_LIST), 1), L"Size");
    EXPECT_EQ(HeaderText(testing::ControlById(dialog.Window(), IDC_MESSAGE_LIST), 0), L"Messages");
    EXPECT_EQ(GetParent(testing::ControlById(dialog.Window(), kLinkButtonId)),
              testing::ControlById(dialog.Window(), kStatusBarId));
  });
  EXPECT_EQ(Run(dialog, script), 2);
  EXPECT_TRUE(script.completed());
}

TEST_F(MainDialogTest, AtRestInGermanEveryTextComesFromTheGermanSlot) {
  UseLanguage(0);
  CSetFileTime dialog(u"");
  UiScript script;
  script.Do([&] {
    EXPECT_EQ(WindowText(dialog.Window()), L"Nulvane 4.21 [Unicode]");
    EXPECT_EQ(StatusText(dialog), L"Objekte:0 // Total: 0.0 byte");
    EXPECT_EQ(WindowText(GetDlgItem(dialog.Window(), 1046)),
              W(lang::Txt(lang::TextId::kInstructions)));
    EXPECT_EQ(ButtonText(testing::ControlById(dialog.Window(), kListToolbarId), kCommandDelete),
              L"&L\u00F6schen");
    EXPECT_EQ(ButtonText(testing::ControlById(dialog.Window(), kListToolbarId), kCommandDeletePlus),
              L"L\u00F6schen +");
    EXPECT_EQ(
        ButtonText(testing::ControlById(dialog.Window(), kListToolbarId), kCommandOverwriteMenu),
        L"1 mal &schreiben");
    EXPECT_EQ(ButtonText(testing::ControlById(dialog.Window(), kCornerToolbarId), kCommandCancel),
              L"\u00BB\u00BB Beenden \u00AB\u00AB");
    EXPECT_EQ(ButtonText(testing::ControlById(dialog.Window(), kLinkButtonId), kCommandHomeLink),
              L"https://nulvane.example/de");
    EXPECT_EQ(Column(testing::ControlById(dialog.Window(), IDC_MESSAGE_LIST), 0),
              (std::vector<std::wstring>{L"Warnung", L"Fehler", L"Info"}));
    EXPECT_EQ(HeaderText(testing::ControlById(dialog.Window(), IDC_ITEM_LIST), 0), L"Pfad");
    EXPECT_EQ(HeaderText(testing::ControlById(dialog.Window(), IDC_ITEM_LIST), 1),
              L"Gr\u00F6\u00DFe");
    EXPECT_EQ(HeaderText(testing::ControlById(dialog.Window(), IDC_MESSAGE_LIST), 0), L"Meldungen");
  });
  EXPECT_EQ(Run(dialog, script), 2);
  EXPECT_TRUE(script.completed());
}

// The rectangles the window really has for a client size, against the layout rules.
void ExpectLayoutForClient(const CSetFileTime& dialog, int width, int height, int dpi) {
  RECT client{};
  GetClientRect(dialog.Window(), &client);
  ASSERT_EQ(client.right, width);
  ASSERT_EQ(client.bottom, height);
  const auto px = [&](int pixels) { return ScaleForDpi(pixels, dpi); };
  const Rect item_list = ChildRect(testing::ControlById(dialog.Window(), IDC_ITEM_LIST));
  EXPECT_EQ(ChildRect(testing::ControlById(dialog.Window(), kTopStripId)),
            (Rect{0, 0, width, px(24)}));
  EXPECT_EQ(ChildRect(testing::ControlById(dialog.Window(), kStatusBarId)),
            (Rect{0, height - px(24), width, px(24)}));
  EXPECT_EQ(ChildRect(testing::ControlById(dialog.Window(), kLinkButtonId)),
            (Rect{width - px(191), px(3), px(167), px(24)}));
  EXPECT_EQ(ChildRect(testing::ControlById(dialog.Window(), kListToolbarId)),
            (Rect{item_list.x, item_list.y - px(24), width, px(24)}));
  EXPECT_EQ(item_list.width, width - 2 * item_list.x);
  EXPECT_EQ(item_list.height, std::max(0, height - item_list.y - px(130)));
  EXPECT_EQ(ChildRect(testing::ControlById(dialog.Window(), IDC_MESSAGE_LIST)),
            (Rect{item_list.x, height - px(126), width - 2 * item_list.x, px(100)}));
  RECT first{};
  RECT second{};
  SendMessageW(testing::ControlById(dialog.Window(), kCornerToolbarId), TB_GETITEMRECT, 0,
               reinterpret_cast<LPARAM>(&first));
  SendMessageW(testing::ControlById(dialog.Window(), kCornerToolbarId), TB_GETITEMRECT, 1,
               reinterpret_cast<LPARAM>(&second));
  EXPECT_EQ(ChildRect(testing::ControlById(dialog.Window(), kCornerToolbarId)),
            (Rect{width - (second.right - first.left), 0, width, px(24)}));
}

void SetClientSize(HWND window, int width, int height) {
  RECT rect{0, 0, width, height};
  AdjustWindowRectEx(&rect, static_cast<DWORD>(GetWindowLongPtrW(window, GWL_STYLE)), FALSE,
                     static_cast<DWORD>(GetWindowLongPtrW(window, GWL_EXSTYLE)));
  SetWindowPos(window, nullptr, 0, 0, rect.right - rect.left, rect.bottom - rect.top,
               SWP_NOMOVE | SWP_NOZORDER);
}

HMENU TestMenuBarMenu() {
  HMENU popup = CreatePopupMenu();
  AppendMenuW(popup, MF_STRING, kCommandCancel, L"Exit");
  HMENU menu = CreateMenu();
  AppendMenuW(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(popup), L"&Nulvane");
  return menu;
}

TEST_F(MainDialogTest, TheMenuBarSitsAtTheStripsLeftAboveItAndClearOfTheCornerToolbar) {
  Program().build_menu_bar_menu = TestMenuBarMenu;
  CSetFileTime dialog(u"");
  UiScript script;
  script.Do([&] {
    const HWND bar = MenuBar().toolbar();
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(GetParent(bar), dialog.Window());
    EXPECT_EQ(ButtonText(bar, kFirstBarButtonId), L"&Nulvane");
    const Rect place = ChildRect(bar);
    EXPECT_EQ(place.x, 0);
    EXPECT_GT(place.width, 0);
    EXPECT_LE(place.y + place.height,
              ChildRect(testing::ControlById(dialog.Window(), kTopStripId)).height);
    EXPECT_LT(place.x + place.width,
              ChildRect(testing::ControlById(dialog.Window(), kCornerToolbarId)).x);
    EXPECT_EQ(GetWindow(dialog.Window(), GW_CHILD), bar);  // on top of the strip
  });
  EXPECT_EQ(Run(dialog, script), 2);
  Program().build_menu_bar_menu = nullptr;
  EXPECT_TRUE(script.completed());
}

// Both toolbars, the item list with three rows, the message list and the status bar are
// visible and apart at the window's size.
void ExpectEverythingVisibleAndApart(const CSetFileTime& dialog) {
  RECT client{};
  GetClientRect(dialog.Window(), &client);
  const Rect list_toolbar = ChildRect(testing::ControlById(dialog.Window(), kListToolbarId));
  const Rect item_list = ChildRect(testing::ControlById(dialog.Window(), IDC_ITEM_LIST));
  const Rect message_list = ChildRect(testing::ControlById(dialog.Window(), IDC_MESSAGE_LIST));
  const Rect status_bar = ChildRect(testing::ControlById(dialog.Window(), kStatusBarId));
  const Rect bar = ChildRect(MenuBar().toolbar());
  RECT last_button{};
  const auto buttons = static_cast<int>(
      SendMessageW(testing::ControlById(dialog.Window(), kListToolbarId), TB_BUTTONCOUNT, 0, 0));
  SendMessageW(testing::ControlById(dialog.Window(), kListToolbarId), TB_GETITEMRECT, buttons - 1,
               reinterpret_cast<LPARAM>(&last_button));
  EXPECT_LE(list_toolbar.x + last_button.right, client.right) << "every list toolbar button";
  RECT first{};
  RECT second{};
  SendMessageW(testing::ControlById(dialog.Window(), kCornerToolbarId), TB_GETITEMRECT, 0,
               reinterpret_cast<LPARAM>(&first));
  SendMessageW(testing::ControlById(dialog.Window(), kCornerToolbarId), TB_GETITEMRECT, 1,
               reinterpret_cast<LPARAM>(&second));
  EXPECT_LT(bar.x + bar.width,
            ChildRect(testing::ControlById(dialog.Window(), kCornerToolbarId)).x + first.left)
      << "the menu bar and the corner toolbar apart";
  EXPECT_LE(list_toolbar.y + list_toolbar.height, item_list.y);
  // Three rows below the header.
  HWND header = reinterpret_cast<HWND>(
      SendMessageW(testing::ControlById(dialog.Window(), IDC_ITEM_LIST), LVM_GETHEADER, 0, 0));
  RECT header_rect{};
  GetWindowRect(header, &header_rect);
  EXPECT_GE(
      SendMessageW(testing::ControlById(dialog.Window(), IDC_ITEM_LIST), LVM_GETCOUNTPERPAGE, 0, 0),
      3);
  EXPECT_GT(item_list.height, header_rect.bottom - header_rect.top);
  EXPECT_LT(item_list.y + item_list.height, message_list.y);
  EXPECT_LE(message_list.y + message_list.height, status_bar.y);
  EXPECT_EQ(status_bar.y + status_bar.height, client.bottom);
  EXPECT_GE(ChildRect(testing::ControlById(dialog.Window(), kLinkButtonId)).x, 0);
}

TEST_F(MainDialogTest, LaysOutForTwoClientSizesAndKeepsAMinimumSize) {
  CSetFileTime dialog(u"");
  UiScript script;
  script.Do([&] {
    ASSERT_EQ(dialog.Dpi(), 96);
    for (const auto& [width, height] : {std::pair{640, 480}, std::pair{900, 620}}) {
      SCOPED_TRACE(width);
      SetClientSize(dialog.Window(), width, height);
      ExpectLayoutForClient(dialog, width, height, 96);
      ExpectEverythingVisibleAndApart(dialog);
    }
    // Far below the minimum: the window stops at it, and the layout rules still hold there.
    SetClientSize(dialog.Window(), 120, 150);
    RECT client{};
    GetClientRect(dialog.Window(), &client);
    EXPECT_GT(client.right, 120);
    EXPECT_GT(client.bottom, 150);
    ExpectLayoutForClient(dialog, client.right, client.bottom, 96);
    ExpectEverythingVisibleAndApart(dialog);
  });
  EXPECT_EQ(Run(dialog, script), 2);
  EXPECT_TRUE(script.completed());
}

// What the screen shows of `window`'s client area (the virtual display's pixels).
std::unique_ptr<testing::Canvas> ScreenOf(HWND window) {
  RECT client{};
  GetClientRect(window, &client);
  auto canvas = std::make_unique<testing::Canvas>(client.right, client.bottom, RGB(255, 0, 255));
  POINT origin{0, 0};
  ClientToScreen(window, &origin);
  HDC screen = GetDC(nullptr);
  BitBlt(canvas->dc(), 0, 0, client.right, client.bottom, screen, origin.x, origin.y, SRCCOPY);
  ReleaseDC(nullptr, screen);
  return canvas;
}

// The message list's empty rows are its own background from edge to edge, and the status bar
// shows its text: nothing of an earlier size is left standing.
void ExpectMessageListAndStatusBarPainted(const CSetFileTime& dialog) {
  const std::unique_ptr<testing::Canvas> list =
      ScreenOf(testing::ControlById(dialog.Window(), IDC_MESSAGE_LIST));
  const COLORREF background = static_cast<COLORREF>(
      SendMessageW(testing::ControlById(dialog.Window(), IDC_MESSAGE_LIST), LVM_GETBKCOLOR, 0, 0));
  // Below the header and the three legend lines.
  const int y = list->height() - 6;
  const RECT row{2, y, list->width() - 2, y + 1};
  EXPECT_EQ(list->CountPixels(row, background), row.right - row.left)
      << "the message list's last row, across its width";
  const std::unique_ptr<testing::Canvas> status =
      ScreenOf(testing::ControlById(dialog.Window(), kStatusBarId));
  const COLORREF face = GetSysColor(COLOR_BTNFACE);
  const RECT text{0, 2, std::min(160, status->width()), status->height() - 2};
  EXPECT_GT(status->CountPixelsOtherThan(text, face), 20) << "the status bar's text";
  if (::testing::Test::HasFailure()) {
    list->SaveBmp(L"Z:\\tmp\\nulvane-message-list.bmp");
    status->SaveBmp(L"Z:\\tmp\\nulvane-status-bar.bmp");
  }
}

TEST_F(MainDialogTest, AfterAMaximiseAndARestoreEveryControlIsPaintedAnew) {
  CSetFileTime dialog(u"");
  UiScript script;
  DWORD since = 0;
  const auto settle = [&] { return GetTickCount() - since > 700; };
  script
      .Do([&] {
        since = GetTickCount();
        // As the caption button and the system menu do.
        PostMessageW(dialog.Window(), WM_SYSCOMMAND, SC_MAXIMIZE, 0);
      })
      .WaitFor("the maximised window to settle", settle)
      .Do([&] {
        EXPECT_TRUE(IsZoomed(dialog.Window()));
        EXPECT_EQ(Column(testing::ControlById(dialog.Window(), IDC_MESSAGE_LIST), 0),
                  (std::vector<std::wstring>{L"Warning", L"Error", L"Info"}));
        EXPECT_EQ(StatusText(dialog), L"Items:0 // Total: 0.0 byte");
        ExpectMessageListAndStatusBarPainted(dialog);
        since = GetTickCount();
        PostMessageW(dialog.Window(), WM_SYSCOMMAND, SC_RESTORE, 0);
      })
      .WaitFor("the restored window to settle", settle)
      .Do([&] {
        EXPECT_FALSE(IsZoomed(dialog.Window()));
        ExpectMessageListAndStatusBarPainted(dialog);
        // A size larger than before, as a drag makes it.
        RECT window{};
        GetWindowRect(dialog.Window(), &window);
        since = GetTickCount();
        SetWindowPos(dialog.Window(), nullptr, 0, 0, window.right - window.left + 300,
                     window.bottom - window.top + 200, SWP_NOMOVE | SWP_NOZORDER);
      })
      .WaitFor("the larger window to settle", settle)
      .Do([&] { ExpectMessageListAndStatusBarPainted(dialog); });
  EXPECT_EQ(Run(dialog, script), 2);
  EXPECT_TRUE(script.completed());
}

TEST_F(MainDialogTest, CommandLineAndADropListRowsInStoreOrderWithTheSummary) {
  const std::wstring tree = folder_ / L"Tree";
  MakeTree(tree);
  const std::wstring other = folder_ / L"other file.txt";
  ZFolder::Write(other, "1234567");
  // A folder's tree, plus a path that names nothing, which adds nothing but a warning.
  CSetFileTime dialog(ToText(L"\"" + tree + L"\" " + (folder_ / L"missing")));
  UiScript script;
  const std::wstring t = Lower(tree);
  script
      .Do([&] {
        EXPECT_EQ(
            Column(testing::ControlById(dialog.Window(), IDC_ITEM_LIST), 0),
            (std::vector<std::wstring>{t, t + L"\\a.txt", t + L"\\sub", t + L"\\sub\\b.txt"}));
        EXPECT_EQ(Column(testing::ControlById(dialog.Window(), IDC_ITEM_LIST), 1),
                  (std::vector<std::wstring>{L"<DIR>", L"5.0 byte", L"<DIR>", L"3.0 byte"}));
        EXPECT_EQ(StatusText(dialog), L"Items:4 // Total: 8.0 byte");
        // The path that names nothing is named, as the console names it.
        EXPECT_EQ(TopMessage(dialog), folder_ / L"missing" + L": not found");
        PostDrop(dialog.Window(), {other});
      })
      .WaitFor("the dropped file's row",
               [&] {
                 return SendMessageW(testing::ControlById(dialog.Window(), IDC_ITEM_LIST),
                                     LVM_GETITEMCOUNT, 0, 0) == 5;
               })
      .Do([&] {
        EXPECT_EQ(CellText(testing::ControlById(dialog.Window(), IDC_ITEM_LIST), 0, 0),
                  Lower(other));
        EXPECT_EQ(StatusText(dialog), L"Items:5 // Total: 15.0 byte");
      });
  EXPECT_EQ(Run(dialog, script), 2);
  EXPECT_TRUE(script.completed());
}

TEST_F(MainDialogTest, ADropReadsPathsLongerThanFiveHundredNineteenCharacters) {
  // Nested folders until the file's path passes 519 characters.
  std::wstring deep = L"\\\\?\\" + folder_.path();
  while (deep.size() < 560) {
    deep += L"\\" + std::wstring(60, L'd');
    CreateDirectoryW(deep.c_str(), nullptr);
  }
  const std::wstring file = deep + L"\\long.txt";
  ZFolder::Write(file, "xy");
  const std::wstring plain = file.substr(4);
  ASSERT_GT(plain.size(), 519u);
  CSetFileTime dialog(u"");
  UiScript script;
  script.Do([&] { PostDrop(dialog.Window(), {plain}); })
      .WaitFor("the long path's row",
               [&] {
                 return SendMessageW(testing::ControlById(dialog.Window(), IDC_ITEM_LIST),
                                     LVM_GETITEMCOUNT, 0, 0) == 1;
               })
      .Do([&] { EXPECT_EQ(dialog.Items().SnapshotRows()[0].path.size(), plain.size()); });
  EXPECT_EQ(Run(dialog, script), 2);
  EXPECT_TRUE(script.completed());
}

TEST_F(MainDialogTest, DeleteWithDelayZeroDestroysTheFolderUnderZAndReenablesTheCommands) {
  const std::wstring tree = folder_ / L"Doomed";
  MakeTree(tree);
  CSetFileTime dialog(ToText(L"\"" + tree + L"\""));
  UiScript script;
  script.Do([&] { PostCommand(dialog, kCommandDelete); })
      .WaitFor(
          "the run's summary",
          [&] {
            return !CSetFileTime::WorkerActive() && StatusText(dialog) == L"100.0 % // Error: 0 ";
          },
          20000)
      .Do([&] {
        EXPECT_FALSE(ZFolder::Exists(tree));
        EXPECT_EQ(SendMessageW(testing::ControlById(dialog.Window(), IDC_ITEM_LIST),
                               LVM_GETITEMCOUNT, 0, 0),
                  0);
        EXPECT_EQ(WindowText(dialog.Window()), L"Nulvane");
        for (int command :
             {kCommandDelete, kCommandDeletePlus, kCommandOverwriteMenu, kCommandReset})
          EXPECT_TRUE(ButtonEnabled(testing::ControlById(dialog.Window(), kListToolbarId), command))
              << command;
        EXPECT_TRUE(
            ButtonEnabled(testing::ControlById(dialog.Window(), kCornerToolbarId), kCommandCancel));
      });
  EXPECT_EQ(Run(dialog, script), 2);
  EXPECT_TRUE(script.completed());
}

TEST_F(MainDialogTest, EscDuringTheCountdownAbortsKeepsEveryFileAndASecondEscCloses) {
  SetOption(settings::kDelayKey, 3);
  const std::wstring tree = folder_ / L"Kept";
  MakeTree(tree);
  CSetFileTime dialog(ToText(L"\"" + tree + L"\""));
  UiScript script;
  script.Do([&] { PostCommand(dialog, kCommandDelete); })
      .WaitFor("the countdown's first line",
               [&] { return TopMessage(dialog) == L"The begin in 3 sec. Abort with [ESC]"; })
      .Do([&] {
        for (int command :
             {kCommandDelete, kCommandDeletePlus, kCommandOverwriteMenu, kCommandReset})
          EXPECT_FALSE(
              ButtonEnabled(testing::ControlById(dialog.Window(), kListToolbarId), command))
              << command;
        EXPECT_FALSE(
            ButtonEnabled(testing::ControlById(dialog.Window(), kCornerToolbarId), kCommandCancel));
        EXPECT_TRUE(ButtonEnabled(testing::ControlById(dialog.Window(), kListToolbarId),
                                  kCommandDelayMenu));
        PostKey(testing::ControlById(dialog.Window(), IDC_ITEM_LIST), VK_ESCAPE);
      })
      .WaitFor(
          "the abort line", [&] { return TopMessage(dialog) == L"Abort // [ESC]"; }, 5000)
      .WaitFor("the worker's end", [] { return !CSetFileTime::WorkerActive(); })
      .Do([&] {
        EXPECT_TRUE(IsWindow(dialog.Window()));
        EXPECT_TRUE(ZFolder::Exists(tree + L"\\a.txt"));
        EXPECT_TRUE(ZFolder::Exists(tree + L"\\sub\\b.txt"));
        EXPECT_EQ(SendMessageW(testing::ControlById(dialog.Window(), IDC_ITEM_LIST),
                               LVM_GETITEMCOUNT, 0, 0),
                  4);
        EXPECT_TRUE(
            ButtonEnabled(testing::ControlById(dialog.Window(), kListToolbarId), kCommandDelete));
        PostKey(testing::ControlById(dialog.Window(), IDC_ITEM_LIST), VK_ESCAPE);
      });
  EXPECT_EQ(Run(dialog, script, /*close_at_end=*/false), 2);
  EXPECT_TRUE(script.completed());
}

// A close during a fill asks first, in a message box owned by the dialog.
TEST_F(MainDialogTest, CloseDuringAFillAsksAndOnlyYesEndsTheDialog) {
  engine::RunFlags& flags = engine::ProcessRunSession().flags();
  flags.fill_running.store(1);
  CSetFileTime dialog(u"");
  UiScript script;
  std::pair<HWND, HWND> box{nullptr, nullptr};
  const auto find_box = [&] {
    box.first = dialog.Window();
    box.second = nullptr;
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND window, LPARAM data) -> BOOL {
          auto* found = reinterpret_cast<std::pair<HWND, HWND>*>(data);
          if (GetWindow(window, GW_OWNER) == found->first && IsWindowVisible(window)) {
            found->second = window;
            return FALSE;
          }
          return TRUE;
        },
        reinterpret_cast<LPARAM>(&box));
    return box.second != nullptr;
  };
  script.Do([&] { PostCommand(dialog, kCommandCancel); })
      .WaitFor("the question", find_box)
      .Do([&] {
        EXPECT_EQ(WindowText(box.second), L"Cancel");
        PostMessageW(box.second, WM_COMMAND, IDNO, 0);
      })
      .WaitFor("the question to go", [&] { return !find_box(); })
      .Do([&] {
        EXPECT_TRUE(IsWindowVisible(dialog.Window()));
        EXPECT_EQ(flags.fill_running.load(), 1);
        PostCommand(dialog, kCommandCancel);
      })
      .WaitFor("the question again", find_box)
      .Do([&] { PostMessageW(box.second, WM_COMMAND, IDYES, 0); });
  EXPECT_EQ(Run(dialog, script, /*close_at_end=*/false), 2);
  EXPECT_TRUE(script.completed());
  EXPECT_EQ(flags.fill_running.load(), 0);
  flags.fill_running.store(0);
}

TEST_F(MainDialogTest, ADropDuringARunIsAddedAfterItAndNotDestroyed) {
  SetOption(settings::kDelayKey, 1);
  const std::wstring doomed = folder_ / L"Doomed";
  const std::wstring later = folder_ / L"Later";
  MakeTree(doomed);
  MakeTree(later);
  CSetFileTime dialog(ToText(L"\"" + doomed + L"\""));
  UiScript script;
  script.Do([&] { PostCommand(dialog, kCommandDelete); })
      .WaitFor("the run to disable Delete",
               [&] {
                 return !ButtonEnabled(testing::ControlById(dialog.Window(), kListToolbarId),
                                       kCommandDelete);
               })
      .Do([&] { PostDrop(dialog.Window(), {later}); })
      .WaitFor(
          "the run's end", [] { return !CSetFileTime::WorkerActive(); }, 20000)
      .Do([&] {
        EXPECT_FALSE(ZFolder::Exists(doomed));
        EXPECT_TRUE(ZFolder::Exists(later + L"\\sub\\b.txt"));
        const std::wstring l = Lower(later);
        EXPECT_EQ(
            Column(testing::ControlById(dialog.Window(), IDC_ITEM_LIST), 0),
            (std::vector<std::wstring>{l, l + L"\\a.txt", l + L"\\sub", l + L"\\sub\\b.txt"}));
      });
  EXPECT_EQ(Run(dialog, script), 2);
  EXPECT_TRUE(script.completed());
}

TEST_F(MainDialogTest, DpiChangeMovesToTheSuggestedRectangleAndScalesTheStrips) {
  CSetFileTime dialog(u"");
  UiScript script;
  script.Do([&] {
    ASSERT_EQ(dialog.Dpi(), 96);
    const Rect list96 = ChildRect(testing::ControlById(dialog.Window(), IDC_ITEM_LIST));
    RECT suggested{20, 30, 20 + 1000, 30 + 760};
    SendMessageW(dialog.Window(), WM_DPICHANGED, MAKEWPARAM(144, 144),
                 reinterpret_cast<LPARAM>(&suggested));
    EXPECT_EQ(dialog.Dpi(), 144);
    RECT window{};
    GetWindowRect(dialog.Window(), &window);
    EXPECT_EQ(window.left, 20);
    EXPECT_EQ(window.top, 30);
    EXPECT_EQ(window.right - window.left, 1000);
    EXPECT_EQ(window.bottom - window.top, 760);
    EXPECT_EQ(ChildRect(testing::ControlById(dialog.Window(), IDC_ITEM_LIST)).x,
              MulDiv(list96.x, 144, 96));
    RECT client{};
    GetClientRect(dialog.Window(), &client);
    ExpectLayoutForClient(dialog, client.right, client.bottom, 144);
    EXPECT_EQ(Column(testing::ControlById(dialog.Window(), IDC_MESSAGE_LIST), 0).size(), 3u);
  });
  EXPECT_EQ(Run(dialog, script), 2);
  EXPECT_TRUE(script.completed());
}

// At 144 DPI (the prefix's LogPixels, read when a process starts): run in a child process of
// this program, with the setting changed for its start and restored after.
constexpr wchar_t kDpiChildVariable[] = L"NULVANE_TEST_DPI_CHILD";

bool SetLogPixels(DWORD value, DWORD* previous) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", 0, nullptr, 0,
                      KEY_READ | KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  if (previous) {
    DWORD size = sizeof *previous;
    DWORD type = 0;
    if (RegQueryValueExW(key, L"LogPixels", nullptr, &type, reinterpret_cast<BYTE*>(previous),
                         &size) != ERROR_SUCCESS) {
      *previous = 0;
    }
  }
  LONG result;
  if (value == 0) {
    result = RegDeleteValueW(key, L"LogPixels");
  } else {
    result = RegSetValueExW(key, L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                            sizeof value);
  }
  RegCloseKey(key);
  return result == ERROR_SUCCESS;
}

TEST_F(MainDialogTest, At144DpiEveryStripIsScaled) {
  if (GetEnvironmentVariableW(kDpiChildVariable, nullptr, 0) == 0) {
    DWORD previous = 0;
    ASSERT_TRUE(SetLogPixels(144, &previous));
    const int code =
        testing::RunThisProgram(L"--gtest_filter=MainDialogTest.At144DpiEveryStripIsScaled",
                                {std::wstring(kDpiChildVariable) + L"=1"}, 90000);
    SetLogPixels(previous, nullptr);
    EXPECT_EQ(code, 0);
    return;
  }
  CSetFileTime dialog(u"");
  UiScript script;
  script.Do([&] {
    ASSERT_EQ(dialog.Dpi(), 144);
    RECT client{};
    GetClientRect(dialog.Window(), &client);
    ExpectLayoutForClient(dialog, client.right, client.bottom, 144);
    SetClientSize(dialog.Window(), 1100, 800);
    ExpectLayoutForClient(dialog, 1100, 800, 144);
    EXPECT_EQ(SendMessageW(testing::ControlById(dialog.Window(), IDC_ITEM_LIST), LVM_GETCOLUMNWIDTH,
                           0, 0),
              495);
  });
  EXPECT_EQ(Run(dialog, script), 2);
  EXPECT_TRUE(script.completed());
}

}  // namespace
}  // namespace nulvane::app
