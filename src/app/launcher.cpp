#include "app/launcher.h"

#include <windows.h>

#include <powrprof.h>
#include <shellapi.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "platform/win32/wide.h"

namespace nulvane::app {
namespace {

// The system folder (System32) with a separator at the end; empty when it cannot be read.
Text SystemFolder() {
  const UINT length = GetSystemDirectoryW(nullptr, 0);
  if (length == 0) return {};
  std::vector<wchar_t> folder(length + 1, L'\0');
  const UINT copied = GetSystemDirectoryW(folder.data(), length + 1);
  if (copied == 0 || copied > length) return {};
  return platform::FromWide(folder.data(), copied) + u"\\";
}

void EnableShutDownPrivilege() {
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

class SystemLauncher final : public Launcher {
 public:
  // `system_folder` ends with a separator; empty: the system's own folder, read when needed.
  explicit SystemLauncher(Text system_folder) : system_folder_(std::move(system_folder)) {}

  void OpenAddress(TextView address) override {
    if (address.empty()) return;
    const std::wstring wide(address.begin(), address.end());
    ShellExecuteW(nullptr, L"open", wide.c_str(), nullptr, nullptr, SW_SHOW);
  }

  void ShowInFolder(TextView path) override {
    if (path.empty()) return;
    // The shell's calls need COM on this thread for as long as they work.
    const HRESULT com = OleInitialize(nullptr);
    const Text copy(path);
    if (PIDLIST_ABSOLUTE entry = ILCreateFromPathW(platform::Wide(copy))) {
      SHOpenFolderAndSelectItems(entry, 0, nullptr, 0);
      ILFree(entry);
    }
    if (SUCCEEDED(com)) OleUninitialize();
  }

  void ShutDown() override {
    // The console program runs without a console window of its own, and it is the one in the
    // system folder: never a shutdown.exe that the search path finds first (the program's own
    // folder, the current folder).
    const Text folder = system_folder_.empty() ? SystemFolder() : system_folder_;
    if (!folder.empty()) {
      const Text program = folder + u"shutdown.exe";
      std::wstring command_line = L"shutdown.exe -s -t 0";
      STARTUPINFOW startup{};
      startup.cb = sizeof startup;
      startup.dwFlags = STARTF_USESHOWWINDOW;
      startup.wShowWindow = SW_HIDE;
      PROCESS_INFORMATION process{};
      if (CreateProcessW(platform::Wide(program), command_line.data(), nullptr, nullptr, FALSE,
                         CREATE_NO_WINDOW, nullptr, nullptr, &startup, &process)) {
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
      }
    }
    // Systems before NT 5 have no shutdown.exe.
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof(version);
    if (GetVersionExW(&version) && version.dwMajorVersion < 5) ExitWindowsEx(EWX_SHUTDOWN, 0);
  }

  bool StandbyPossible() override {
    SYSTEM_POWER_CAPABILITIES capabilities{};
    // Unknown capabilities do not forbid the attempt: Standby reports a refusal itself.
    if (!GetPwrCapabilities(&capabilities)) return true;
    return capabilities.SystemS1 || capabilities.SystemS2 || capabilities.SystemS3;
  }

  std::uint32_t Standby() override {
    // Called here with explicit arguments: the standby must not become a hibernation, whatever
    // the machine's hibernation setting is.
    EnableShutDownPrivilege();
    if (SetSuspendState(FALSE, FALSE, FALSE)) return 0;
    const DWORD error = GetLastError();
    return error != 0 ? error : ERROR_GEN_FAILURE;
  }

 private:
  const Text system_folder_;
};

Launcher* g_launcher = nullptr;

}  // namespace

std::unique_ptr<Launcher> MakeSystemLauncher(Text system_folder) {
  if (!system_folder.empty() && system_folder.back() != u'\\') system_folder += u'\\';
  return std::make_unique<SystemLauncher>(std::move(system_folder));
}

Launcher& CurrentLauncher() {
  static SystemLauncher system_launcher{Text()};
  return g_launcher ? *g_launcher : system_launcher;
}

void UseLauncher(Launcher* launcher) { g_launcher = launcher; }

}  // namespace nulvane::app
