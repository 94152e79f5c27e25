// The open folders on the way from an anchor to the entries below it, kept between calls: the
// anchor (opened as the user typed it, links followed) and each folder below it opened relative
// to the one before with NtCreateFile and FILE_OPEN_REPARSE_POINT, never through a link and
// never onto another volume. Consecutive entries mostly share their folders, so the chain keeps
// the folders of the last entry open and reopens only where the next one differs.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "platform/chain_use.h"
#include "platform/file_system.h"
#include "platform/win32/win32_handles.h"

namespace nulvane::platform::win32 {

class FolderChain {
 public:
  FolderChain() = default;
  FolderChain(const FolderChain&) = delete;
  FolderChain& operator=(const FolderChain&) = delete;

  // The calling thread's chain.
  static FolderChain& ForThread();

  // Resolves everything of `entry` but its last component: the anchor as typed (links the user
  // chose are followed; it must be the folder `entry.anchor_identity` names, when known:
  // kChangedEntry), then each folder after it relative to the one before, never following a
  // link (kChangedEntry) and never entering another volume (kOtherVolume). U+0000 anywhere, or
  // a ".." after the anchor, is kInvalidName.
  IoResult ReachParent(const EntryRef& entry, Placement& placement);
  // Opens the anchor folder `anchor` as ReachParent resolves it and gives its identity.
  IoResult IdentifyAnchor(TextView anchor, EntryIdentity& identity);

  // Closes every handle.
  void Forget();
  // Handles open now (tests).
  std::size_t OpenCount() const { return folders_.size() + (anchor_.valid() ? 1 : 0); }

 private:
  struct OpenFolder {
    Text name;
    UniqueHandle handle;
    std::uint32_t volume = 0;
    VolumeIds ids = VolumeIds::kFull;
  };

  // Makes the anchor of absolute text `key` the chain's anchor, opening it where it is not.
  IoResult SetAnchor(const Text& key);

  Text anchor_key_;
  UniqueHandle anchor_;
  std::uint32_t anchor_volume_ = 0;
  VolumeIds anchor_ids_ = VolumeIds::kFull;
  EntryIdentity anchor_identity_;
  std::vector<OpenFolder> folders_;
};

// Held by every call that uses the calling thread's chain.
using ChainUse = platform::ChainUse<FolderChain>;

}  // namespace nulvane::platform::win32
