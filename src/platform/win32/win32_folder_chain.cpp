#include "platform/win32/win32_folder_chain.h"

#include "platform/win32/wide.h"
#include "platform/win32/win32_path.h"

namespace nulvane::platform::win32 {

namespace {

constexpr ACCESS_MASK kFolderAccess =
    FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE;

}  // namespace

FolderChain& FolderChain::ForThread() {
  thread_local FolderChain chain;
  return chain;
}

void FolderChain::Forget() {
  folders_.clear();
  anchor_.reset();
  anchor_key_.clear();
  anchor_identity_ = EntryIdentity{};
}

IoResult FolderChain::SetAnchor(const Text& key) {
  if (anchor_.valid() && anchor_key_ == key) return IoResult::Ok();
  Forget();
  const Text extended = ExtendedPath(ResolvedFullPath(key));
  if (extended.empty()) return IoResult::Fail(ERROR_PATH_NOT_FOUND);
  if (extended.size() > 32767) return IoResult::Fail(IoResult::kPathTooLong);
  // As typed: a link the user chose on the way to the anchor is followed.
  UniqueHandle handle(::CreateFileW(Wide(extended), kFolderAccess, kShareAll, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!handle.valid()) return LastError();
  Examined examined;
  if (IoResult looked = Examine(handle.get(), examined); !looked) return looked;
  if (!(examined.attributes & FILE_ATTRIBUTE_DIRECTORY)) return FromError(ERROR_DIRECTORY);
  anchor_key_ = key;
  anchor_ = std::move(handle);
  anchor_volume_ = static_cast<std::uint32_t>(examined.identity.volume);
  anchor_ids_ = examined.ids;
  anchor_identity_ = examined.identity;
  return IoResult::Ok();
}

IoResult FolderChain::IdentifyAnchor(TextView anchor, EntryIdentity& identity) {
  identity = EntryIdentity{};
  const Text key = AbsolutePath(anchor);
  if (key.empty()) return FromError(ERROR_PATH_NOT_FOUND);
  if (IoResult opened = SetAnchor(key); !opened) {
    Forget();
    return opened;
  }
  identity = anchor_identity_;
  return IoResult::Ok();
}

IoResult FolderChain::ReachParent(const EntryRef& entry, Placement& out) {
  out = Placement{};
  const TextView path = entry.path;
  if (path.empty()) return FromError(ERROR_PATH_NOT_FOUND);
  if (path.find(u'\0') != TextView::npos) return IoResult::Fail(IoResult::kInvalidName);
  const std::size_t anchor_length = entry.anchor_length <= path.size() ? entry.anchor_length : 0;
  const Text key = AbsolutePath(path.substr(0, anchor_length));
  if (key.empty()) return FromError(ERROR_PATH_NOT_FOUND);

  // The components after the anchor; "." and empty ones are nothing, ".." would climb out.
  const bool extended = key.size() >= 4 && key.substr(0, 4) == u"\\\\?\\";
  std::vector<TextView> components;
  std::size_t position = anchor_length;
  while (position < path.size()) {
    std::size_t end = position;
    while (end < path.size() && path[end] != u'\\' && (extended || path[end] != u'/')) ++end;
    const TextView component = path.substr(position, end - position);
    if (component == u"..") return IoResult::Fail(IoResult::kInvalidName);
    if (!component.empty() && component != u".") components.push_back(component);
    position = end + 1;
  }

  if (components.empty()) {
    out.anchor_path = ExtendedPath(ResolvedFullPath(key));
    if (out.anchor_path.empty()) return FromError(ERROR_PATH_NOT_FOUND);
    return IoResult::Ok();
  }
  if (IoResult opened = SetAnchor(key); !opened) {
    Forget();
    return opened;
  }
  // The folder the user's path stood in when it was added: a link on the way turned elsewhere
  // since leads to another folder, and nothing in that one is touched.
  if (!entry.AdmitsAnchor(anchor_identity_)) return IoResult::Fail(IoResult::kChangedEntry);
  const std::size_t parents = components.size() - 1;
  for (std::size_t i = 0; i < parents; ++i) {
    if (i < folders_.size() && folders_[i].name == components[i]) continue;
    folders_.resize(i);
    const HANDLE parent = i == 0 ? anchor_.get() : folders_[i - 1].handle.get();
    const std::uint32_t volume = i == 0 ? anchor_volume_ : folders_[i - 1].volume;
    UniqueHandle handle;
    IoResult opened =
        OpenRelative(parent, components[i], kFolderAccess, kShareAll, FILE_DIRECTORY_FILE, handle);
    if (!opened)
      return opened.error == ERROR_FILE_NOT_FOUND ? FromError(ERROR_PATH_NOT_FOUND) : opened;
    Examined examined;
    if (IoResult looked = Examine(handle.get(), examined); !looked) return looked;
    // A folder on the way that is now a link was replaced since it was listed.
    if (examined.kind != EntryKind::kFolder) return IoResult::Fail(IoResult::kChangedEntry);
    if (examined.mount_point || examined.identity.volume != volume) {
      return IoResult::Fail(IoResult::kOtherVolume);
    }
    folders_.push_back({Text(components[i]), std::move(handle),
                        static_cast<std::uint32_t>(examined.identity.volume), examined.ids});
  }
  // Nothing at or below the entry itself stays open: it may be renamed or removed next.
  folders_.resize(parents);
  out.folder = parents == 0 ? anchor_.get() : folders_[parents - 1].handle.get();
  out.folder_volume = parents == 0 ? anchor_volume_ : folders_[parents - 1].volume;
  out.folder_ids = parents == 0 ? anchor_ids_ : folders_[parents - 1].ids;
  out.name = components.back();
  return IoResult::Ok();
}

}  // namespace nulvane::platform::win32
