// The harness itself: steps run inside a popup menu's modal loop, posted keys reach the menu,
// the chosen command reaches the host dialog, and a script that waits in vain ends the menu.
#include <windows.h>

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include "gui_harness.h"

namespace nulvane::app::testing {
namespace {

struct PopupMenu {
  PopupMenu() {
    menu = CreatePopupMenu();
    AppendMenuW(menu, MF_STRING, 101, L"&First");
    AppendMenuW(menu, MF_STRING, 102, L"&Second");
  }
  ~PopupMenu() { DestroyMenu(menu); }
  HMENU menu;
};

TEST(GuiHarness, ScriptDrivesAPopupMenuAndTheCommandReachesTheDialog) {
  TestDialog dialog;
  PopupMenu popup;
  UiScript script;
  script.WaitFor("the popup to open", [&] { return IsMenuOpen(popup.menu); })
      .Do([&] { PostKey(dialog.hwnd(), VK_DOWN); })
      .Do([&] { PostKey(dialog.hwnd(), VK_DOWN); })
      .WaitFor("the second item to be highlighted",
               [&] { return HighlightedItem(popup.menu) == 1; })
      .Do([&] { PostKey(dialog.hwnd(), VK_RETURN); });
  script.Start();
  TrackPopupMenu(popup.menu, TPM_LEFTALIGN | TPM_TOPALIGN, 100, 100, 0, dialog.hwnd(), nullptr);
  PumpUntil([&] { return !dialog.commands().empty(); }, 1000);
  EXPECT_TRUE(script.completed());
  EXPECT_EQ(dialog.commands(), std::vector<int>{102});
  EXPECT_EQ(OpenMenuCount(), 0);
}

TEST(GuiHarness, AConditionThatNeverComesFailsAndEndsTheMenu) {
  TestDialog dialog;
  PopupMenu popup;
  UiScript script;
  script.WaitFor(
      "something that never happens", [] { return false; }, 200);
  script.Start();
  ::testing::TestPartResultArray failures;
  {
    ::testing::ScopedFakeTestPartResultReporter reporter(
        ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &failures);
    TrackPopupMenu(popup.menu, TPM_LEFTALIGN | TPM_TOPALIGN, 100, 100, 0, dialog.hwnd(), nullptr);
  }
  EXPECT_FALSE(script.completed());
  ASSERT_EQ(failures.size(), 1);
  EXPECT_NE(std::string(failures.GetTestPartResult(0).message()).find("never happens"),
            std::string::npos);
  EXPECT_EQ(OpenMenuCount(), 0);
}

TEST(GuiHarness, CancelModalLoopsFromAnotherThreadEndsTheMenu) {
  TestDialog dialog;
  PopupMenu popup;
  const DWORD ui_thread = GetCurrentThreadId();
  HANDLE helper = CreateThread(
      nullptr, 0,
      [](void* thread) -> DWORD {
        Sleep(300);
        CancelModalLoops(static_cast<DWORD>(reinterpret_cast<UINT_PTR>(thread)));
        return 0;
      },
      reinterpret_cast<void*>(static_cast<UINT_PTR>(ui_thread)), 0, nullptr);
  ASSERT_NE(helper, nullptr);
  const DWORD start = GetTickCount();
  TrackPopupMenu(popup.menu, TPM_LEFTALIGN | TPM_TOPALIGN, 100, 100, 0, dialog.hwnd(), nullptr);
  const DWORD elapsed = GetTickCount() - start;
  WaitForSingleObject(helper, INFINITE);
  CloseHandle(helper);
  EXPECT_LT(elapsed, 10000u);
  EXPECT_EQ(OpenMenuCount(), 0);
}

// Run only in a child process by the watchdog tests below.
TEST(GuiHarnessChild, DISABLED_MenuThatNobodyEnds) {
  TestDialog dialog;
  PopupMenu popup;
  TrackPopupMenu(popup.menu, TPM_LEFTALIGN | TPM_TOPALIGN, 100, 100, 0, dialog.hwnd(), nullptr);
}
TEST(GuiHarnessChild, DISABLED_LoopWithoutMessages) { Sleep(INFINITE); }

TEST(GuiHarness, WatchdogEndsAHangingMenuAndFailsTheTest) {
  std::string output;
  const int code = RunThisProgram(
      L"--gtest_also_run_disabled_tests --gtest_filter=GuiHarnessChild.DISABLED_MenuThatNobodyEnds",
      {L"NULVANE_GUI_TEST_TIMEOUT=1"}, 60000, &output);
  EXPECT_EQ(code, 1) << output;  // a failed test: the menu was ended and the program went on
  EXPECT_NE(output.find("cancelling its modal loops"), std::string::npos) << output;
}

TEST(GuiHarness, WatchdogEndsAProgramThatCannotBeWoken) {
  std::string output;
  const int code = RunThisProgram(
      L"--gtest_also_run_disabled_tests "
      L"--gtest_filter=GuiHarnessChild.DISABLED_LoopWithoutMessages",
      {L"NULVANE_GUI_TEST_TIMEOUT=1"}, 60000, &output);
  EXPECT_EQ(code, 3) << output;
  EXPECT_NE(output.find("ending the test program"), std::string::npos) << output;
}

TEST(GuiHarness, CanvasReadsBackWhatWasDrawn) {
  Canvas canvas(20, 10, RGB(255, 255, 255));
  RECT box{2, 3, 6, 5};
  HBRUSH red = CreateSolidBrush(RGB(255, 0, 0));
  FillRect(canvas.dc(), &box, red);
  DeleteObject(red);
  EXPECT_EQ(canvas.Pixel(2, 3), RGB(255, 0, 0));
  EXPECT_EQ(canvas.Pixel(6, 3), RGB(255, 255, 255));
  EXPECT_EQ(canvas.CountPixels(RECT{0, 0, 20, 10}, RGB(255, 0, 0)), 8);
  const RECT bounds = canvas.BoundsOfPixelsOtherThan(RECT{0, 0, 20, 10}, RGB(255, 255, 255));
  EXPECT_EQ(bounds.left, 2);
  EXPECT_EQ(bounds.top, 3);
  EXPECT_EQ(bounds.right, 6);
  EXPECT_EQ(bounds.bottom, 5);
}

}  // namespace
}  // namespace nulvane::app::testing
