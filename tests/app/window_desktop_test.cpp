// The real main dialog on the desktop as Windows runs it where Wine does not: a move to a
// monitor of another DPI (WM_DPICHANGED as Windows sends it, with the dialog manager's own step
// after it), read back from the window's rectangles and fonts; and the message filter that lets
// an elevated window take Explorer's drops; and a standby that the PC cannot do.
#include <windows.h>
#undef DeleteFile

#include <commctrl.h>

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "app/main_dialog.h"
#include "app/menus.h"
#include "app/program.h"
#include "dialog_script.h"
#include "fake_desktop.h"
#include "gui_harness.h"
#include "lang/language_table.h"
#include "recording_launcher.h"
#include "settings/settings.h"

namespace nulvane::app {
namespace {

using testing::FakeDesktop;
using testing::RunScripted;
using testing::UiScript;

RECT ChildRect(HWND child) {
  RECT rect{};
  GetWindowRect(child, &rect);
  MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

// The height of the font a control draws with (0 when it has none of its own).
LONG FontHeight(HWND window) {
  const auto font = reinterpret_cast<HFONT>(SendMessageW(window, WM_GETFONT, 0, 0));
  LOGFONTW description{};
  if (!font || GetObjectW(font, sizeof description, &description) != sizeof description) return 0;
  return description.lfHeight;
}

// What a DPI change must bring to every bar of the window, as read back from it.
struct BarsAtDpi {
  std::map<std::string, LONG> font_heights;
  RECT item_list{};
  LONG menu_bar_height = 0;
  int menu_icon_size = 0;

  static BarsAtDpi Read(const CSetFileTime& dialog) {
    BarsAtDpi bars;
    const std::pair<const char*, HWND> windows[] = {
        {"status bar", testing::ControlById(dialog.Window(), kStatusBarId)},
        {"list toolbar", testing::ControlById(dialog.Window(), kListToolbarId)},
        {"corner toolbar", testing::ControlById(dialog.Window(), kCornerToolbarId)},
        {"link button", testing::ControlById(dialog.Window(), kLinkButtonId)},
        {"menu bar", MenuBar().toolbar()}};
    for (const auto& [name, window] : windows) bars.font_heights[name] = FontHeight(window);
    bars.item_list = ChildRect(testing::ControlById(dialog.Window(), IDC_ITEM_LIST));
    const RECT bar = ChildRect(MenuBar().toolbar());
    bars.menu_bar_height = bar.bottom - bar.top;
    int height = 0;
    if (MenuBar().image_list()) {
      ImageList_GetIconSize(MenuBar().image_list(), &bars.menu_icon_size, &height);
    }
    return bars;
  }
};

class WindowDesktopTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static const bool loaded = lang::LoadLanguageTable();
    ASSERT_TRUE(loaded);
    folder_ = testing::NewScratchFolder(L"nulvane-desktop-");
    ASSERT_FALSE(folder_.empty());
    ini_ = folder_ + L"\\nulvane.ini";
    settings::UseSettingsFile(Text(ini_.begin(), ini_.end()));
    lang::Table().SetCurrentLanguage(1);
  }
  void TearDown() override {
    EXPECT_TRUE(testing::PumpUntil([] { return !CSetFileTime::WorkerActive(); }, 10000));
    DeleteFileW(ini_.c_str());
    RemoveDirectoryW(folder_.c_str());
  }
  static void Close(const CSetFileTime& dialog) {
    PostMessageW(dialog.Window(), WM_COMMAND, kCommandCancel, 0);
  }

  FakeDesktop desktop_;
  std::wstring folder_;
  std::wstring ini_;
};

TEST_F(WindowDesktopTest, AMoveToAnotherDpiGivesEveryBarItsFontsAndSizesAndScalesNothingTwice) {
  CSetFileTime dialog(u"");
  UiScript script;
  script
      .Do([&] {
        ASSERT_EQ(dialog.Dpi(), 96);
        const BarsAtDpi at96 = BarsAtDpi::Read(dialog);
        for (const auto& [name, height] : at96.font_heights) ASSERT_NE(height, 0) << name;
        ASSERT_EQ(at96.menu_bar_height, 20);
        ASSERT_EQ(at96.menu_icon_size, 16);

        const RECT suggested{30, 20, 30 + 1080, 20 + 800};
        desktop_.SendDpiChanged(dialog.Window(), 96, 144, suggested);
        RECT window{};
        GetWindowRect(dialog.Window(), &window);
        EXPECT_EQ(window.left, suggested.left);
        EXPECT_EQ(window.top, suggested.top);
        EXPECT_EQ(window.right, suggested.right);
        EXPECT_EQ(window.bottom, suggested.bottom);
        const BarsAtDpi at144 = BarsAtDpi::Read(dialog);
        for (const auto& [name, height] : at96.font_heights) {
          EXPECT_EQ(at144.font_heights.at(name), MulDiv(height, 144, 96)) << name;
        }
        EXPECT_EQ(at144.menu_bar_height, 30);
        EXPECT_EQ(at144.menu_icon_size, 24);
        // Scaled once, by the window itself: the dialog manager's own step is turned off.
        EXPECT_EQ(at144.item_list.left, MulDiv(at96.item_list.left, 144, 96));
        EXPECT_EQ(at144.item_list.top, MulDiv(at96.item_list.top, 144, 96));

        // And back: the sizes of the start, not a drift.
        desktop_.SendDpiChanged(dialog.Window(), 144, 96, RECT{30, 20, 30 + 720, 20 + 540});
        const BarsAtDpi back = BarsAtDpi::Read(dialog);
        EXPECT_EQ(back.font_heights, at96.font_heights);
        EXPECT_EQ(back.menu_bar_height, 20);
        EXPECT_EQ(back.menu_icon_size, 16);
        EXPECT_EQ(back.item_list.left, at96.item_list.left);
        EXPECT_EQ(back.item_list.top, at96.item_list.top);
      })
      .Do([&] { Close(dialog); });
  EXPECT_EQ(RunScripted(dialog, script), 2);
}

TEST_F(WindowDesktopTest, OnlyTheShellsDropAndTaskbarMessagesPassTheMessageFilter) {
  CSetFileTime dialog(u"");
  UiScript script;
  script
      .Do([&] {
        ASSERT_EQ(desktop_.filter_calls.size(), 3u);
        EXPECT_EQ(desktop_.filter_calls[0].message, static_cast<UINT>(WM_DROPFILES));
        EXPECT_EQ(desktop_.filter_calls[1].message, 0x0049u);  // WM_COPYGLOBALDATA
        EXPECT_EQ(desktop_.filter_calls[2].message,
                  RegisterWindowMessageW(L"TaskbarButtonCreated"));
        for (const FakeDesktop::FilterCall& call : desktop_.filter_calls) {
          EXPECT_EQ(call.window, dialog.Window());
          EXPECT_TRUE(call.accepted) << "the system refused message " << call.message;
        }
      })
      .Do([&] { Close(dialog); });
  EXPECT_EQ(RunScripted(dialog, script), 2);
}

// "Delete + / end the program and standby" on a PC without a sleep state: the run deletes, no
// countdown opens, the message list says why, and the window stays open.
TEST_F(WindowDesktopTest, AStandbyThePcCannotDoIsAnErrorLineAndTheWindowStaysOpen) {
  settings::PutOptionInt(settings::kPassesKey, 1);
  settings::PutOptionInt(settings::kDelayKey, 0);
  testing::RecordingLauncher launcher;
  launcher.standby_possible.store(false);
  const std::wstring path = folder_ + L"\\doomed.txt";
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  CloseHandle(file);
  const std::wstring quoted = L"\"" + path + L"\"";
  CSetFileTime dialog(Text(quoted.begin(), quoted.end()));
  UiScript script;
  script.Do([&] { PostMessageW(dialog.Window(), WM_COMMAND, kMenuCommandEndAndStandby, 0); })
      .WaitFor(
          "the run and its after-run step", [] { return !CSetFileTime::WorkerActive(); }, 10000)
      .Do([&] {
        EXPECT_EQ(GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES);
        EXPECT_EQ(testing::ListViewText(testing::ControlById(dialog.Window(), IDC_MESSAGE_LIST), 0),
                  L"Standby is not possible on this PC: it has no sleep state that a program "
                  L"can start");
        EXPECT_TRUE(launcher.PowerCalls().empty());
        EXPECT_TRUE(IsWindowVisible(dialog.Window()));
      })
      .Do([&] { Close(dialog); });
  EXPECT_EQ(RunScripted(dialog, script), 2);
}

}  // namespace
}  // namespace nulvane::app
