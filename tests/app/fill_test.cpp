// The free-space fill started from the window's menu bar: the folder picker driven by its own
// messages, the fill on a small volume of the test's own (scripts/with_fill_volumes.sh mounts
// them; never the machine's disk), the refusal of other starts meanwhile, and closing during the
// fill, which must leave nothing on the volume.
#include <windows.h>
#undef DeleteFile

#include <commctrl.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/main_dialog.h"
#include "app/menus.h"
#include "app/program.h"
#include "dialog_script.h"
#include "engine/run_session.h"
#include "gui_harness.h"
#include "lang/language_table.h"
#include "recording_launcher.h"
#include "settings/settings.h"

namespace nulvane::app {
namespace {

using testing::ListViewText;
using testing::OwnedWindow;
using testing::RecordingLauncher;
using testing::RunScripted;
using testing::UiScript;
using testing::WindowText;

// A volume's Windows path, from the variable the mount script sets; empty when it is not set.
std::wstring VolumeFromEnvironment(const char* variable) {
  const char* path = std::getenv(variable);
  if (!path || !*path) return {};
  return std::wstring(path, path + std::strlen(path));
}

// The names in `folder` other than ".", ".." and ext4's "lost+found".
std::vector<std::wstring> Leftovers(const std::wstring& folder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW data{};
  const HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return {L"<cannot list " + folder + L">"};
  do {
    const std::wstring name = data.cFileName;
    if (name != L"." && name != L".." && name != L"lost+found") names.push_back(name);
  } while (FindNextFileW(find, &data));
  FindClose(find);
  return names;
}

ULONGLONG FreeBytes(const std::wstring& folder) {
  ULARGE_INTEGER free{};
  GetDiskFreeSpaceExW((folder + L"\\").c_str(), &free, nullptr, nullptr);
  return free.QuadPart;
}

ULONGLONG TotalBytes(const std::wstring& folder) {
  ULARGE_INTEGER total{};
  GetDiskFreeSpaceExW((folder + L"\\").c_str(), nullptr, &total, nullptr);
  return total.QuadPart;
}

// The sizes of the mount script's volumes, with room for the file system's own rounding.
constexpr ULONGLONG kFillVolumeLimit = 64ull << 20;
constexpr ULONGLONG kStopVolumeLimit = 1100ull << 20;

// The countdown dialog of the after-run step titled `title`, owned by `dialog`, or null.
HWND Countdown(const CSetFileTime& dialog, const std::wstring& title) {
  const HWND countdown = OwnedWindow(dialog.Window(), L"#32770");
  return countdown && WindowText(countdown) == title ? countdown : nullptr;
}

// The message list's rows, newest first.
std::vector<std::wstring> Messages(const CSetFileTime& dialog) {
  std::vector<std::wstring> rows;
  const auto count =
      SendMessageW(testing::ControlById(dialog.Window(), IDC_MESSAGE_LIST), LVM_GETITEMCOUNT, 0, 0);
  for (int row = 0; row < count; ++row)
    rows.push_back(ListViewText(testing::ControlById(dialog.Window(), IDC_MESSAGE_LIST), row));
  return rows;
}

bool HasMessageStartingWith(const CSetFileTime& dialog, const std::wstring& start) {
  for (const std::wstring& row : Messages(dialog)) {
    if (row.compare(0, start.size(), start) == 0) return true;
  }
  return false;
}

bool FillEntriesGrayed(const CSetFileTime& dialog) {
  SendMessageW(dialog.Window(), WM_INITMENUPOPUP,
               reinterpret_cast<WPARAM>(GetSubMenu(MenuBar().menu(), 0)), 0);
  bool grayed = true;
  for (int command : {kMenuCommandFill, kMenuCommandFillEndProgram, kMenuCommandFillShutdown,
                      kMenuCommandFillStandby, kMenuCommandFillEndAndStandby}) {
    grayed = grayed && (GetMenuState(MenuBar().menu(), static_cast<UINT>(command), MF_BYCOMMAND) &
                        MF_GRAYED) != 0;
  }
  return grayed;
}

class FillFromWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static const bool loaded = lang::LoadLanguageTable();
    ASSERT_TRUE(loaded);
    lang::Table().SetCurrentLanguage(1);
    folder_ = testing::NewScratchFolder(L"nulvane-fill-");
    ASSERT_FALSE(folder_.empty());
    ini_ = folder_ + L"\\nulvane.ini";
    settings::UseSettingsFile(Text(ini_.begin(), ini_.end()));
    settings::PutOptionInt(settings::kDelayKey, 0);
    settings::PutOptionInt(settings::kPassesKey, 1);
  }
  void TearDown() override {
    // A worker still reaching for the dialog object that is gone would take the later tests
    // down with it: this program ends here instead.
    if (!testing::PumpUntil([] { return !CSetFileTime::WorkerActive(); }, 10000)) {
      ADD_FAILURE() << "a fill's worker outlived its dialog; the test program ends";
      TerminateProcess(GetCurrentProcess(), 1);
    }
    DeleteFileW(ini_.c_str());
    DeleteFileW(doomed_.c_str());
    RemoveDirectoryW(folder_.c_str());
  }
  static void Post(const CSetFileTime& dialog, int command) {
    PostMessageW(dialog.Window(), WM_COMMAND, static_cast<WPARAM>(command), 0);
  }
  static HWND Picker(const CSetFileTime& dialog) { return OwnedWindow(dialog.Window(), L"#32770"); }
  // The text of the picker's selected folder, as its tree shows it.
  static std::wstring SelectedInPicker(HWND picker) {
    const HWND tree = FindWindowExW(picker, nullptr, WC_TREEVIEWW, nullptr);
    if (!tree) return L"<no tree>";
    const auto item =
        reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
    if (!item) return L"<no selection>";
    wchar_t text[MAX_PATH] = {};
    TVITEMW data{};
    data.mask = TVIF_TEXT;
    data.hItem = item;
    data.pszText = text;
    data.cchTextMax = MAX_PATH;
    SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&data));
    return text;
  }
  // Waits for the folder picker of a fill just started and chooses `folder` in it. OK is
  // pressed only when the picker shows that very folder selected and the folder is on a volume
  // no larger than `volume_limit` that is not the one of drive C: a fill anywhere else would
  // fill the machine's own disk, so the picker is cancelled instead and the test fails.
  static void ChooseInPicker(UiScript& script, const CSetFileTime& dialog,
                             const std::wstring& folder, ULONGLONG volume_limit) {
    const CSetFileTime* target = &dialog;
    const std::wstring name = folder.substr(folder.rfind(L'\\') + 1);
    script
        .WaitFor(
            "the folder picker", [target] { return Picker(*target) != nullptr; }, 20000)
        // Asked again until the picker shows it: a picker that is still filling its tree
        // ignores the request.
        .WaitFor(
            "the volume selected in the picker",
            [target, folder, name] {
              const HWND picker = Picker(*target);
              if (SelectedInPicker(picker) == name) return true;
              SendMessageW(picker, BFFM_SETSELECTIONW, TRUE,
                           reinterpret_cast<LPARAM>(folder.c_str()));
              return false;
            },
            10000)
        .Do([target, folder, name, volume_limit] {
          const HWND picker = Picker(*target);
          const std::wstring shown = SelectedInPicker(picker);
          const ULONGLONG total = TotalBytes(folder);
          const bool safe =
              shown == name && total > 0 && total <= volume_limit && total != TotalBytes(L"C:");
          EXPECT_TRUE(safe) << "the picker shows " << std::string(shown.begin(), shown.end())
                            << " on a volume of " << total << " bytes";
          PostMessageW(picker, WM_COMMAND, safe ? IDOK : IDCANCEL, 0);
        });
  }
  // A file queued on the dialog's command line, which no fill may touch.
  Text QueueDoomedFile() {
    doomed_ = folder_ + L"\\queued.txt";
    const HANDLE file = CreateFileW(doomed_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    WriteFile(file, "keep", 4, &written, nullptr);
    CloseHandle(file);
    const std::wstring quoted = L"\"" + doomed_ + L"\"";
    return Text(quoted.begin(), quoted.end());
  }

  std::wstring folder_;
  std::wstring ini_;
  std::wstring doomed_;
};

TEST_F(FillFromWindowTest, CancellingThePickerStartsNothingAndSaysNothing) {
  CSetFileTime dialog(u"");
  UiScript script;
  script.Do([&] { Post(dialog, kMenuCommandFill); })
      .WaitFor(
          "the folder picker", [&] { return Picker(dialog) != nullptr; }, 20000)
      .Do([&] {
        // The window's own thread shows the picker: no worker ever touches a window.
        EXPECT_EQ(GetWindowThreadProcessId(Picker(dialog), nullptr), GetCurrentThreadId());
        // Nothing else starts while the folder is chosen.
        EXPECT_TRUE(CSetFileTime::WorkerActive());
        EXPECT_TRUE(FillEntriesGrayed(dialog));
        PostMessageW(Picker(dialog), WM_COMMAND, IDCANCEL, 0);
      })
      .WaitFor(
          "the worker's end", [] { return !CSetFileTime::WorkerActive(); }, 5000)
      .Do([&] {
        EXPECT_EQ(Messages(dialog).size(), 3u) << "the legend only";
        EXPECT_FALSE(FillEntriesGrayed(dialog));
        Post(dialog, kCommandCancel);
      });
  EXPECT_EQ(RunScripted(dialog, script), 2);
}

TEST_F(FillFromWindowTest, FillsTheChosenVolumeAndRefusesEveryOtherStartMeanwhile) {
  const std::wstring volume = VolumeFromEnvironment("NULVANE_FILL_VOLUME");
  if (volume.empty()) {
    GTEST_SKIP() << "needs a volume of its own: run as root through scripts/with_fill_volumes.sh";
  }
  const ULONGLONG free_before = FreeBytes(volume);
  ASSERT_GT(free_before, 8u << 20);
  RecordingLauncher launcher;
  CSetFileTime dialog(QueueDoomedFile());
  UiScript script;
  script.Do([&] { Post(dialog, kMenuCommandFillShutdown); })
      .WaitFor(
          "the folder picker", [&] { return Picker(dialog) != nullptr; }, 20000)
      .Do([&] {
        // While the fill's worker is active, nothing else starts: not a deletion of the
        // queued file, not a second fill.
        EXPECT_TRUE(FillEntriesGrayed(dialog));
        Post(dialog, kCommandDelete);
        Post(dialog, kMenuCommandFill);
        Post(dialog, kMenuCommandEndAndStandby);
      });
  ChooseInPicker(script, dialog, volume, kFillVolumeLimit);
  script
      .WaitFor(
          "the fill's end",
          [&] {
            const std::vector<std::wstring> rows = Messages(dialog);
            return !rows.empty() && rows.front() == L"Ready";
          },
          30000)
      .WaitFor(
          "the chosen shut-down's countdown",
          [&] { return Countdown(dialog, L"PC shutdown") != nullptr; }, 10000)
      .Do([&] {
        const std::wstring fill_folder = volume + L"\\Nulvane";
        EXPECT_TRUE(HasMessageStartingWith(dialog, L"File:" + fill_folder));
        // The percentage of the free space measured at the start that the fill covered.
        bool covered = false;
        for (const std::wstring& row : Messages(dialog)) {
          if (row.size() > 2 && row.substr(row.size() - 2) == L" %") {
            covered = std::wcstod(row.c_str(), nullptr) >= 95.0;
          }
        }
        EXPECT_TRUE(covered) << "a percentage line of at least 95 %";
        EXPECT_TRUE(Leftovers(volume).empty()) << "the temporary file and folder are removed";
        EXPECT_GE(FreeBytes(volume) + (1u << 20), free_before);
        EXPECT_NE(GetFileAttributesW(doomed_.c_str()), INVALID_FILE_ATTRIBUTES)
            << "the deletion started during the fill was refused";
        // A refused start would have replaced the chosen shut-down by a standby.
        EXPECT_EQ(Countdown(dialog, L"PC Standby"), nullptr);
        PostMessageW(Countdown(dialog, L"PC shutdown"), WM_COMMAND, IDCANCEL, 0);
      })
      .WaitFor(
          "the worker's end", [] { return !CSetFileTime::WorkerActive(); }, 5000)
      .Do([&] {
        EXPECT_FALSE(FillEntriesGrayed(dialog));
        EXPECT_TRUE(launcher.PowerCalls().empty()) << "cancelled";
        Post(dialog, kCommandCancel);
      });
  EXPECT_EQ(RunScripted(dialog, script), 2);
}

TEST_F(FillFromWindowTest, TheEndTheProgramEntryEndsItOnceTheFillHasCleanedUp) {
  const std::wstring volume = VolumeFromEnvironment("NULVANE_FILL_VOLUME");
  if (volume.empty()) {
    GTEST_SKIP() << "needs a volume of its own: run as root through scripts/with_fill_volumes.sh";
  }
  RecordingLauncher launcher;
  CSetFileTime dialog(u"");
  UiScript script;
  script.Do([&] { Post(dialog, kMenuCommandFillEndProgram); });
  ChooseInPicker(script, dialog, volume, kFillVolumeLimit);
  // Nothing closes the dialog but the fill's own end, after its clean-up.
  EXPECT_EQ(RunScripted(dialog, script), 2);
  EXPECT_TRUE(Leftovers(volume).empty());
  EXPECT_TRUE(launcher.PowerCalls().empty());
}

TEST_F(FillFromWindowTest, ClosingDuringTheFillAsksAndOnYesLeavesNothingOnTheVolume) {
  const std::wstring volume = VolumeFromEnvironment("NULVANE_STOP_VOLUME");
  if (volume.empty()) {
    GTEST_SKIP() << "needs a volume of its own: run as root through scripts/with_fill_volumes.sh";
  }
  engine::RunFlags& flags = engine::ProcessRunSession().flags();
  RecordingLauncher launcher;
  CSetFileTime dialog(u"");
  HWND box = nullptr;
  ULONGLONG free_at_yes = 0;
  UiScript script;
  script.Do([&] { Post(dialog, kMenuCommandFill); });
  ChooseInPicker(script, dialog, volume, kStopVolumeLimit);
  script
      .WaitFor(
          "the fill to write",
          [&] {
            return flags.fill_running.load() == 1 && HasMessageStartingWith(dialog, L"File:");
          },
          20000)
      .Do([&] { Post(dialog, kCommandCancel); })
      .WaitFor("the question", [&] { return (box = OwnedWindow(dialog.Window())) != nullptr; })
      .Do([&] {
        EXPECT_EQ(WindowText(box), L"Cancel");
        PostMessageW(box, WM_COMMAND, IDNO, 0);
      })
      .WaitFor("the question to go", [&] { return OwnedWindow(dialog.Window()) == nullptr; })
      .Do([&] {
        EXPECT_EQ(flags.fill_running.load(), 1) << "No keeps the fill writing";
        Post(dialog, kCommandCancel);
      })
      .WaitFor("the question again",
               [&] { return (box = OwnedWindow(dialog.Window())) != nullptr; })
      .Do([&] {
        free_at_yes = FreeBytes(volume);
        PostMessageW(box, WM_COMMAND, IDYES, 0);
      });
  EXPECT_EQ(RunScripted(dialog, script), 2);
  // The dialog ended only after the fill's worker had cleaned up.
  EXPECT_FALSE(CSetFileTime::WorkerActive());
  EXPECT_GT(free_at_yes, 256u << 20) << "Yes came while the fill was still writing";
  EXPECT_TRUE(Leftovers(volume).empty()) << "the temporary file and folder are removed";
  EXPECT_EQ(flags.fill_running.load(), 0);
}

// Windows asks every window before a log-off or shut-down; the process is ended soon after the
// session ends. The answer comes only once the fill has stopped and removed its files.
TEST_F(FillFromWindowTest, TheSessionsEndStopsTheFillAndIsAllowedOnceItHasCleanedUp) {
  const std::wstring volume = VolumeFromEnvironment("NULVANE_STOP_VOLUME");
  if (volume.empty()) {
    GTEST_SKIP() << "needs a volume of its own: run as root through scripts/with_fill_volumes.sh";
  }
  engine::RunFlags& flags = engine::ProcessRunSession().flags();
  RecordingLauncher launcher;
  CSetFileTime dialog(u"");
  LRESULT answer = FALSE;
  bool worker_at_answer = true;
  std::vector<std::wstring> left_at_answer{L"<not asked>"};
  UiScript script;
  script.Do([&] { Post(dialog, kMenuCommandFillShutdown); });
  ChooseInPicker(script, dialog, volume, kStopVolumeLimit);
  script
      .WaitFor(
          "the fill to write",
          [&] {
            return flags.fill_running.load() == 1 && HasMessageStartingWith(dialog, L"File:");
          },
          20000)
      .Do([&] {
        answer = SendMessageW(dialog.Window(), WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF);
        worker_at_answer = CSetFileTime::WorkerActive();
        left_at_answer = Leftovers(volume);
        EXPECT_TRUE(HasMessageStartingWith(dialog, L"The fill was stopped"));
        Post(dialog, kCommandCancel);
      });
  EXPECT_EQ(RunScripted(dialog, script), 2);
  EXPECT_EQ(answer, TRUE);
  EXPECT_FALSE(worker_at_answer) << "the answer came while the fill still had its files";
  EXPECT_TRUE(left_at_answer.empty()) << "the temporary files and folder are removed";
  EXPECT_TRUE(launcher.PowerCalls().empty()) << "the fill's shut-down does not follow";
}

}  // namespace
}  // namespace nulvane::app
