// nulvane.exe in a process of its own, driven with real input (SendInput): the menu bar's
// popup by mouse and keys, F10 and Alt, and the list toolbar's Alt+letter keys. The window is
// read back through messages that need no pointer (counts, states), and every popup the program
// opens is counted through a WinEvent hook. This program runs alone: its input goes to whatever
// window is in front.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "gui_harness.h"

namespace nulvane::app::testing {
namespace {

// The build's program, reached through Z: (the build tree is a Unix path).
std::wstring BuiltProgram() {
  const std::string unix_path = NULVANE_EXE_PATH;
  std::wstring path = L"Z:";
  for (char c : unix_path) path += c == '/' ? L'\\' : static_cast<wchar_t>(c);
  return path;
}

void WriteFile(const std::wstring& path, const std::string& bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD written = 0;
  ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
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
    folder_ = NewScratchFolder(L"nulvane-input-");
    ASSERT_FALSE(folder_.empty());
    program_ = folder_ + L"\\nulvane.exe";
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
    RemoveTree(folder_);
  }

  static void RemoveTree(const std::wstring& path) {
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
      do {
        const std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..") continue;
        const std::wstring child = path + L"\\" + name;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
          RemoveTree(child);
        } else {
          SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
          DeleteFileW(child.c_str());
        }
      } while (FindNextFileW(find, &entry));
      FindClose(find);
    }
    RemoveDirectoryW(path.c_str());
  }

  // Starts the copy of the program in English with no countdown and `arguments`, waits for its
  // window and brings it to the front.
  void Start(const std::wstring& arguments = L"") {
    WriteFile(folder_ + L"\\nulvane.ini",
              "[Program]\r\nlng=1\r\n[NewFileTime]\r\ndel_delay=0\r\nre_write=1\r\n");
    std::wstring command = L"\"" + program_ + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    ASSERT_TRUE(CreateProcessW(program_.c_str(), command.data(), nullptr, nullptr, FALSE, 0,
                               nullptr, folder_.c_str(), &startup, &process_));
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
      if (condition()) return true;
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
  int HotCommand() const {
    const auto hot = static_cast<int>(SendMessageW(ListToolbar(), TB_GETHOTITEM, 0, 0));
    if (hot < 0) return -1;
    TBBUTTON button{};
    // TB_GETBUTTON needs a buffer in the program's process: ask for the id of each command
    // instead.
    for (int command : {1015, 1014, 32802, 4020, 4019}) {
      if (SendMessageW(ListToolbar(), TB_COMMANDTOINDEX, command, 0) == hot) return command;
    }
    (void)button;
    return -1;
  }

  std::wstring folder_;
  std::wstring program_;
  PROCESS_INFORMATION process_{};
  HWND window_ = nullptr;
};

TEST_F(RealWindowTest, ArrowsInTheOpenPopupNeverLoopAndTheWindowStillCloses) {
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
  // At rest Esc closes the window, as Exit does.
  Key(VK_ESCAPE);
  ASSERT_TRUE(Ended(5000));
  EXPECT_EQ(ExitCode(), 0u);
}

}  // namespace
}  // namespace nulvane::app::testing
