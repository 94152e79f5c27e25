#include "app/launcher.h"

#include <windows.h>

#include <powrprof.h>
#include <shellapi.h>

#include <string>

namespace nulvane::app {
namespace {

class SystemLauncher final : public Launcher {
 public:
  void OpenAddress(TextView address) override {
    if (address.empty()) return;
    const std::wstring wide(address.begin(), address.end());
    ShellExecuteW(nullptr, L"open", wide.c_str(), nullptr, nullptr, SW_SHOW);
  }

  void ShutDown() override {
    ShellExecuteW(nullptr, L"open", L"shutdown.exe", L"-s -t 0", nullptr, SW_SHOW);
    // Systems before NT 5 have no shutdown.exe.
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof(version);
    if (GetVersionExW(&version) && version.dwMajorVersion < 5) ExitWindowsEx(EWX_SHUTDOWN, 0);
  }

  void Standby() override {
    // Called here with explicit arguments: the standby must not become a hibernation, whatever
    // the machine's hibernation setting is.
    EnableShutDownPrivilege();
    SetSuspendState(FALSE, FALSE, FALSE);
  }

 private:
  static void EnableShutDownPrivilege() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
      return;
    }
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (LookupPrivilegeValueW(nullptr, SE_SHUTDOWN_NAME, &privileges.Privileges[0].Luid)) {
      AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
    }
    CloseHandle(token);
  }
};

Launcher* g_launcher = nullptr;

}  // namespace

Launcher& CurrentLauncher() {
  static SystemLauncher system_launcher;
  return g_launcher ? *g_launcher : system_launcher;
}

void UseLauncher(Launcher* launcher) { g_launcher = launcher; }

}  // namespace nulvane::app
