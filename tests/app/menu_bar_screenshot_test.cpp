// Holds a popup of the bar open for scripts/screenshot_menu_bar.sh: a File menu with shell
// icons, a check mark, a disabled item, shortcuts after tabs and a submenu. Run only by that
// script (it is disabled in the suite). NULVANE_SCREENSHOT_DIR names a folder: the test writes
// "open" there once the popup shows and keeps it open until the script writes "done" (at most
// 20 s).
#include <cstdlib>
#include <string>

#include "app/system_icons.h"
#include "menu_bar_fixture.h"

namespace nulvane::app::testing {
namespace {

bool FileExists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

TEST_F(MenuBarTest, DISABLED_HoldAPopupOpenForAScreenshot) {
  const wchar_t* folder = _wgetenv(L"NULVANE_SCREENSHOT_DIR");
  ASSERT_NE(folder, nullptr) << "NULVANE_SCREENSHOT_DIR is not set";
  const std::wstring open_marker = std::wstring(folder) + L"\\open";
  const std::wstring done_marker = std::wstring(folder) + L"\\done";

  CUniSysIco icons;
  struct {
    int shell_id;
    int command;
  } wanted[] = {{4, 1001}, {3, 1002}, {32, 1004}, {33, 1005}, {16, 1007}};
  for (const auto& entry : wanted) {
    HICON icon = icons.LoadShellIcon(entry.shell_id, 0);
    // A missing shell icon leaves its item without one.
    if (icon) bar_.AddIcon(icon, entry.command);
    if (icon) DestroyIcon(icon);
  }
  HMENU recent = CreatePopupMenu();
  AppendMenuW(recent, MF_STRING, 1101, L"&1 letters");
  AppendMenuW(recent, MF_STRING, 1102, L"&2 old photos");
  HMENU file = CreatePopupMenu();
  AppendMenuW(file, MF_STRING, 1001, L"&Add files...\tIns");
  AppendMenuW(file, MF_STRING, 1002, L"Add &folder...");
  AppendMenuW(file, MF_STRING | MF_CHECKED, 1003, L"&Send To menu");
  AppendMenuW(file, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(file, MF_STRING, 1004, L"&Delete\tDel");
  AppendMenuW(file, MF_STRING | MF_GRAYED, 1005, L"Delete + &shut down");
  AppendMenuW(file, MF_POPUP, reinterpret_cast<UINT_PTR>(recent), L"&Recent");
  AppendMenuW(file, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(file, MF_STRING, 1007, L"E&xit\tAlt+F4");
  SetMenuDefaultItem(file, 1004, FALSE);
  HMENU menu = CreateMenu();
  AppendMenuW(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(file), L"&File");
  AppendMenuW(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(CreatePopupMenu()), L"&Options");
  AppendMenuW(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(CreatePopupMenu()), L"&Help");
  bar_.SetBarMenu(menu);

  UiScript script;
  WaitOpen(script, 0)
      .Do([&] { PostKey(toolbar_, VK_DOWN); })
      .Do([&] { PostKey(toolbar_, VK_DOWN); })
      .WaitFor("the second item highlighted", [&] { return HighlightedItem(file) == 1; })
      .Do([&] {
        HANDLE marker =
            CreateFileW(open_marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        if (marker != INVALID_HANDLE_VALUE) CloseHandle(marker);
      })
      .WaitFor(
          "the screenshot", [&] { return FileExists(done_marker); }, 20000)
      .Do([&] { EndMenus(); });
  Run(script, [&] { ClickButton(0); });
  EXPECT_TRUE(script.completed());
}

}  // namespace
}  // namespace nulvane::app::testing
