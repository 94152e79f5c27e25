#include "app/file_picker.h"

#include <shlobj.h>
#include <shobjidl.h>

#include "platform/win32/wide.h"

namespace nulvane::app {

namespace {

// COM for the time a dialog is shown on the calling thread; balanced only when it was begun here.
class ComScope {
 public:
  ComScope() : result_(OleInitialize(nullptr)) {}
  ~ComScope() {
    if (SUCCEEDED(result_)) OleUninitialize();
  }
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;

 private:
  HRESULT result_;
};

// One reference of a COM object, released when it goes.
template <typename Interface>
class ComRef {
 public:
  ComRef() = default;
  ~ComRef() {
    if (pointer_) pointer_->Release();
  }
  ComRef(const ComRef&) = delete;
  ComRef& operator=(const ComRef&) = delete;
  Interface** out() { return &pointer_; }
  Interface* operator->() const { return pointer_; }
  explicit operator bool() const { return pointer_ != nullptr; }

 private:
  Interface* pointer_ = nullptr;
};

// The file-system path of a chosen shell item; nothing for an item that is no file or folder
// on a disk ("This PC", a printer).
std::optional<Text> PathOf(IShellItem* item) {
  PWSTR name = nullptr;
  if (!item || FAILED(item->GetDisplayName(SIGDN_FILESYSPATH, &name)) || !name) return std::nullopt;
  Text path = platform::FromWide(name);
  CoTaskMemFree(name);
  if (path.empty()) return std::nullopt;
  return path;
}

// Shows `dialog` with `options` added to its own; false when it was cancelled or failed.
bool Show(IFileDialog* dialog, HWND owner, FILEOPENDIALOGOPTIONS options) {
  FILEOPENDIALOGOPTIONS current = 0;
  if (FAILED(dialog->GetOptions(&current))) return false;
  // Only what the file system holds, and links chosen as themselves, never followed.
  if (FAILED(
          dialog->SetOptions(current | options | FOS_FORCEFILESYSTEM | FOS_NODEREFERENCELINKS))) {
    return false;
  }
  return SUCCEEDED(dialog->Show(owner));
}

class SystemFilePicker final : public FilePicker {
 public:
  std::vector<Text> ChooseFiles(HWND owner) override {
    const ComScope com;
    std::vector<Text> paths;
    ComRef<IFileOpenDialog> dialog;
    if (FAILED(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER,
                                IID_PPV_ARGS(dialog.out())))) {
      return paths;
    }
    if (!Show(dialog.operator->(), owner, FOS_ALLOWMULTISELECT | FOS_FILEMUSTEXIST)) return paths;
    ComRef<IShellItemArray> items;
    DWORD count = 0;
    if (FAILED(dialog->GetResults(items.out())) || FAILED(items->GetCount(&count))) return paths;
    for (DWORD i = 0; i < count; ++i) {
      ComRef<IShellItem> item;
      if (FAILED(items->GetItemAt(i, item.out()))) continue;
      if (std::optional<Text> path = PathOf(item.operator->())) paths.push_back(std::move(*path));
    }
    return paths;
  }

  std::optional<Text> ChooseFolder(HWND owner) override {
    const ComScope com;
    ComRef<IFileOpenDialog> dialog;
    if (FAILED(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER,
                                IID_PPV_ARGS(dialog.out())))) {
      return OlderFolderChooser(owner);
    }
    if (!Show(dialog.operator->(), owner, FOS_PICKFOLDERS)) return std::nullopt;
    ComRef<IShellItem> item;
    if (FAILED(dialog->GetResult(item.out()))) return std::nullopt;
    return PathOf(item.operator->());
  }

  std::optional<Text> ChooseSaveFile(HWND owner, TextView suggested_name) override {
    const ComScope com;
    ComRef<IFileSaveDialog> dialog;
    if (FAILED(CoCreateInstance(CLSID_FileSaveDialog, nullptr, CLSCTX_INPROC_SERVER,
                                IID_PPV_ARGS(dialog.out())))) {
      return std::nullopt;
    }
    const Text name(suggested_name);
    dialog->SetFileName(platform::Wide(name));
    if (!Show(dialog.operator->(), owner, FOS_OVERWRITEPROMPT)) return std::nullopt;
    ComRef<IShellItem> item;
    if (FAILED(dialog->GetResult(item.out()))) return std::nullopt;
    return PathOf(item.operator->());
  }

 private:
  // The folder chooser of systems without the common item dialog.
  static std::optional<Text> OlderFolderChooser(HWND owner) {
    BROWSEINFOW info{};
    info.hwndOwner = owner;
    info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
    PIDLIST_ABSOLUTE list = SHBrowseForFolderW(&info);
    if (!list) return std::nullopt;
    std::optional<Text> chosen;
    // Long enough for any path the shell can give, not only MAX_PATH.
    std::vector<wchar_t> path(32768, L'\0');
    if (SHGetPathFromIDListEx(list, path.data(), static_cast<DWORD>(path.size()), GPFIDL_DEFAULT) &&
        path[0] != L'\0') {
      chosen = platform::FromWide(path.data());
    }
    CoTaskMemFree(list);
    return chosen;
  }
};

FilePicker* g_picker = nullptr;

}  // namespace

FilePicker& CurrentFilePicker() {
  static SystemFilePicker system_picker;
  return g_picker ? *g_picker : system_picker;
}

void UseFilePicker(FilePicker* picker) { g_picker = picker; }

}  // namespace nulvane::app
