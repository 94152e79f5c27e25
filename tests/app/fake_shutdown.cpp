// Stands in for the system's shutdown.exe in the launcher's test: writes how it was started to
// the file that NULVANE_FAKE_SHUTDOWN_REPORT names (UTF-16, one line each: its command line, its
// show state, whether it has a console window) and shuts nothing down.
#include <windows.h>

#include <string>

int wmain() {
  wchar_t report[MAX_PATH] = {};
  if (GetEnvironmentVariableW(L"NULVANE_FAKE_SHUTDOWN_REPORT", report, MAX_PATH) == 0) return 2;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  GetStartupInfoW(&startup);
  const HWND console = GetConsoleWindow();
  std::wstring text = GetCommandLineW();
  text += L"\n";
  text += (startup.dwFlags & STARTF_USESHOWWINDOW) ? std::to_wstring(startup.wShowWindow)
                                                   : std::wstring(L"default");
  text += L"\n";
  text += console && IsWindowVisible(console) ? L"console window shown" : L"no console window";
  text += L"\n";
  HANDLE file = CreateFileW(report, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  DWORD written = 0;
  const BOOL ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size() * sizeof(wchar_t)),
                            &written, nullptr);
  CloseHandle(file);
  return ok ? 0 : 1;
}
