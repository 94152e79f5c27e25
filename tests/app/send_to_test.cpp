// The Send-To shortcut from the window's menu bar, in the test prefix's own Send To folder: the
// shortcut's target and description, the check mark each time the menu opens, and the real
// menu-bar menu in German.
#include <windows.h>
#undef DeleteFile

#include <commctrl.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/main_dialog.h"
#include "app/menu_bar.h"
#include "app/menu_item_text.h"
#include "app/menus.h"
#include "app/program.h"
#include "dialog_script.h"
#include "gui_harness.h"
#include "lang/language_table.h"
#include "platform/system.h"
#include "recording_launcher.h"
#include "settings/settings.h"
#include "shortcut_reader.h"

namespace nulvane::app {
namespace {

using testing::IsMenuOpen;
using testing::LinkContents;
using testing::OpenMenuCount;
using testing::PostKey;
using testing::ReadLink;
using testing::RecordingLauncher;
using testing::RunScripted;
using testing::UiScript;

std::wstring W(const Text& text) { return std::wstring(text.begin(), text.end()); }

bool Exists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::wstring ModulePath() { return W(platform::ExecutablePath()); }

class SendToTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static const bool loaded = lang::LoadLanguageTable();
    ASSERT_TRUE(loaded);
    lang::Table().SetCurrentLanguage(1);
    link_ = W(CSendTo::LinkPath(kProgramName));
    ASSERT_FALSE(link_.empty()) << "the prefix has a Send To folder";
    ASSERT_EQ(link_.rfind(L"\\Nulvane.lnk"), link_.size() - 12);
    CreateDirectoryW(W(CSendTo::SendToFolder()).c_str(), nullptr);
    Clean();
  }
  void TearDown() override {
    Clean();
    lang::Table().SetCurrentLanguage(1);
  }
  void Clean() const {
    DeleteFileW(link_.c_str());
    RemoveDirectoryW(link_.c_str());
  }
  static void Post(const CSetFileTime& dialog, int command) {
    PostMessageW(dialog.Window(), WM_COMMAND, static_cast<WPARAM>(command), 0);
  }
  // Opens the menu bar's only popup with a click on its button, as the user does.
  static void ClickMenuBar(const CSetFileTime& dialog) {
    RECT rect{};
    SendMessageW(MenuBar().toolbar(), TB_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&rect));
    PostMessageW(MenuBar().toolbar(), WM_LBUTTONDOWN, MK_LBUTTON,
                 MAKELPARAM((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2));
  }
  static HMENU BarPopup() { return GetSubMenu(MenuBar().menu(), 0); }
  static bool AddEntryChecked() {
    return (GetMenuState(MenuBar().menu(), kMenuCommandAddSendTo, MF_BYCOMMAND) & MF_CHECKED) != 0;
  }
  // Opens the popup, records the Send-To entry's mark in `checked`, and closes it again.
  static void LookAtMark(UiScript& script, const CSetFileTime& dialog, bool& checked) {
    const CSetFileTime* target = &dialog;
    script.Do([target] { ClickMenuBar(*target); })
        .WaitFor("the menu bar's popup", [] { return IsMenuOpen(BarPopup()); })
        .Do([&checked] { checked = AddEntryChecked(); })
        .Do([target] { PostKey(target->Window(), VK_ESCAPE); })
        .WaitFor("the popup to close", [target] {
          if (OpenMenuCount() == 0 && MenuBar().tracking()) PostKey(target->Window(), VK_ESCAPE);
          return OpenMenuCount() == 0 && !MenuBar().tracking();
        });
  }

  std::wstring link_;
};

TEST_F(SendToTest, AddSetsTheMarkRemoveClearsItAndEditOpensTheFolder) {
  RecordingLauncher launcher;
  CSetFileTime dialog(u"");
  bool before = true;
  bool after_add = false;
  bool after_second_add = false;
  bool after_remove = true;
  UiScript script;
  LookAtMark(script, dialog, before);
  // Chosen in the menu bar's popup with the keys, as a user does.
  script.Do([&] { ClickMenuBar(dialog); })
      .WaitFor("the menu bar's popup", [] { return IsMenuOpen(BarPopup()); })
      .Do([&] { PostKey(dialog.Window(), VK_HOME); })
      // One Down at a time (separators are skipped), each once the last has moved the mark.
      .WaitFor("the entry to be highlighted",
               [&, moved_from = -2]() mutable {
                 const int at = testing::HighlightedItem(BarPopup());
                 if (at == 9) return true;
                 if (at != moved_from && at >= 0) {
                   moved_from = at;
                   PostKey(dialog.Window(), VK_DOWN);
                 }
                 return false;
               })
      .Do([&] {
        EXPECT_EQ(GetMenuItemID(BarPopup(), 9), static_cast<UINT>(kMenuCommandAddSendTo));
        PostKey(dialog.Window(), VK_RETURN);
      })
      .WaitFor("the shortcut", [&] { return Exists(link_); })
      .Do([&] {
        const LinkContents contents = ReadLink(link_);
        EXPECT_EQ(contents.target, ModulePath());
        EXPECT_EQ(contents.description, L"Nulvane");
      });
  LookAtMark(script, dialog, after_add);
  // Adding again replaces what stands under the shortcut's name.
  script
      .Do([&] {
        const HANDLE file = CreateFileW(link_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        CloseHandle(file);
        ASSERT_TRUE(ReadLink(link_).target.empty());
        Post(dialog, kMenuCommandAddSendTo);
      })
      .WaitFor("the shortcut again", [&] { return ReadLink(link_).target == ModulePath(); });
  LookAtMark(script, dialog, after_second_add);
  script.Do([&] { Post(dialog, kMenuCommandRemoveSendTo); }).WaitFor("the shortcut to go", [&] {
    return !Exists(link_);
  });
  LookAtMark(script, dialog, after_remove);
  script
      .Do([&] {
        // Removing a missing shortcut changes nothing.
        Post(dialog, kMenuCommandRemoveSendTo);
        Post(dialog, kMenuCommandOpenSendTo);
      })
      .WaitFor("the folder to be opened", [&] { return launcher.opened.size() == 1; })
      .Do([&] {
        EXPECT_EQ(launcher.opened.front(), W(CSendTo::SendToFolder()));
        EXPECT_FALSE(Exists(link_));
        Post(dialog, kCommandCancel);
      });
  EXPECT_EQ(RunScripted(dialog, script), 2);
  EXPECT_FALSE(before);
  EXPECT_TRUE(after_add);
  EXPECT_TRUE(after_second_add);
  EXPECT_FALSE(after_remove);
}

TEST_F(SendToTest, AFolderNamedLikeTheShortcutIsNotItAndIsNeverRemoved) {
  ASSERT_TRUE(CreateDirectoryW(link_.c_str(), nullptr));
  const CSendTo& send_to = SendTo();
  EXPECT_FALSE(send_to.IsInSendTo(kProgramName));
  EXPECT_FALSE(send_to.RemoveFromSendTo(kProgramName));
  EXPECT_TRUE(GetFileAttributesW(link_.c_str()) & FILE_ATTRIBUTE_DIRECTORY);
  // A shortcut cannot take the folder's place either.
  EXPECT_TRUE(FAILED(send_to.AddToSendTo(kProgramName)));
  EXPECT_FALSE(send_to.IsInSendTo(kProgramName));
  EXPECT_TRUE(GetFileAttributesW(link_.c_str()) & FILE_ATTRIBUTE_DIRECTORY);
}

TEST_F(SendToTest, TheMenuBarMenuInGermanHoldsEveryEntryWithItsId) {
  lang::Table().SetCurrentLanguage(0);
  CSetFileTime dialog(u"");
  UiScript script;
  script.Do([&] {
    HMENU popup = BarPopup();
    ASSERT_NE(popup, nullptr);
    ASSERT_EQ(GetMenuItemCount(popup), 18);
    const UINT ids[] = {32776, 0,     32826, 32827, 32828, 0,     32791, 0xFFFFFFFF, 0,
                        32797, 32798, 32799, 0,     32794, 32793, 32795, 0,          2};
    for (int i = 0; i < 18; ++i) {
      SCOPED_TRACE(i);
      if (ids[i] == 0xFFFFFFFF) {
        ASSERT_NE(GetSubMenu(popup, i), nullptr) << "the fill submenu";
      } else {
        EXPECT_EQ(GetMenuItemID(popup, i), ids[i]);
      }
    }
    const MenuModel model = MenuBarMenu(lang::Table(), false);
    EXPECT_EQ(MenuItemText(popup, 0), W(model[0].submenu[0].text));
    EXPECT_EQ(MenuItemText(popup, 7), W(model[0].submenu[7].text));
    EXPECT_EQ(MenuItemText(popup, 2), L"Dateien hinzuf\u00FCgen\u2026");
    HMENU fill = GetSubMenu(popup, 7);
    ASSERT_EQ(GetMenuItemCount(fill), 4);
    for (UINT i = 0; i < 4; ++i) EXPECT_EQ(GetMenuItemID(fill, static_cast<int>(i)), 32806 + i);
    EXPECT_EQ(MenuItemText(fill, 3), L"Programm Beenden + PC Standby");
    EXPECT_EQ(MenuItemText(popup, 17), W(Text(lang::Txt(lang::TextId::kExit))));
    Post(dialog, kCommandCancel);
  });
  EXPECT_EQ(RunScripted(dialog, script), 2);
}

}  // namespace
}  // namespace nulvane::app
