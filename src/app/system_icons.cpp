#include "app/system_icons.h"

namespace nulvane::app {

HICON CUniSysIco::LoadShellIcon(int id, int size_flag) const {
  if (!looked_up_) {
    // Loaded here when nothing else has loaded it yet, from the system folder only, and kept
    // for the life of the process.
    shell_ = GetModuleHandleW(L"shell32.dll");
    if (!shell_) shell_ = LoadLibraryExW(L"shell32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (!shell_) shell_ = LoadLibraryW(L"shell32.dll");
    looked_up_ = true;
  }
  if (!shell_ || id <= 0) return nullptr;
  const int size = size_flag == 0 ? 0 : GetSystemMetrics(SM_CXICON);
  return static_cast<HICON>(LoadImageW(shell_, MAKEINTRESOURCEW(id), IMAGE_ICON, size, size,
                                       size_flag == 0 ? LR_DEFAULTSIZE : 0));
}

}  // namespace nulvane::app
