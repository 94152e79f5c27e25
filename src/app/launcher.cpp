#include "app/launcher.h"

#include <windows.h>

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
};

Launcher* g_launcher = nullptr;

}  // namespace

Launcher& CurrentLauncher() {
  static SystemLauncher system_launcher;
  return g_launcher ? *g_launcher : system_launcher;
}

void UseLauncher(Launcher* launcher) { g_launcher = launcher; }

}  // namespace nulvane::app
