#include "app/send_to.h"

#include <objbase.h>
#include <objidl.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <vector>

#include "app/launcher.h"
#include "platform/win32/wide.h"

namespace nulvane::app {
namespace {

using platform::Wide;

// The running executable's path at its full length, however long (GetModuleFileNameW cuts at
// the buffer it is given without saying so, other than by filling it).
Text ModulePath() {
  std::vector<wchar_t> buffer(MAX_PATH + 1);
  for (;;) {
    const DWORD length =
        GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return {};
    if (length < buffer.size() - 1) return platform::FromWide(buffer.data(), length);
    if (buffer.size() >= 32768) return {};
    buffer.resize(buffer.size() * 2);
  }
}

Text AbsolutePath(const Text& path) {
  const DWORD needed = GetFullPathNameW(Wide(path), 0, nullptr, nullptr);
  if (needed == 0) return {};
  std::vector<wchar_t> buffer(needed + 1);
  const DWORD length =
      GetFullPathNameW(Wide(path), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
  if (length == 0 || length >= buffer.size()) return {};
  return platform::FromWide(buffer.data(), length);
}

// Releases a COM interface when it goes.
template <typename Interface>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  ~ComPtr() {
    if (pointer_) pointer_->Release();
  }
  Interface* operator->() const { return pointer_; }
  Interface* get() const { return pointer_; }
  void** out() { return reinterpret_cast<void**>(&pointer_); }

 private:
  Interface* pointer_ = nullptr;
};

}  // namespace

CSendTo::CSendTo() : ole_(OleInitialize(nullptr)) {}

CSendTo::~CSendTo() {
  if (SUCCEEDED(ole_)) OleUninitialize();
}

Text CSendTo::SendToFolder() {
  // Known-folder paths come allocated at their full length; the folder is not created.
  PWSTR folder = nullptr;
  Text result;
  if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_SendTo, KF_FLAG_DONT_VERIFY, nullptr, &folder)) &&
      folder) {
    result = platform::FromWide(folder);
  }
  CoTaskMemFree(folder);
  return result;
}

Text CSendTo::LinkPath(TextView name) {
  Text path = SendToFolder();
  if (path.empty()) return path;
  if (path.back() != u'\\') path.push_back(u'\\');
  path += name;
  path += u".lnk";
  return path;
}

HRESULT CSendTo::AddToSendTo(TextView name) const {
  const Text link = LinkPath(name);
  const Text target = AbsolutePath(ModulePath());
  if (link.empty() || target.empty()) return E_FAIL;
  ComPtr<IShellLinkW> shell_link;
  HRESULT status = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                    shell_link.out());
  if (FAILED(status)) return status;
  ComPtr<IPersistFile> file;
  status = shell_link->QueryInterface(IID_IPersistFile, file.out());
  if (FAILED(status)) return status;
  status = shell_link->SetPath(Wide(target));
  if (FAILED(status)) return status;
  const Text description(name);
  status = shell_link->SetDescription(Wide(description));
  if (FAILED(status)) return status;
  // The whole path, however long: a cut path would save the shortcut under another name.
  return file->Save(Wide(link), TRUE);
}

bool CSendTo::RemoveFromSendTo(TextView name) const {
  const Text link = LinkPath(name);
  // Only the shortcut file: DeleteFileW never removes a folder of that name.
  return !link.empty() && DeleteFileW(Wide(link)) != FALSE;
}

bool CSendTo::IsInSendTo(TextView name) const {
  const Text link = LinkPath(name);
  if (link.empty()) return false;
  const DWORD attributes = GetFileAttributesW(Wide(link));
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

void CSendTo::OpenSendToFolder() const {
  const Text folder = SendToFolder();
  if (!folder.empty()) CurrentLauncher().OpenAddress(folder);
}

}  // namespace nulvane::app
