// nulvane.exe in a process of its own, driven with real input (SendInput): the menu bar's
// popup by mouse and keys, F10 and Alt, and the list toolbar's Alt+letter keys. The window is
// read back through messages that need no pointer (counts, states), and every popup the program
// opens is counted. A last test runs the dialog in this process, for what only its own thread
// can read back. This program runs alone: its input goes to whatever window is in front.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "dialog_script.h"
#include "main_dialog_fixture.h"

namespace nulvane::app::testing {
namespace {

// The build's program, reached through Z: (the build tree is a Unix path).
std::wstring BuiltProgram() {
  const std::string unix_path = NULVANE_EXE_PATH;
  std::wstring path = L"Z:";
  for (char c : unix_path) path += c == '/' ? L'\\' : static_cast<wchar_t>(c);
  return path;
}

// ---- Real input ----

void SendKey(WORD key, bool up) {
  INPUT input{};
  input.type = INPUT_KEYBOARD;
  input.ki.wVk = key;
  input.ki.wScan = static_cast<WORD>(MapVirtualKeyW(key, MAPVK_VK_TO_VSC));
  input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
  if (key == VK_LEFT || key == VK_RIGHT || key == VK_UP || key == VK_DOWN) {
    input.ki.dwFlags |= KEYEVENTF_EXTENDEDKEY;
  }
  SendInput(1, &input, sizeof(input));
}

// A key pressed and released, optionally with Alt held around it.
void Press(WORD key, bool with_alt = false) {
  if (with_alt) SendKey(VK_MENU, false);
  SendKey(key, false);
  SendKey(key, true);
  if (with_alt) SendKey(VK_MENU, true);
}

void ClickAt(POINT screen) {
  const int width = GetSystemMetrics(SM_CXSCREEN);
  const int height = GetSystemMetrics(SM_CYSCREEN);
  INPUT inputs[3] = {};
  for (INPUT& input : inputs) {
    input.type = INPUT_MOUSE;
    input.mi.dx = MulDiv(screen.x, 65535, width - 1);
    input.mi.dy = MulDiv(screen.y, 65535, height - 1);
  }
  inputs[0].mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
  inputs[1].mi.dwFlags = MOUSEEVENTF_LEFTDOWN | MOUSEEVENTF_ABSOLUTE;
  inputs[2].mi.dwFlags = MOUSEEVENTF_LEFTUP | MOUSEEVENTF_ABSOLUTE;
  SendInput(3, inputs, sizeof(INPUT));
}

POINT CentreOf(HWND window) {
  RECT rect{};
  GetWindowRect(window, &rect);
  return POINT{(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
}

// ---- The program under test ----

// The popup menu windows the program shows, watched by polling (WinEvents of menus do not
// cross processes under every system): a window that was not shown at the last look counts as
// an opened popup. Input resets the run count: a popup that opens more than twice in a row
// without input is a loop and fails the test at once.
struct PopupWatch {
  DWORD thread = 0;
  std::vector<HWND> shown;
  int total = 0;
  int since_input = 0;
  bool looping = false;
};
PopupWatch g_watch;

std::vector<HWND> ShownPopups(DWORD thread) {
  std::vector<HWND> found;
  EnumThreadWindows(
      thread,
      [](HWND window, LPARAM data) -> BOOL {
        wchar_t name[16] = {};
        GetClassNameW(window, name, 16);
        if (IsWindowVisible(window) && std::wstring(name) == L"#32768") {
          reinterpret_cast<std::vector<HWND>*>(data)->push_back(window);
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&found));
  return found;
}

void LookAtPopups() {
  std::vector<HWND> now = ShownPopups(g_watch.thread);
  for (HWND window : now) {
    if (std::find(g_watch.shown.begin(), g_watch.shown.end(), window) != g_watch.shown.end()) {
      continue;
    }
    ++g_watch.total;
    if (++g_watch.since_input > 2) g_watch.looping = true;
  }
  g_watch.shown = std::move(now);
}

class RealWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    program_ = folder_ / L"nulvane.exe";
    ASSERT_TRUE(CopyFileW(BuiltProgram().c_str(), program_.c_str(), FALSE)) << GetLastError();
  }

  void TearDown() override {
    if (process_.hProcess) {
      if (WaitForSingleObject(process_.hProcess, 0) != WAIT_OBJECT_0) {
        TerminateProcess(process_.hProcess, 9);
        WaitForSingleObject(process_.hProcess, 5000);
      }
      CloseHandle(process_.hThread);
      CloseHandle(process_.hProcess);
    }
  }

  // Starts the copy of the program in English with no countdown and `arguments`, waits for its
  // window and brings it to the front.
  void Start(const std::wstring& arguments = L"") {
    ZFolder::Write(folder_ / L"nulvane.ini",
                   "[Program]\r\nlng=1\r\n[NewFileTime]\r\ndel_delay=0\r\nre_write=1\r\n");
    std::wstring command = L"\"" + program_ + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    ASSERT_TRUE(CreateProcessW(program_.c_str(), command.data(), nullptr, nullptr, FALSE, 0,
                               nullptr, folder_.path().c_str(), &startup, &process_));
    g_watch = PopupWatch{};
    g_watch.thread = process_.dwThreadId;
    ASSERT_TRUE(Wait(
        "the window", [&] { return (window_ = FindWindow()) != nullptr; }, 20000));
    SetForegroundWindow(window_);
    ASSERT_TRUE(Wait("the window in front", [&] { return GetForegroundWindow() == window_; }));
    PumpMessagesFor(500);
  }

  HWND FindWindow() const {
    struct Search {
      DWORD process;
      HWND found;
    } search{process_.dwProcessId, nullptr};
    EnumWindows(
        [](HWND window, LPARAM data) -> BOOL {
          auto* wanted = reinterpret_cast<Search*>(data);
          DWORD process = 0;
          GetWindowThreadProcessId(window, &process);
          if (process != wanted->process || !IsWindowVisible(window) ||
              WindowText(window).rfind(L"Nulvane 4.21", 0) != 0) {
            return TRUE;
          }
          wanted->found = window;
          return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
  }

  // Watches the program's popups until `condition` holds; a popup loop fails at once.
  bool Wait(const std::string& what, const std::function<bool()>& condition,
            DWORD timeout_ms = 5000) {
    const DWORD start = GetTickCount();
    for (;;) {
      PumpMessages();
      LookAtPopups();
      if (g_watch.looping) {
        ADD_FAILURE() << "a popup opened more than twice without input, waiting for " << what;
        return false;
      }
      if (condition()) {
        LookAtPopups();  // a popup that appeared since the look above is counted too
        return true;
      }
      if (GetTickCount() - start > timeout_ms) {
        ADD_FAILURE() << "timed out waiting for " << what;
        return false;
      }
      Sleep(1);
    }
  }
  // Lets the program take its time with the last input, watching for loops meanwhile.
  void Settle(DWORD milliseconds = 600) {
    Wait("nothing",
         [start = GetTickCount(), milliseconds] { return GetTickCount() - start >= milliseconds; });
  }

  void Key(WORD key, bool with_alt = false) {
    g_watch.since_input = 0;
    Press(key, with_alt);
  }
  void Click(POINT screen) {
    g_watch.since_input = 0;
    ClickAt(screen);
  }

  // A popup of the menu bar: below the bar, at its left edge (the system menu opens elsewhere).
  bool BarPopupOpen() const {
    RECT bar{};
    GetWindowRect(MenuBar(), &bar);
    for (HWND popup : ShownPopups(process_.dwThreadId)) {
      RECT rect{};
      GetWindowRect(popup, &rect);
      if (rect.top >= bar.bottom - 2 && rect.left >= bar.left - 2 && rect.left <= bar.right) {
        return true;
      }
    }
    return false;
  }
  bool AnyPopupOpen() const { return !ShownPopups(process_.dwThreadId).empty(); }

  bool Ended(DWORD timeout_ms) {
    return Wait(
        "the program's end",
        [&] { return WaitForSingleObject(process_.hProcess, 0) == WAIT_OBJECT_0; }, timeout_ms);
  }
  DWORD ExitCode() const {
    DWORD code = 0;
    GetExitCodeProcess(process_.hProcess, &code);
    return code;
  }

  // The program's controls, found by their ids (the menu bar is the dialog's first child).
  HWND MenuBar() const { return GetWindow(window_, GW_CHILD); }
  HWND Child(int id) const { return GetDlgItem(window_, id); }
  HWND ListToolbar() const { return Child(11114); }
  int ItemRows() const {
    return static_cast<int>(SendMessageW(Child(1001), LVM_GETITEMCOUNT, 0, 0));
  }
  int MessageLines() const {
    return static_cast<int>(SendMessageW(Child(1004), LVM_GETITEMCOUNT, 0, 0));
  }
  // The command of the list toolbar's hot button, -1 for none.
  int HotCommand() const {
    const auto hot = static_cast<int>(SendMessageW(ListToolbar(), TB_GETHOTITEM, 0, 0));
    for (int command : {1015, 1014, 32802, 4020, 4019}) {
      if (hot >= 0 && SendMessageW(ListToolbar(), TB_COMMANDTOINDEX, command, 0) == hot) {
        return command;
      }
    }
    return -1;
  }

  ZFolder folder_;
  std::wstring program_;
  PROCESS_INFORMATION process_{};
  HWND window_ = nullptr;
};

TEST_F(RealWindowTest, ArrowsInTheOpenPopupNeverLoopAndF10DownUpEnterRunsExit) {
  Start();
  ASSERT_NE(MenuBar(), nullptr);
  Click(CentreOf(MenuBar()));
  ASSERT_TRUE(Wait("the popup", [&] { return BarPopupOpen(); }));
  // With one top-level item the arrows have nowhere to go: the popup stays as it is.
  Key(VK_LEFT);
  Settle();
  Key(VK_RIGHT);
  Settle();
  EXPECT_TRUE(BarPopupOpen());
  EXPECT_EQ(g_watch.total, 1);
  Key(VK_ESCAPE);
  ASSERT_TRUE(Wait("the popup to close", [&] { return !AnyPopupOpen(); }));
  Settle();
  EXPECT_EQ(WaitForSingleObject(process_.hProcess, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  // F10 makes the bar's item hot, Down opens it with its first item highlighted, Up wraps to
  // its last item, Exit, and Enter runs it.
  Key(VK_F10);
  Settle(300);
  Key(VK_DOWN);
  ASSERT_TRUE(Wait("the popup by keys", [&] { return BarPopupOpen(); }));
  EXPECT_EQ(g_watch.total, 2);
  Key(VK_UP);
  Settle(300);
  Key(VK_RETURN);
  ASSERT_TRUE(Ended(5000));
  EXPECT_EQ(ExitCode(), 0u);
}

TEST_F(RealWindowTest, AltAloneOpensTheBarAndAltNOpensItsMenu) {
  Start();
  // Alt pressed and released alone: the bar's item is hot, nothing is open; Esc leaves the bar
  // (and does not close the window).
  Key(VK_MENU);
  Settle(300);
  EXPECT_EQ(SendMessageW(MenuBar(), TB_GETHOTITEM, 0, 0), 0);
  EXPECT_FALSE(AnyPopupOpen());
  Key(VK_ESCAPE);
  Settle(300);
  EXPECT_EQ(SendMessageW(MenuBar(), TB_GETHOTITEM, 0, 0), -1);
  EXPECT_EQ(WaitForSingleObject(process_.hProcess, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  // Alt+N: the program's menu, once.
  Key('N', /*with_alt=*/true);
  ASSERT_TRUE(Wait("the menu by Alt+N", [&] { return BarPopupOpen(); }));
  Settle(300);
  EXPECT_EQ(g_watch.total, 1);
  Key(VK_ESCAPE);
  ASSERT_TRUE(Wait("the menu to close", [&] { return !AnyPopupOpen(); }));
}

TEST_F(RealWindowTest, AltRResetsTheListAndAltDMovesBetweenTheTwoDButtonsRunningNothing) {
  const std::wstring tree = folder_ / L"tree";
  CreateDirectoryW(tree.c_str(), nullptr);
  ZFolder::Write(tree + L"\\a.txt", "abc");
  Start(L"\"" + tree + L"\"");
  ASSERT_TRUE(Wait("the rows", [&] { return ItemRows() == 2; }));
  const int lines = MessageLines();
  // Alt+D: "&Delete" and "Delete &Delay" share the letter: the first press makes Delete hot,
  // the second Delay, and neither runs.
  Key('D', /*with_alt=*/true);
  ASSERT_TRUE(Wait("Delete hot", [&] { return HotCommand() == 1014; }));
  Key('D', /*with_alt=*/true);
  ASSERT_TRUE(Wait("Delay hot", [&] { return HotCommand() == 4019; }));
  Settle();
  EXPECT_EQ(MessageLines(), lines) << "no run started";
  EXPECT_FALSE(AnyPopupOpen()) << "no menu opened";
  EXPECT_EQ(ItemRows(), 2);
  // Enter runs the hot one: the delay menu opens below its button; Esc closes it.
  Key(VK_RETURN);
  ASSERT_TRUE(Wait("the delay menu", [&] { return AnyPopupOpen(); }));
  Key(VK_ESCAPE);
  ASSERT_TRUE(Wait("the menu to close", [&] { return !AnyPopupOpen(); }));
  // Alt+R: one button carries R, so it runs at once: the list is empty, the files are kept.
  Key('R', /*with_alt=*/true);
  ASSERT_TRUE(Wait("the empty list", [&] { return ItemRows() == 0; }));
  EXPECT_NE(GetFileAttributesW((tree + L"\\a.txt").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(RealWindowTest, TabReachesTheToolbarsAndEnterPressesTheHotButton) {
  Start();
  // From the item list: the message list, the link button, the corner toolbar (LNG first), the
  // list toolbar.
  const HWND corner = FindWindowExW(Child(11111), nullptr, TOOLBARCLASSNAMEW, nullptr);
  HWND corner_toolbar = nullptr;
  for (HWND child = corner; child;
       child = FindWindowExW(Child(11111), child, TOOLBARCLASSNAMEW, nullptr)) {
    if (GetDlgCtrlID(child) == 11113) corner_toolbar = child;
  }
  ASSERT_NE(corner_toolbar, nullptr);
  for (int i = 0; i < 3; ++i) {
    Key(VK_TAB);
    Settle(200);
  }
  ASSERT_TRUE(
      Wait("LNG hot", [&] { return SendMessageW(corner_toolbar, TB_GETHOTITEM, 0, 0) == 0; }));
  // Right moves to Exit; Enter presses it: the program ends.
  Key(VK_RIGHT);
  ASSERT_TRUE(
      Wait("Exit hot", [&] { return SendMessageW(corner_toolbar, TB_GETHOTITEM, 0, 0) == 1; }));
  Key(VK_RETURN);
  ASSERT_TRUE(Ended(5000));
  EXPECT_EQ(ExitCode(), 0u);
}

// The real dialog in this process, for what only its own thread can read back: how the
// toolbars draw their mnemonics.
class InProcessKeysTest : public MainDialogTest {
 protected:
  void SetUp() override {
    MainDialogTest::SetUp();
    // Underlines only while the keyboard asks for them, as Windows has it by default (this
    // process only: nothing is written to the prefix).
    SystemParametersInfoW(SPI_GETKEYBOARDCUES, 0, &saved_cues_, 0);
    SystemParametersInfoW(SPI_SETKEYBOARDCUES, 0, nullptr, 0);
  }
  void TearDown() override {
    SystemParametersInfoW(SPI_SETKEYBOARDCUES, 0,
                          reinterpret_cast<void*>(static_cast<INT_PTR>(saved_cues_)), 0);
    MainDialogTest::TearDown();
  }
  static bool UnderlinesHidden(HWND toolbar) {
    // A mask of 0 changes nothing and answers the flags in use.
    return (SendMessageW(toolbar, TB_SETDRAWTEXTFLAGS, 0, 0) & DT_HIDEPREFIX) != 0;
  }

  BOOL saved_cues_ = TRUE;
};

TEST_F(InProcessKeysTest, UnderlinesShowWhileAltIsHeldAndInTheMenuBarsKeyboardMode) {
  CSetFileTime dialog(u"");
  UiScript script;
  script
      .Do([&] {
        SetForegroundWindow(dialog.Window());
        EXPECT_TRUE(UnderlinesHidden(testing::ControlById(dialog.Window(), kListToolbarId)));
        EXPECT_TRUE(UnderlinesHidden(MenuBar().toolbar()));
        SendKey(VK_MENU, false);
      })
      .WaitFor(
          "the underlines",
          [&] { return !UnderlinesHidden(testing::ControlById(dialog.Window(), kListToolbarId)); })
      .Do([&] {
        EXPECT_FALSE(UnderlinesHidden(MenuBar().toolbar()));
        EXPECT_FALSE(UnderlinesHidden(testing::ControlById(dialog.Window(), kCornerToolbarId)));
        SendKey(VK_MENU, true);
      })
      .WaitFor("the keyboard mode",
               [&] { return SendMessageW(MenuBar().toolbar(), TB_GETHOTITEM, 0, 0) == 0; })
      .Do([&] {
        EXPECT_FALSE(UnderlinesHidden(testing::ControlById(dialog.Window(), kListToolbarId)));
        Press(VK_ESCAPE);
      })
      .WaitFor(
          "the underlines to go",
          [&] { return UnderlinesHidden(testing::ControlById(dialog.Window(), kListToolbarId)); })
      .Do([&] {
        EXPECT_EQ(SendMessageW(MenuBar().toolbar(), TB_GETHOTITEM, 0, 0), -1);
        EXPECT_TRUE(IsWindowVisible(dialog.Window())) << "Esc left the bar, not the program";
        // Alt as a modifier: the underlines show while it is held, and go with it.
        SendKey(VK_MENU, false);
        SendKey(VK_SHIFT, false);
      })
      .WaitFor(
          "the underlines again",
          [&] { return !UnderlinesHidden(testing::ControlById(dialog.Window(), kListToolbarId)); })
      .Do([&] {
        SendKey(VK_SHIFT, true);
        SendKey(VK_MENU, true);
      })
      .WaitFor(
          "the underlines to go again",
          [&] { return UnderlinesHidden(testing::ControlById(dialog.Window(), kListToolbarId)); })
      .Do([&] {
        EXPECT_EQ(SendMessageW(MenuBar().toolbar(), TB_GETHOTITEM, 0, 0), -1);
        PostMessageW(dialog.Window(), WM_COMMAND, kCommandCancel, 0);
      });
  EXPECT_EQ(RunScripted(dialog, script), 2);
}

}  // namespace
}  // namespace nulvane::app::testing
