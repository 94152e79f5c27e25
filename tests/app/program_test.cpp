// nulvane.exe as a separate process: it starts with a folder on its command line, shows its
// window, puts its shortcut into Send To and takes it out again, destroys the folder on Delete
// and ends on the cancel command with exit code 0.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <string>

#include "app/send_to.h"
#include "shortcut_reader.h"

namespace {

using nulvane::Text;

// The build's program, reached through Z: (the build tree is a Unix path).
std::wstring BuiltProgram() {
  const std::string unix_path = NULVANE_EXE_PATH;
  std::wstring path = L"Z:";
  for (char c : unix_path) path += c == '/' ? L'\\' : static_cast<wchar_t>(c);
  return path;
}

struct FoundWindow {
  DWORD process = 0;
  HWND window = nullptr;
};

BOOL CALLBACK FindProcessWindow(HWND window, LPARAM data) {
  auto* found = reinterpret_cast<FoundWindow*>(data);
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  wchar_t title[128] = {};
  GetWindowTextW(window, title, 128);
  if (process == found->process && IsWindowVisible(window) &&
      std::wstring(title) == L"Nulvane 4.21 [Unicode]") {
    found->window = window;
    return FALSE;
  }
  return TRUE;
}

bool WaitFor(const auto& condition, DWORD timeout_ms) {
  const DWORD start = GetTickCount();
  while (!condition()) {
    if (GetTickCount() - start > timeout_ms) return false;
    Sleep(20);
  }
  return true;
}

TEST(Program, StartsShowsItsWindowDestroysOnDeleteAndEndsOnCancel) {
  // The program and its settings file in a folder of the test's own, so that the settings file
  // beside the program is the test's.
  const std::wstring folder = L"Z:\\tmp\\nulvane-program-" + std::to_wstring(GetCurrentProcessId());
  CreateDirectoryW(folder.c_str(), nullptr);
  const std::wstring program = folder + L"\\nulvane.exe";
  ASSERT_TRUE(CopyFileW(BuiltProgram().c_str(), program.c_str(), FALSE)) << GetLastError();
  const std::wstring settings = folder + L"\\nulvane.ini";
  WritePrivateProfileStringW(L"NewFileTime", L"del_delay", L"0", settings.c_str());
  WritePrivateProfileStringW(L"NewFileTime", L"re_write", L"1", settings.c_str());
  WritePrivateProfileStringW(L"Program", L"lng", L"1", settings.c_str());
  const std::wstring target = folder + L"\\doomed folder";
  CreateDirectoryW(target.c_str(), nullptr);
  HANDLE file = CreateFileW((target + L"\\secret.txt").c_str(), GENERIC_WRITE, 0, nullptr,
                            CREATE_ALWAYS, 0, nullptr);
  DWORD written = 0;
  WriteFile(file, "secret", 6, &written, nullptr);
  CloseHandle(file);

  std::wstring command = L"\"" + program + L"\" \"" + target + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  ASSERT_TRUE(CreateProcessW(program.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                             folder.c_str(), &startup, &process));
  FoundWindow found;
  found.process = process.dwProcessId;
  const bool shown = WaitFor(
      [&] {
        EnumWindows(FindProcessWindow, reinterpret_cast<LPARAM>(&found));
        return found.window != nullptr;
      },
      20000);
  EXPECT_TRUE(shown);
  if (shown) {
    // The Send-To shortcut the program makes points to the program itself.
    const Text link_text = nulvane::app::CSendTo::LinkPath(u"Nulvane");
    const std::wstring link(link_text.begin(), link_text.end());
    DeleteFileW(link.c_str());
    PostMessageW(found.window, WM_COMMAND, 32797, 0);
    EXPECT_TRUE(WaitFor([&] { return GetFileAttributesW(link.c_str()) != INVALID_FILE_ATTRIBUTES; },
                        20000));
    EXPECT_EQ(nulvane::app::testing::ReadLink(link).target, program);
    PostMessageW(found.window, WM_COMMAND, 32798, 0);
    EXPECT_TRUE(WaitFor([&] { return GetFileAttributesW(link.c_str()) == INVALID_FILE_ATTRIBUTES; },
                        20000));

    PostMessageW(found.window, WM_COMMAND, 1014, 0);
    EXPECT_TRUE(WaitFor(
        [&] { return GetFileAttributesW(target.c_str()) == INVALID_FILE_ATTRIBUTES; }, 20000));
    // The run's end gives the title back; then the window closes at rest.
    EXPECT_TRUE(WaitFor(
        [&] {
          wchar_t title[128] = {};
          GetWindowTextW(found.window, title, 128);
          return std::wstring(title) == L"Nulvane";
        },
        20000));
    // Closing waits for the run's very end: the commands come back after the stop flag is set.
    const HWND list_toolbar = GetDlgItem(found.window, 11114);
    EXPECT_TRUE(WaitFor(
        [&] { return SendMessageW(list_toolbar, TB_ISBUTTONENABLED, 1014, 0) != 0; }, 20000));
    PostMessageW(found.window, WM_COMMAND, 2, 0);
  }
  const bool ended = WaitForSingleObject(process.hProcess, 20000) == WAIT_OBJECT_0;
  EXPECT_TRUE(ended);
  if (!ended) TerminateProcess(process.hProcess, 1);
  DWORD code = 1;
  GetExitCodeProcess(process.hProcess, &code);
  EXPECT_EQ(code, 0u);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  DeleteFileW(program.c_str());
  DeleteFileW(settings.c_str());
  DeleteFileW((target + L"\\secret.txt").c_str());
  RemoveDirectoryW(target.c_str());
  RemoveDirectoryW(folder.c_str());
}

}  // namespace
