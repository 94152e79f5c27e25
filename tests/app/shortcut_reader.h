// Reads a shell link back, for the tests of the Send-To shortcut.
#pragma once

#include <windows.h>

#include <objbase.h>
#include <objidl.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <string>
#include <vector>

namespace nulvane::app::testing {

// The target and description stored in the shortcut at `path`.
struct LinkContents {
  std::wstring target;
  std::wstring description;
};
inline LinkContents ReadLink(const std::wstring& path) {
  LinkContents contents;
  IShellLinkW* link = nullptr;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                              reinterpret_cast<void**>(&link)))) {
    return contents;
  }
  IPersistFile* file = nullptr;
  if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
    if (SUCCEEDED(file->Load(path.c_str(), STGM_READ))) {
      std::vector<wchar_t> buffer(32768, L'\0');
      if (SUCCEEDED(link->GetPath(buffer.data(), static_cast<int>(buffer.size()), nullptr, 0))) {
        contents.target = buffer.data();
      }
      buffer.assign(buffer.size(), L'\0');
      if (SUCCEEDED(link->GetDescription(buffer.data(), static_cast<int>(buffer.size())))) {
        contents.description = buffer.data();
      }
    }
    file->Release();
  }
  link->Release();
  return contents;
}

}  // namespace nulvane::app::testing
