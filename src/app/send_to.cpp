#include "app/send_to.h"

#include <objbase.h>
#include <objidl.h>
#include <shlobj.h>
#include <shobjidl.h>

#include "app/launcher.h"
#include "platform/system.h"
#include "platform/win32/wide.h"

namespace nulvane::app {
namespace {

using platform::Wide;

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
  // The module's own path is absolute already, at its full length.
  const Text target = platform::ExecutablePath();
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
