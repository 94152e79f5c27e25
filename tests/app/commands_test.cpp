// The main dialog's option popups, chosen by posted keys inside their own tracking loop: what
// each popup shows, what reaches the settings file (read back from the file) and the labels
// afterwards.
#include <windows.h>
#undef DeleteFile

#include <commctrl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/launcher.h"
#include "app/main_dialog.h"
#include "app/menu_item_text.h"
#include "app/menus.h"
#include "dialog_script.h"
#include "gui_harness.h"
#include "lang/language_table.h"
#include "lang/translation_export.h"
#include "platform/file_system.h"
#include "recording_launcher.h"
#include "settings/settings.h"

namespace nulvane::app {
namespace {

using testing::HighlightedItem;
using testing::ListViewText;
using testing::MenuOfWindow;
using testing::OpenMenuCount;
using testing::OpenMenuWindows;
using testing::OwnedWindow;
using testing::PostKey;
using testing::RunScripted;
using testing::UiScript;
using testing::WindowText;

std::wstring ButtonText(HWND toolbar, int command) {
  const auto length = SendMessageW(toolbar, TB_GETBUTTONTEXTW, command, 0);
  if (length < 0) return L"<none>";
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  SendMessageW(toolbar, TB_GETBUTTONTEXTW, command, reinterpret_cast<LPARAM>(text.data()));
  text.resize(static_cast<std::size_t>(length));
  return text;
}

std::wstring W(const char16_t* text) {
  return text ? std::wstring(text, text + std::char_traits<char16_t>::length(text)) : L"";
}

bool ButtonPressed(HWND toolbar, int command) {
  return SendMessageW(toolbar, TB_ISBUTTONPRESSED, command, 0) != 0;
}

HMENU OpenMenu() {
  const std::vector<HWND> windows = OpenMenuWindows();
  return windows.empty() ? nullptr : MenuOfWindow(windows.front());
}

bool Checked(HMENU menu, int position) {
  return (GetMenuState(menu, static_cast<UINT>(position), MF_BYPOSITION) & MF_CHECKED) != 0;
}

int CheckedCount(HMENU menu) {
  int checked = 0;
  for (int i = 0; i < GetMenuItemCount(menu); ++i) checked += Checked(menu, i) ? 1 : 0;
  return checked;
}

// A settings file of its own in a fresh folder, read back with the system's profile calls.
class CommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static const bool loaded = lang::LoadLanguageTable();
    ASSERT_TRUE(loaded);
    folder_ = testing::NewScratchFolder(L"nulvane-commands-");
    ASSERT_FALSE(folder_.empty());
    ini_ = folder_ + L"\\nulvane.ini";
    settings::UseSettingsFile(Text(ini_.begin(), ini_.end()));
    lang::Table().SetCurrentLanguage(1);
  }
  void TearDown() override {
    lang::Table().SetCurrentLanguage(1);
    SetFileAttributesW(ini_.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(ini_.c_str());
    RemoveDirectoryW(folder_.c_str());
  }
  int StoredOption(const wchar_t* key) const {
    return static_cast<int>(GetPrivateProfileIntW(L"NewFileTime", key, -1, ini_.c_str()));
  }
  static void Store(const char16_t* key, int value) { settings::PutOptionInt(key, value); }
  static void Open(const CSetFileTime& dialog, int command) {
    PostMessageW(dialog.Window(), WM_COMMAND, static_cast<WPARAM>(command), 0);
  }
  static void Close(const CSetFileTime& dialog) { Open(dialog, kCommandCancel); }
  // Highlights the item at `position` of the open menu, one key at a time, then chooses it.
  // Home first: a menu that opens under the pointer highlights the item there.
  static void Choose(UiScript& script, const CSetFileTime& dialog, int position) {
    // The dialog's window exists only once the script runs.
    const CSetFileTime* target = &dialog;
    script.Do([target] { PostKey(target->Window(), VK_HOME); })
        .WaitFor("the first entry to be highlighted",
                 [] { return HighlightedItem(OpenMenu()) == 0; });
    for (int i = 1; i <= position; ++i) {
      script.Do([target] { PostKey(target->Window(), VK_DOWN); })
          .WaitFor("entry " + std::to_string(i) + " to be highlighted",
                   [i] { return HighlightedItem(OpenMenu()) == i; });
    }
    script.Do([target] { PostKey(target->Window(), VK_RETURN); });
  }
  // Chooses the last entry of the open menu.
  static void ChooseLast(UiScript& script, const CSetFileTime& dialog) {
    const CSetFileTime* target = &dialog;
    script.Do([target] { PostKey(target->Window(), VK_END); })
        .WaitFor("the last entry to be highlighted",
                 [] { return HighlightedItem(OpenMenu()) == GetMenuItemCount(OpenMenu()) - 1; })
        .Do([target] { PostKey(target->Window(), VK_RETURN); });
  }

  std::wstring folder_;
  std::wstring ini_;
};

TEST_F(CommandsTest, OverwriteMenuChoosingThirtyFiveStoresItAndTheButtonShowsIt) {
  Store(settings::kPassesKey, 1);
  Store(settings::kDelayKey, 0);
  CSetFileTime dialog(u"");
  UiScript script;
  script.Do([&] { Open(dialog, kCommandOverwriteMenu); })
      .WaitFor("the overwrite menu", [] { return OpenMenuCount() == 1; })
      .Do([&] {
        HMENU menu = OpenMenu();
        ASSERT_EQ(GetMenuItemCount(menu), 19);
        EXPECT_EQ(MenuItemText(menu, 0), L"&Overwrite 1 times");
        EXPECT_EQ(GetMenuItemID(menu, 9), 11u);
        EXPECT_EQ(GetMenuItemID(menu, 18), 35u);
        EXPECT_EQ(MenuItemText(menu, 18), L"&Overwrite 35 times");
        EXPECT_TRUE(Checked(menu, 0)) << "the stored 1";
        EXPECT_EQ(CheckedCount(menu), 1);
        EXPECT_TRUE(ButtonPressed(testing::ControlById(dialog.Window(), kListToolbarId),
                                  kCommandOverwriteMenu));
      });
  Choose(script, dialog, 18);
  script.WaitFor("the menu to close", [] { return OpenMenuCount() == 0; })
      .WaitFor("the label",
               [&] {
                 return ButtonText(testing::ControlById(dialog.Window(), kListToolbarId),
                                   kCommandOverwriteMenu) == L"&Overwrite 35 times";
               })
      .Do([&] {
        EXPECT_EQ(StoredOption(L"re_write"), 35);
        EXPECT_FALSE(ButtonPressed(testing::ControlById(dialog.Window(), kListToolbarId),
                                   kCommandOverwriteMenu));
      })
      .Do([&] { Close(dialog); });
  EXPECT_EQ(RunScripted(dialog, script), 2);
}

TEST_F(CommandsTest, OverwriteMenuClosedWithEscStoresNothingButRefreshesTheLabel) {
  Store(settings::kPassesKey, 1);
  Store(settings::kDelayKey, 0);
  CSetFileTime dialog(u"");
  UiScript script;
  script.Do([&] { Open(dialog, kCommandOverwriteMenu); })
      .WaitFor("the overwrite menu", [] { return OpenMenuCount() == 1; })
      // The file changes while the menu is open; closing without a choice shows the new value.
      .Do([&] { Store(settings::kPassesKey, 20); })
      .Do([&] { PostKey(dialog.Window(), VK_ESCAPE); })
      .WaitFor("the menu to close", [] { return OpenMenuCount() == 0; })
      .WaitFor("the label",
               [&] {
                 return ButtonText(testing::ControlById(dialog.Window(), kListToolbarId),
                                   kCommandOverwriteMenu) == L"&Overwrite 20 times";
               })
      .Do([&] {
        EXPECT_EQ(StoredOption(L"re_write"), 20);
        EXPECT_TRUE(IsWindowVisible(dialog.Window())) << "Esc in the menu leaves the dialog open";
      })
      .Do([&] { Close(dialog); });
  EXPECT_EQ(RunScripted(dialog, script), 2);
}

TEST_F(CommandsTest, DelayMenuInGermanMarksNoEntryForTenAndStoresTheChosenSeconds) {
  lang::Table().SetCurrentLanguage(0);
  Store(settings::kPassesKey, 1);
  Store(settings::kDelayKey, 10);
  CSetFileTime dialog(u"");
  UiScript script;
  script.Do([&] { Open(dialog, kCommandDelayMenu); })
      .WaitFor("the delay menu", [] { return OpenMenuCount() == 1; })
      .Do([&] {
        HMENU menu = OpenMenu();
        ASSERT_EQ(GetMenuItemCount(menu), 10);
        for (int d = 0; d < 10; ++d) EXPECT_EQ(GetMenuItemID(menu, d), 1000u + d);
        EXPECT_EQ(MenuItemText(menu, 9), L"L\u00F6sch-&Verz\u00F6gerung 9 Sek");
        EXPECT_EQ(CheckedCount(menu), 0) << "10 lies outside 0 to 9";
        EXPECT_TRUE(ButtonPressed(testing::ControlById(dialog.Window(), kListToolbarId),
                                  kCommandDelayMenu));
      });
  Choose(script, dialog, 2);
  script.WaitFor("the menu to close", [] { return OpenMenuCount() == 0; })
      .WaitFor("the label",
               [&] {
                 return ButtonText(testing::ControlById(dialog.Window(), kListToolbarId),
                                   kCommandDelayMenu) == L"L\u00F6sch-&Verz\u00F6gerung 2 Sek";
               })
      .Do([&] { EXPECT_EQ(StoredOption(L"del_delay"), 2); })
      // Opened again, the menu marks the stored 2.
      .Do([&] { Open(dialog, kCommandDelayMenu); })
      .WaitFor("the delay menu again", [] { return OpenMenuCount() == 1; })
      .Do([&] {
        EXPECT_TRUE(Checked(OpenMenu(), 2));
        EXPECT_EQ(CheckedCount(OpenMenu()), 1);
        PostKey(dialog.Window(), VK_ESCAPE);
      })
      .WaitFor("the menu to close", [] { return OpenMenuCount() == 0; })
      .Do([&] { EXPECT_EQ(StoredOption(L"del_delay"), 2); })
      .Do([&] { Close(dialog); });
  EXPECT_EQ(RunScripted(dialog, script), 2);
}

std::wstring TopLine(const CSetFileTime& dialog) {
  return ListViewText(testing::ControlById(dialog.Window(), IDC_MESSAGE_LIST), 0);
}

TEST_F(CommandsTest, ASettingsFileThatCannotBeWrittenIsNamedOnceWithTheReason) {
  Store(settings::kPassesKey, 1);
  Store(settings::kDelayKey, 0);
  // Beside a program in a folder that is gone (or read-only): no write can succeed.
  const std::wstring unwritable = folder_ + L"\\gone\\nulvane.ini";
  settings::UseSettingsFile(Text(unwritable.begin(), unwritable.end()));
  const std::wstring expected = L"Settings cannot be saved beside the program (" + unwritable +
                                L"): " + W(platform::SystemErrorText(ERROR_PATH_NOT_FOUND).c_str());
  CSetFileTime dialog(u"");
  int lines = 0;
  UiScript script;
  script.Do([&] { Open(dialog, kCommandOverwriteMenu); }).WaitFor("the overwrite menu", [] {
    return OpenMenuCount() == 1;
  });
  Choose(script, dialog, 18);
  script.WaitFor("the warning", [&] { return TopLine(dialog) == expected; })
      .Do([&] {
        // The label shows what the file holds: nothing was stored.
        EXPECT_EQ(ButtonText(testing::ControlById(dialog.Window(), kListToolbarId),
                             kCommandOverwriteMenu),
                  L"&Overwrite 1 times");
        lines = static_cast<int>(SendMessageW(
            testing::ControlById(dialog.Window(), IDC_MESSAGE_LIST), LVM_GETITEMCOUNT, 0, 0));
        Open(dialog, kCommandDelayMenu);
      })
      .WaitFor("the delay menu", [] { return OpenMenuCount() == 1; });
  Choose(script, dialog, 3);
  script.WaitFor("the menu to close", [] { return OpenMenuCount() == 0; }).Do([&] {
    // Once per start: the second failed write adds no line.
    EXPECT_EQ(SendMessageW(testing::ControlById(dialog.Window(), IDC_MESSAGE_LIST),
                           LVM_GETITEMCOUNT, 0, 0),
              lines);
    Close(dialog);
  });
  EXPECT_EQ(RunScripted(dialog, script), 2);
}

TEST_F(CommandsTest, ATranslationFileThatCannotBeWrittenIsAnErrorLineWithTheReason) {
  Store(settings::kPassesKey, 1);
  Store(settings::kDelayKey, 0);
  // The temporary folder the file goes to does not exist.
  const std::wstring gone = folder_ + L"\\gone\\";
  wchar_t old_tmp[MAX_PATH + 1] = {};
  wchar_t old_temp[MAX_PATH + 1] = {};
  const bool had_tmp = GetEnvironmentVariableW(L"TMP", old_tmp, MAX_PATH + 1) != 0;
  const bool had_temp = GetEnvironmentVariableW(L"TEMP", old_temp, MAX_PATH + 1) != 0;
  SetEnvironmentVariableW(L"TMP", gone.c_str());
  SetEnvironmentVariableW(L"TEMP", gone.c_str());
  const Text path = lang::TranslationExportPath();
  CSetFileTime dialog(u"");
  UiScript script;
  script.Do([&] { Open(dialog, kCommandLanguageMenu); }).WaitFor("the language menu", [] {
    return OpenMenuCount() == 1;
  });
  ChooseLast(script, dialog);
  script
      .WaitFor("the error line",
               [&] {
                 return TopLine(dialog).rfind(
                            W(path.c_str()) + L": the file for translators cannot be written (",
                            0) == 0;
               })
      .Do([&] {
        EXPECT_NE(TopLine(dialog).find(W(platform::SystemErrorText(ERROR_PATH_NOT_FOUND).c_str())),
                  std::wstring::npos)
            << TopLine(dialog);
        Close(dialog);
      });
  EXPECT_EQ(RunScripted(dialog, script), 2);
  SetEnvironmentVariableW(L"TMP", had_tmp ? old_tmp : nullptr);
  SetEnvironmentVariableW(L"TEMP", had_temp ? old_temp : nullptr);
}

TEST_F(CommandsTest, LanguageMenuSwitchesToGermanReappliesEveryTextAndWritesLng) {
  Store(settings::kPassesKey, 1);
  Store(settings::kDelayKey, 0);
  CSetFileTime dialog(u"");
  UiScript script;
  script.Do([&] { Open(dialog, kCommandLanguageMenu); })
      .WaitFor("the language menu", [] { return OpenMenuCount() == 1; })
      .Do([&] {
        HMENU menu = OpenMenu();
        const int count = GetMenuItemCount(menu);
        ASSERT_EQ(count, 18) << "sixteen languages, a separator and Translate";
        EXPECT_EQ(MenuItemText(menu, 0), L"Deutsch\tGerman");
        EXPECT_EQ(GetMenuItemID(menu, 0), 10u);
        EXPECT_EQ(GetMenuItemID(menu, 15), 25u);
        EXPECT_TRUE(GetMenuState(menu, 1, MF_BYPOSITION) & MF_GRAYED) << "English is current";
        EXPECT_FALSE(GetMenuState(menu, 0, MF_BYPOSITION) & MF_GRAYED);
        EXPECT_TRUE(GetMenuState(menu, 16, MF_BYPOSITION) & MF_SEPARATOR);
        EXPECT_EQ(MenuItemText(menu, 17), L"Translate");
        EXPECT_EQ(GetMenuItemID(menu, 17), 1000u);
        EXPECT_TRUE(ButtonPressed(testing::ControlById(dialog.Window(), kCornerToolbarId),
                                  kCommandLanguageMenu));
      });
  Choose(script, dialog, 0);
  script.WaitFor("the menu to close", [] { return OpenMenuCount() == 0; })
      .WaitFor("the German texts",
               [&] {
                 return ButtonText(testing::ControlById(dialog.Window(), kListToolbarId),
                                   kCommandDelete) == L"&L\u00F6schen";
               })
      .Do([&] {
        EXPECT_EQ(lang::Table().CurrentLanguage(), 0);
        EXPECT_EQ(GetPrivateProfileIntW(L"Program", L"lng", -1, ini_.c_str()), 0u);
        EXPECT_EQ(ButtonText(testing::ControlById(dialog.Window(), kListToolbarId),
                             kCommandOverwriteMenu),
                  L"1 mal &schreiben");
        EXPECT_EQ(
            ButtonText(testing::ControlById(dialog.Window(), kCornerToolbarId), kCommandCancel),
            L"\u00BB\u00BB Beenden \u00AB\u00AB");
        EXPECT_FALSE(ButtonPressed(testing::ControlById(dialog.Window(), kCornerToolbarId),
                                   kCommandLanguageMenu));
        // The message list holds the legend again, in German, and nothing else.
        EXPECT_EQ(ListViewText(testing::ControlById(dialog.Window(), IDC_MESSAGE_LIST), 0),
                  L"Warnung");
        EXPECT_EQ(ListViewText(testing::ControlById(dialog.Window(), IDC_MESSAGE_LIST), 1),
                  L"Fehler");
        EXPECT_EQ(ListViewText(testing::ControlById(dialog.Window(), IDC_MESSAGE_LIST), 2),
                  L"Info");
        EXPECT_EQ(SendMessageW(testing::ControlById(dialog.Window(), IDC_MESSAGE_LIST),
                               LVM_GETITEMCOUNT, 0, 0),
                  3);
      })
      // Opened again, German is the grayed entry.
      .Do([&] { Open(dialog, kCommandLanguageMenu); })
      .WaitFor("the language menu again", [] { return OpenMenuCount() == 1; })
      .Do([&] {
        EXPECT_TRUE(GetMenuState(OpenMenu(), 0, MF_BYPOSITION) & MF_GRAYED);
        EXPECT_FALSE(GetMenuState(OpenMenu(), 1, MF_BYPOSITION) & MF_GRAYED);
        PostKey(dialog.Window(), VK_ESCAPE);
      })
      .WaitFor("the menu to close", [] { return OpenMenuCount() == 0; })
      .Do([&] { EXPECT_EQ(lang::Table().CurrentLanguage(), 0) << "no choice changes nothing"; })
      .Do([&] { Close(dialog); });
  EXPECT_EQ(RunScripted(dialog, script), 2);
}

TEST_F(CommandsTest, LanguageMenuTranslateWritesTheExportAndKeepsTheLanguage) {
  const Text export_path = lang::TranslationExportPath();
  const std::wstring path(export_path.begin(), export_path.end());
  DeleteFileW(path.c_str());
  CSetFileTime dialog(u"");
  UiScript script;
  script.Do([&] { Open(dialog, kCommandLanguageMenu); }).WaitFor("the language menu", [] {
    return OpenMenuCount() == 1;
  });
  ChooseLast(script, dialog);
  script.WaitFor("the menu to close", [] { return OpenMenuCount() == 0; })
      .WaitFor("the export file",
               [&] { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; })
      .Do([&] {
        EXPECT_EQ(lang::Table().CurrentLanguage(), 1);
        EXPECT_EQ(GetPrivateProfileIntW(L"Program", L"lng", 99, ini_.c_str()), 99u);
        EXPECT_EQ(ButtonText(testing::ControlById(dialog.Window(), kListToolbarId), kCommandDelete),
                  W(lang::GetText(lang::TextId::kDelete)));
        DeleteFileW(path.c_str());
      })
      .Do([&] { Close(dialog); });
  EXPECT_EQ(RunScripted(dialog, script), 2);
}

TEST_F(CommandsTest, InfoShowsTheWholeHelpTextInABoxCaptionedHelp) {
  lang::Table().SetCurrentLanguage(0);
  CSetFileTime dialog(u"");
  UiScript script;
  HWND box = nullptr;
  script.Do([&] { Open(dialog, kMenuCommandInfo); })
      .WaitFor("the help box", [&] { return (box = OwnedWindow(dialog.Window())) != nullptr; })
      .Do([&] {
        EXPECT_EQ(WindowText(box), L"Hilfe");
        // The message box's text control; Wine and Windows both give it id 0xFFFF.
        const Text help = HelpText(lang::Table());
        EXPECT_GT(help.size(), 400u);
        EXPECT_EQ(WindowText(GetDlgItem(box, 0xFFFF)), std::wstring(help.begin(), help.end()));
        PostMessageW(box, WM_COMMAND, IDOK, 0);
      })
      .WaitFor("the box to go", [&] { return OwnedWindow(dialog.Window()) == nullptr; })
      .Do([&] { Close(dialog); });
  EXPECT_EQ(RunScripted(dialog, script), 2);
}

using testing::RecordingLauncher;

TEST_F(CommandsTest, LinkCommandsOpenTheirAddressesThroughTheLauncher) {
  RecordingLauncher launcher;
  CSetFileTime dialog(u"");
  UiScript script;
  script
      .Do([&] {
        for (int command : {static_cast<int>(kCommandHomeLink), kMenuCommandFaq,
                            kMenuCommandHomePage, kMenuCommandDonate}) {
          Open(dialog, command);
        }
      })
      .WaitFor("four addresses", [&] { return launcher.opened.size() == 4; })
      .Do([&] {
        EXPECT_EQ(launcher.opened,
                  (std::vector<std::wstring>{
                      L"https://nulvane.example/", L"https://nulvane.example/?faq-Nulvane&faq=0",
                      L"https://nulvane.example/?seite=Microsoft/Nulvane",
                      L"https://nulvane.example?paypal&item_name=FreewareQuorvellprogramNulvane"}));
        lang::Table().SetCurrentLanguage(0);
        Open(dialog, kCommandHomeLink);
      })
      .WaitFor("the German home address", [&] { return launcher.opened.size() == 5; })
      .Do([&] { EXPECT_EQ(launcher.opened.back(), L"https://nulvane.example/de/"); })
      .Do([&] { Close(dialog); });
  EXPECT_EQ(RunScripted(dialog, script), 2);
}

}  // namespace
}  // namespace nulvane::app

namespace nulvane::app {
namespace {

using testing::RecordingLauncher;

HWND CountdownWindow(const wchar_t* title) { return FindWindowW(L"#32770", title); }

// A file of the test's folder, made for a run to destroy; returns the dialog's command line.
Text DoomedFile(const std::wstring& folder, std::wstring& path) {
  path = folder + L"\\doomed.txt";
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD written = 0;
  WriteFile(file, "data", 4, &written, nullptr);
  CloseHandle(file);
  const std::wstring quoted = L"\"" + path + L"\"";
  return Text(quoted.begin(), quoted.end());
}

bool Exists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

TEST_F(CommandsTest, DeletePlusShutdownRunsTheDeletionAndThenTheCountdown) {
  Store(settings::kPassesKey, 1);
  Store(settings::kDelayKey, 0);
  RecordingLauncher launcher;
  std::wstring path;
  CSetFileTime dialog(DoomedFile(folder_, path));
  UiScript script;
  script.Do([&] { Open(dialog, kCommandDeletePlus); })
      .WaitFor("the Delete + menu", [] { return OpenMenuCount() == 1; })
      .Do([&] {
        HMENU menu = OpenMenu();
        ASSERT_EQ(GetMenuItemCount(menu), 4);
        EXPECT_EQ(GetMenuItemID(menu, 0), 1048u);
        EXPECT_EQ(GetMenuItemID(menu, 1), 32803u);
        EXPECT_EQ(GetMenuItemID(menu, 2), 32804u);
        EXPECT_EQ(GetMenuItemID(menu, 3), 32810u);
      });
  Choose(script, dialog, 1);
  script
      .WaitFor(
          "the shut-down countdown", [] { return CountdownWindow(L"PC shutdown") != nullptr; },
          20000)
      .Do([&] {
        EXPECT_FALSE(Exists(path));
        PostMessageW(CountdownWindow(L"PC shutdown"), WM_COMMAND, IDCANCEL, 0);
      })
      .WaitFor(
          "the worker's end", [] { return !CSetFileTime::WorkerActive(); }, 5000)
      .Do([&] {
        EXPECT_TRUE(launcher.PowerCalls().empty()) << "cancelled";
        EXPECT_TRUE(IsWindow(dialog.Window()));
        Close(dialog);
      });
  EXPECT_EQ(RunScripted(dialog, script), 2);
}

TEST_F(CommandsTest, DeletePlusEndTheProgramEntryEndsItAfterTheRunWithoutACountdown) {
  Store(settings::kPassesKey, 1);
  Store(settings::kDelayKey, 0);
  RecordingLauncher launcher;
  std::wstring path;
  CSetFileTime dialog(DoomedFile(folder_, path));
  UiScript script;
  script.Do([&] { Open(dialog, kCommandDeletePlus); }).WaitFor("the Delete + menu", [] {
    return OpenMenuCount() == 1;
  });
  Choose(script, dialog, 0);
  // Nothing closes the dialog but the run's own end.
  EXPECT_EQ(RunScripted(dialog, script), 2);
  EXPECT_TRUE(testing::PumpUntil([] { return !CSetFileTime::WorkerActive(); }, 5000));
  EXPECT_FALSE(Exists(path));
  EXPECT_TRUE(launcher.PowerCalls().empty());
}

// A second start during a run would overwrite the first one's after-run action: it is refused,
// so the shut-down chosen first is the countdown that follows, and the run deletes once.
TEST_F(CommandsTest, DeletePlusStartDuringARunIsRefused) {
  Store(settings::kPassesKey, 1);
  Store(settings::kDelayKey, 2);
  RecordingLauncher launcher;
  std::wstring path;
  CSetFileTime dialog(DoomedFile(folder_, path));
  UiScript script;
  script.Do([&] { Open(dialog, kMenuCommandShutdown); })
      .WaitFor("the run", [] { return CSetFileTime::WorkerActive(); })
      .Do([&] {
        Open(dialog, kMenuCommandEndAndStandby);
        Open(dialog, kMenuCommandStandby);
      })
      .WaitFor(
          "the countdown", [] { return CountdownWindow(L"PC shutdown") != nullptr; }, 20000)
      .Do([&] {
        EXPECT_EQ(CountdownWindow(L"PC Standby"), nullptr);
        EXPECT_FALSE(Exists(path));
        PostMessageW(CountdownWindow(L"PC shutdown"), WM_COMMAND, IDOK, 0);
      });
  // OK on a shut-down countdown ends the program after the (recorded) shut-down.
  EXPECT_EQ(RunScripted(dialog, script), 2);
  // The worker still reaches for the dialog object on its way out.
  EXPECT_TRUE(testing::PumpUntil([] { return !CSetFileTime::WorkerActive(); }, 5000));
  EXPECT_EQ(launcher.PowerCalls(), std::vector<std::string>{"shut down"});
  EXPECT_EQ(CountdownWindow(L"PC Standby"), nullptr) << "no second run's countdown";
}

}  // namespace
}  // namespace nulvane::app
