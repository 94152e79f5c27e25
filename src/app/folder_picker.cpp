#include "app/folder_picker.h"

#include <shlobj.h>

#include <vector>

#include "lang/language_table.h"
#include "platform/win32/wide.h"

namespace nulvane::app {

namespace {
using lang::TextId;
}  // namespace

std::optional<Text> ChooseFillFolder(HWND owner) {
  // The shell needs COM on this thread for as long as the picker is shown; a thread that has
  // it already keeps it as it was.
  const HRESULT com = OleInitialize(nullptr);
  BROWSEINFOW info{};
  info.hwndOwner = owner;
  std::optional<Text> chosen;
  if (PIDLIST_ABSOLUTE list = SHBrowseForFolderW(&info)) {
    // Long enough for any path the shell can give, not only MAX_PATH.
    std::vector<wchar_t> path(32768, L'\0');
    if (SHGetPathFromIDListEx(list, path.data(), static_cast<DWORD>(path.size()), GPFIDL_DEFAULT) &&
        path[0] != L'\0') {
      chosen = platform::FromWide(path.data());
    }
    CoTaskMemFree(list);
    if (!chosen) {
      // The fill does not start, and the user is told why nothing happens.
      const Text message(lang::Txt(TextId::kNoFolder));
      MessageBoxW(owner, platform::Wide(message), nullptr, MB_OK | MB_ICONERROR);
    }
  }
  if (SUCCEEDED(com)) OleUninitialize();
  return chosen;
}

}  // namespace nulvane::app
