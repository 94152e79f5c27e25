// A host dialog with the program's bar in it and a small menu, for the menu bar's tests.
#pragma once

#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <string>

#include "app/menu_bar.h"
#include "gui_harness.h"

namespace nulvane::app::testing {

// Commands of the test menu.
enum TestCommand : int {
  kOpen = 101,
  kSave = 102,
  kExit = 103,
  kRecentOne = 111,
  kCopy = 201,
  kCut = 202,
  kAbout = 301,
};

// "&File" (Open\tCtrl+O, Save checked, separator, Exit, Recent ▸ One), "&Edit" (Copy, Cut
// disabled), "&Help" (About).
inline HMENU BuildTestMenu() {
  HMENU recent = CreatePopupMenu();
  AppendMenuW(recent, MF_STRING, kRecentOne, L"&One");
  HMENU file = CreatePopupMenu();
  AppendMenuW(file, MF_STRING, kOpen, L"&Open\tCtrl+O");
  AppendMenuW(file, MF_STRING | MF_CHECKED, kSave, L"&Save");
  AppendMenuW(file, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(file, MF_STRING, kExit, L"E&xit");
  AppendMenuW(file, MF_POPUP, reinterpret_cast<UINT_PTR>(recent), L"&Recent");
  HMENU edit = CreatePopupMenu();
  AppendMenuW(edit, MF_STRING, kCopy, L"&Copy");
  AppendMenuW(edit, MF_STRING | MF_GRAYED, kCut, L"C&ut");
  HMENU help = CreatePopupMenu();
  AppendMenuW(help, MF_STRING, kAbout, L"&About");
  HMENU bar = CreateMenu();
  AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(file), L"&File");
  AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(edit), L"&Edit");
  AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(help), L"&Help");
  return bar;
}

// A `size` × `size` icon of one opaque colour.
inline HICON SolidIcon(COLORREF colour, int size = 16) {
  HDC screen = GetDC(nullptr);
  HBITMAP colour_bitmap = CreateCompatibleBitmap(screen, size, size);
  HDC dc = CreateCompatibleDC(screen);
  HGDIOBJ old = SelectObject(dc, colour_bitmap);
  HBRUSH brush = CreateSolidBrush(colour);
  RECT all{0, 0, size, size};
  FillRect(dc, &all, brush);
  DeleteObject(brush);
  SelectObject(dc, old);
  DeleteDC(dc);
  ReleaseDC(nullptr, screen);
  // The mask's rows are padded to 16 bits: an opaque mask of any size.
  std::string zeros(static_cast<std::size_t>((size + 15) / 16 * 2 * size), '\0');
  HBITMAP mask = CreateBitmap(size, size, 1, 1, zeros.data());
  ICONINFO info{TRUE, 0, 0, mask, colour_bitmap};
  HICON icon = CreateIconIndirect(&info);
  DeleteObject(mask);
  DeleteObject(colour_bitmap);
  return icon;
}

class MenuBarTest : public ::testing::Test {
 protected:
  void SetUp() override {
    toolbar_ = bar_.CreateBar(dialog_.hwnd());
    ASSERT_NE(toolbar_, nullptr);
  }

  // Sets the test menu (with its icon for Open) and returns it.
  HMENU UseTestMenu() {
    HMENU menu = BuildTestMenu();
    bar_.SetBarMenu(menu);
    return menu;
  }
  HMENU Popup(int index) const { return GetSubMenu(bar_.menu(), index); }

  RECT ButtonRect(int index) const {
    RECT rect{};
    SendMessageW(toolbar_, TB_GETITEMRECT, static_cast<WPARAM>(index),
                 reinterpret_cast<LPARAM>(&rect));
    return rect;
  }
  POINT ButtonScreenCentre(int index) const { return ScreenCentre(toolbar_, ButtonRect(index)); }
  // A click on button `index`, as the toolbar receives it (client coordinates).
  void ClickButton(int index) {
    const RECT rect = ButtonRect(index);
    SendMessageW(toolbar_, WM_LBUTTONDOWN, MK_LBUTTON,
                 MAKELPARAM((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2));
  }

  // Starts `script`, runs `start` (which may enter a menu loop) and handles messages until the
  // script is done and every menu of the bar is closed again.
  void Run(UiScript& script, const std::function<void()>& start) {
    script.Start();
    start();
    const bool ended =
        PumpUntil([&] { return script.done() && OpenMenuCount() == 0 && !bar_.tracking(); }, 8000);
    EXPECT_TRUE(ended) << "the menus did not close";
    PumpMessages();
  }
  UiScript& WaitOpen(UiScript& script, int index) {
    return script.WaitFor("popup " + std::to_string(index) + " open",
                          [this, index] { return IsMenuOpen(Popup(index)); });
  }

  TestDialog dialog_;
  CWinCmdBar2 bar_;
  HWND toolbar_ = nullptr;
};

}  // namespace nulvane::app::testing
