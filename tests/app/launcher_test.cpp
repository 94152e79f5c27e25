// The system launcher's shut-down, with a stand-in for shutdown.exe in a folder of the test's
// own: it is started from that folder, with its arguments, and without a window.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "app/launcher.h"
#include "gui_harness.h"

namespace nulvane::app {
namespace {

std::wstring BuildPath(const std::string& unix_path) {
  std::wstring path = L"Z:";
  for (char c : unix_path) path += c == '/' ? L'\\' : static_cast<wchar_t>(c);
  return path;
}

std::wstring ReadReport(const std::wstring& path) {
  HANDLE file =
      CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return {};
  std::wstring text(4096, L'\0');
  DWORD read = 0;
  ReadFile(file, text.data(), static_cast<DWORD>(text.size() * sizeof(wchar_t)), &read, nullptr);
  CloseHandle(file);
  text.resize(read / sizeof(wchar_t));
  return text;
}

TEST(SystemLauncher, ShutDownStartsTheSystemFoldersProgramHidden) {
  const std::wstring folder = testing::NewScratchFolder(L"nulvane-launcher-");
  ASSERT_FALSE(folder.empty());
  const std::wstring program = folder + L"\\shutdown.exe";
  const std::wstring report = folder + L"\\report.txt";
  ASSERT_TRUE(CopyFileW(BuildPath(NULVANE_FAKE_SHUTDOWN_PATH).c_str(), program.c_str(), FALSE));
  ASSERT_TRUE(SetEnvironmentVariableW(L"NULVANE_FAKE_SHUTDOWN_REPORT", report.c_str()));

  MakeSystemLauncher(Text(folder.begin(), folder.end()))->ShutDown();
  std::wstring text;
  const DWORD start = GetTickCount();
  while ((text = ReadReport(report)).find(L"window") == std::wstring::npos &&
         GetTickCount() - start < 15000) {
    Sleep(50);
  }
  SetEnvironmentVariableW(L"NULVANE_FAKE_SHUTDOWN_REPORT", nullptr);
  // Its command line, its show state (SW_HIDE), its console.
  const std::size_t first = text.find(L'\n');
  ASSERT_NE(first, std::wstring::npos) << "the stand-in did not run";
  EXPECT_NE(text.substr(0, first).find(L"shutdown.exe -s -t 0"), std::wstring::npos) << text;
  EXPECT_EQ(text.substr(first + 1), L"0\nno console window\n");

  for (int attempt = 0; attempt < 50 && !DeleteFileW(program.c_str()); ++attempt) Sleep(100);
  DeleteFileW(report.c_str());
  RemoveDirectoryW(folder.c_str());
}

}  // namespace
}  // namespace nulvane::app
