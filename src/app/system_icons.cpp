#include "app/system_icons.h"

#include "app/dpi_resources.h"

namespace nulvane::app {

HMODULE CUniSysIco::ShellModule() const {
  if (!looked_up_) {
    // Loaded here when nothing else has loaded it yet, from the system folder only, and kept
    // for the life of the process.
    shell_ = GetModuleHandleW(L"shell32.dll");
    if (!shell_) shell_ = LoadLibraryExW(L"shell32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (!shell_) shell_ = LoadLibraryW(L"shell32.dll");
    looked_up_ = true;
  }
  return shell_;
}

HICON CUniSysIco::LoadShellIcon(int id, int size_flag) const {
  HMODULE shell = ShellModule();
  if (!shell || id <= 0) return nullptr;
  const int size = size_flag == 0 ? 0 : GetSystemMetrics(SM_CXICON);
  return static_cast<HICON>(LoadImageW(shell, MAKEINTRESOURCEW(id), IMAGE_ICON, size, size,
                                       size_flag == 0 ? LR_DEFAULTSIZE : 0));
}

HICON CUniSysIco::LoadShellIconAt(int id, int pixels) const {
  HMODULE shell = ShellModule();
  if (!shell || id <= 0 || pixels <= 0) return nullptr;
  return LoadSizedIcon(shell, MAKEINTRESOURCEW(id), pixels);
}

}  // namespace nulvane::app
