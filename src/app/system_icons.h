// CUniSysIco: icons from the system's shell library by resource number.
#pragma once

#include <windows.h>

namespace nulvane::app {

class CUniSysIco {
 public:
  CUniSysIco() = default;
  virtual ~CUniSysIco() = default;
  CUniSysIco(const CUniSysIco&) = delete;
  CUniSysIco& operator=(const CUniSysIco&) = delete;

  // Icon resource `id` of shell32 (the module is looked up, and loaded when no one has loaded
  // it yet, once; the handle is kept), at the
  // default icon size when `size_flag` is 0, else at the system's large-icon size. Returns
  // nullptr when the library cannot be loaded or has no such icon: Wine's shell32 lacks some
  // numbers that Windows has, and callers then simply show no icon. The caller owns the icon.
  HICON LoadShellIcon(int id, int size_flag) const;
  // Icon resource `id` of shell32 drawn for `pixels` × `pixels` (the image of the resource that
  // suits that size best, scaled down where none fits). nullptr as above; the caller owns it.
  HICON LoadShellIconAt(int id, int pixels) const;

 private:
  HMODULE ShellModule() const;

  mutable HMODULE shell_ = nullptr;
  mutable bool looked_up_ = false;
};

}  // namespace nulvane::app
