// The lists in the user's hands, in the real window: rows taken out stay on the disk while the
// rest is destroyed, files and folders added through the picker, the verified run, the log
// saved as a file.
#include <algorithm>

#include "app/file_picker.h"
#include "app/list_menus.h"
#include "main_dialog_fixture.h"

namespace nulvane::app {
namespace {

// Answers every dialog with what the test put in it, and counts the dialogs.
class ScriptedPicker final : public FilePicker {
 public:
  ScriptedPicker() { UseFilePicker(this); }
  ~ScriptedPicker() override { UseFilePicker(nullptr); }
  ScriptedPicker(const ScriptedPicker&) = delete;
  ScriptedPicker& operator=(const ScriptedPicker&) = delete;

  std::vector<Text> ChooseFiles(HWND) override {
    ++shown;
    return files;
  }
  std::optional<Text> ChooseFolder(HWND) override {
    ++shown;
    return folder;
  }
  std::optional<Text> ChooseSaveFile(HWND, TextView suggested) override {
    ++shown;
    suggested_name = Text(suggested);
    return save_as;
  }

  std::vector<Text> files;
  std::optional<Text> folder;
  std::optional<Text> save_as;
  Text suggested_name;
  int shown = 0;
};

void SelectRows(HWND list, const std::vector<int>& rows) {
  for (const int row : rows) {
    LVITEMW state{};
    state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    state.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(row),
                 reinterpret_cast<LPARAM>(&state));
  }
}

int RowOf(HWND list, const std::wstring& path) {
  const std::vector<std::wstring> rows = Column(list, 0);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (rows[i] == Lower(path)) return static_cast<int>(i);
  }
  return -1;
}

std::string FileBytes(const std::wstring& path) {
  HANDLE file =
      CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "<missing>";
  std::string bytes(1 << 16, '\0');
  DWORD read = 0;
  ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
  CloseHandle(file);
  bytes.resize(read);
  return bytes;
}

TEST_F(MainDialogTest, RowsTakenOutWithDelStayOnDiskAndTheRestIsDestroyed) {
  // tree\{a.txt, sub\{b.txt, c.txt}} and kept\d.txt.
  const std::wstring tree = folder_ / L"tree";
  const std::wstring kept = folder_ / L"kept";
  MakeTree(tree);
  ZFolder::Write(tree + L"\\sub\\c.txt", "c");
  CreateDirectoryW(kept.c_str(), nullptr);
  ZFolder::Write(kept + L"\\d.txt", "d");
  CSetFileTime dialog(ToText(L"\"" + tree + L"\" \"" + kept + L"\""));
  UiScript script;
  script
      .Do([&] {
        ASSERT_EQ(Column(testing::ControlById(dialog.Window(), IDC_ITEM_LIST), 0).size(), 7u);
        // A folder row and a file inside a queued folder.
        SelectRows(
            testing::ControlById(dialog.Window(), IDC_ITEM_LIST),
            {RowOf(testing::ControlById(dialog.Window(), IDC_ITEM_LIST), kept),
             RowOf(testing::ControlById(dialog.Window(), IDC_ITEM_LIST), tree + L"\\sub\\b.txt")});
        SetFocus(testing::ControlById(dialog.Window(), IDC_ITEM_LIST));
        PostKey(testing::ControlById(dialog.Window(), IDC_ITEM_LIST), VK_DELETE);
      })
      .WaitFor("the rows left",
               [&] {
                 return Column(testing::ControlById(dialog.Window(), IDC_ITEM_LIST), 0).size() ==
                        2u;
               })
      .Do([&] {
        EXPECT_EQ(
            Column(testing::ControlById(dialog.Window(), IDC_ITEM_LIST), 0),
            (std::vector<std::wstring>{Lower(tree + L"\\a.txt"), Lower(tree + L"\\sub\\c.txt")}));
        EXPECT_EQ(StatusText(dialog).substr(0, 8), L"Items:2 ");
        PostCommand(dialog, kCommandDelete);
      })
      .WaitFor(
          "the run's end", [] { return !CSetFileTime::WorkerActive(); }, 20000)
      .Do([&] {
        EXPECT_FALSE(ZFolder::Exists(tree + L"\\a.txt"));
        EXPECT_FALSE(ZFolder::Exists(tree + L"\\sub\\c.txt"));
        // Taken out of the list: the file, the folders it lies in, the folder row with its file.
        EXPECT_TRUE(ZFolder::Exists(tree + L"\\sub\\b.txt"));
        EXPECT_EQ(FileBytes(tree + L"\\sub\\b.txt"), "abc");
        EXPECT_TRUE(ZFolder::Exists(kept + L"\\d.txt"));
        EXPECT_EQ(TopMessage(dialog), L"Destroyed: 2, failed: 0, left untouched: 0");
      });
  EXPECT_EQ(Run(dialog, script), 2);
  EXPECT_TRUE(script.completed());
}

TEST_F(MainDialogTest, InsertAndTheFolderEntryAddThroughThePickerLikeADrop) {
  const std::wstring tree = folder_ / L"tree";
  MakeTree(tree);
  const std::wstring loose = folder_ / L"loose.txt";
  ZFolder::Write(loose, "xy");
  ScriptedPicker picker;
  picker.files = {ToText(loose), ToText(folder_ / L"missing.txt")};
  picker.folder = ToText(tree);
  CSetFileTime dialog(u"");
  UiScript script;
  script.Do([&] { PostKey(testing::ControlById(dialog.Window(), IDC_ITEM_LIST), VK_INSERT); })
      .WaitFor("the file's row",
               [&] {
                 return Column(testing::ControlById(dialog.Window(), IDC_ITEM_LIST), 0).size() ==
                        1u;
               })
      .Do([&] {
        EXPECT_EQ(Column(testing::ControlById(dialog.Window(), IDC_ITEM_LIST), 0),
                  std::vector<std::wstring>{Lower(loose)});
        // The same warning as a drop of a path that is not there.
        EXPECT_EQ(TopMessage(dialog), folder_ / L"missing.txt" + L": not found");
        PostCommand(dialog, kMenuCommandAddFolder);
      })
      .WaitFor("the folder's rows",
               [&] {
                 return Column(testing::ControlById(dialog.Window(), IDC_ITEM_LIST), 0).size() ==
                        5u;
               })
      .Do([&] {
        EXPECT_EQ(picker.shown, 2);
        EXPECT_EQ(StatusText(dialog).substr(0, 8), L"Items:5 ");
      });
  EXPECT_EQ(Run(dialog, script), 2);
  EXPECT_TRUE(script.completed());
}

TEST_F(MainDialogTest, AVerifiedRunIsStoredSaysItReadsBackAndTheLogIsSavedAsUtf8) {
  const std::wstring file = folder_ / L"doomed.txt";
  ZFolder::Write(file, std::string(100, 'x'));
  ScriptedPicker picker;
  const std::wstring log = folder_ / L"saved.log";
  picker.save_as = ToText(log);
  CSetFileTime dialog(ToText(L"\"" + file + L"\""));
  UiScript script;
  script
      .Do([&] {
        PostCommand(dialog, kMenuCommandVerify);
        PostCommand(dialog, kCommandDelete);
      })
      .WaitFor(
          "the run's end", [] { return !CSetFileTime::WorkerActive(); }, 20000)
      .Do([&] {
        EXPECT_FALSE(ZFolder::Exists(file));
        const std::string ini = FileBytes(W(settings_));
        EXPECT_NE(ini.find("verify=1"), std::string::npos) << ini;
        const std::vector<std::wstring> lines =
            Column(testing::ControlById(dialog.Window(), IDC_MESSAGE_LIST), 0);
        EXPECT_NE(std::find(lines.begin(), lines.end(), W(lang::Txt(lang::TextId::kVerifiedRun))),
                  lines.end());
        PostCommand(dialog, kLogCommandSave);
      })
      .WaitFor("the log file", [&] { return ZFolder::Exists(log); })
      .Do([&] {
        EXPECT_EQ(picker.suggested_name, u"Nulvane.log");
        const std::string bytes = FileBytes(log);
        // A byte order mark, oldest line first, the kind's word and a tab before each text.
        EXPECT_EQ(bytes.substr(0, 3), "\xEF\xBB\xBF");
        EXPECT_NE(bytes.find("Info\t" +
                             platform::TextToUtf8(lang::Txt(lang::TextId::kVerifiedRun)) + "\r\n"),
                  std::string::npos)
            << bytes;
        EXPECT_NE(bytes.find("Info\tDestroyed: 1, failed: 0, left untouched: 0\r\n"),
                  std::string::npos);
        EXPECT_LT(bytes.find(platform::TextToUtf8(lang::Txt(lang::TextId::kVerifiedRun))),
                  bytes.find("Destroyed:"));
        // The legend is not part of the log.
        EXPECT_EQ(bytes.find("Warning\tWarning"), std::string::npos);
        PostCommand(dialog, kLogCommandClear);
      })
      .WaitFor("the legend alone", [&] {
        return Column(testing::ControlById(dialog.Window(), IDC_MESSAGE_LIST), 0).size() == 3u;
      });
  EXPECT_EQ(Run(dialog, script), 2);
  EXPECT_TRUE(script.completed());
}

TEST_F(MainDialogTest, EscDuringTheWipingStopsAfterTheCurrentItemAndLeavesTheRestUntouched) {
  // Large enough that each item takes a good while at 35 passes: Esc arrives during the first.
  SetOption(settings::kPassesKey, 35);
  const std::string content(8 << 20, 'x');
  const std::vector<std::wstring> files{folder_ / L"1.bin", folder_ / L"2.bin", folder_ / L"3.bin"};
  std::wstring command_line;
  for (const std::wstring& file : files) {
    ZFolder::Write(file, content);
    command_line += L"\"" + file + L"\" ";
  }
  CSetFileTime dialog(ToText(command_line));
  UiScript script;
  script.Do([&] { PostCommand(dialog, kCommandDelete); })
      .WaitFor("the wiping", [&] { return TopMessage(dialog).rfind(L"Total ", 0) == 0; })
      .Do([&] {
        // On the window's thread, while the worker waits for it: the request is in before the
        // first item can end.
        SendMessageW(dialog.Window(), WM_COMMAND, kCommandCancel, 0);
        EXPECT_EQ(TopMessage(dialog), W(lang::Txt(lang::TextId::kStoppingAfterItem)));
      })
      .WaitFor(
          "the run's end", [] { return !CSetFileTime::WorkerActive(); }, 60000)
      .Do([&] {
        EXPECT_EQ(TopMessage(dialog), L"Destroyed: 1, failed: 0, left untouched: 2");
        // The last item of the list goes first; the other two are as they were.
        EXPECT_FALSE(ZFolder::Exists(files[2]));
        EXPECT_EQ(FileBytes(files[0]), content.substr(0, 1 << 16));
        EXPECT_EQ(FileBytes(files[1]), content.substr(0, 1 << 16));
        EXPECT_EQ(Column(testing::ControlById(dialog.Window(), IDC_ITEM_LIST), 0).size(), 2u);
        EXPECT_EQ(StatusText(dialog).substr(StatusText(dialog).find(L" // ")), L" // Error: 0 ");
      });
  // The program is still open after the stop: the closing command at the end ends it.
  EXPECT_EQ(Run(dialog, script), 2);
  EXPECT_TRUE(script.completed());
}

TEST_F(MainDialogTest, ARowCutAtTheColumnsEdgeShowsItsWholePathInATooltip) {
  const std::wstring deep = folder_ / (std::wstring(120, L'n') + L".txt");
  ZFolder::Write(deep, "x");
  CSetFileTime dialog(ToText(L"\"" + deep + L"\""));
  UiScript script;
  script.Do([&] {
    EXPECT_NE(SendMessageW(testing::ControlById(dialog.Window(), IDC_ITEM_LIST),
                           LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0) &
                  LVS_EX_INFOTIP,
              0);
    // What the list view asks when the pointer rests on a row whose text it cut.
    std::vector<wchar_t> buffer(1024, L'?');
    NMLVGETINFOTIPW tip{};
    tip.hdr.hwndFrom = testing::ControlById(dialog.Window(), IDC_ITEM_LIST);
    tip.hdr.idFrom =
        static_cast<UINT_PTR>(GetDlgCtrlID(testing::ControlById(dialog.Window(), IDC_ITEM_LIST)));
    tip.hdr.code = LVN_GETINFOTIPW;
    tip.pszText = buffer.data();
    tip.cchTextMax = static_cast<int>(buffer.size());
    tip.iItem = 0;
    SendMessageW(dialog.Window(), WM_NOTIFY, tip.hdr.idFrom, reinterpret_cast<LPARAM>(&tip));
    EXPECT_EQ(std::wstring(buffer.data()), Lower(deep));
    // A row shown whole gets no tip.
    tip.dwFlags = LVGIT_UNFOLDED;
    SendMessageW(dialog.Window(), WM_NOTIFY, tip.hdr.idFrom, reinterpret_cast<LPARAM>(&tip));
    EXPECT_EQ(std::wstring(buffer.data()), L"");
  });
  EXPECT_EQ(Run(dialog, script), 2);
  EXPECT_TRUE(script.completed());
}

}  // namespace
}  // namespace nulvane::app
