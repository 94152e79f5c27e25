// The open folders on the way from an anchor to the entries below it, kept between calls.
//
// Everything below the anchor is reached through descriptors: each folder is opened relative to
// the one before it with O_PATH | O_DIRECTORY | O_NOFOLLOW (openat2 with RESOLVE_NO_SYMLINKS
// and RESOLVE_NO_XDEV where the kernel has it), so no link is ever followed and no path is
// resolved twice. A folder below the first component must lie on the volume of the folder that
// holds it. No path buffer limits the depth: each call names one component.
//
// Consecutive entries mostly share their folders, so the chain keeps the folders of the last
// entry open and reopens only where the next one differs. It keeps at most kMaxOpenLevels
// descriptors: deeper trees close the levels nearest the anchor and, on the way back up,
// reopen them with ".." from the level below, accepted only when the folder reached is the one
// recorded when that level was first opened (its identity).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/chain_use.h"
#include "platform/file_system.h"
#include "platform/posix/unique_fd.h"

namespace nulvane::platform::posix {

// The result of reaching an entry: the descriptor of the folder that holds it (owned by the
// chain, valid until its next call), the entry's name in that folder and that folder's device.
struct ReachedEntry {
  int folder_fd = -1;
  std::string name;
  dev_t folder_device = 0;
  // True when the folder is a level below the anchor, not the anchor itself: the entry is then
  // inside the user's tree and must lie on the folder's volume.
  bool below_first_component = false;
};

class FolderChain {
 public:
  static constexpr std::size_t kMaxOpenLevels = 128;

  FolderChain() = default;
  FolderChain(const FolderChain&) = delete;
  FolderChain& operator=(const FolderChain&) = delete;
  ~FolderChain() { Forget(); }

  // The calling thread's chain.
  static FolderChain& ForThread();

  // Opens the folders of `entry`'s path up to the one that holds its last component.
  IoResult ReachParent(const EntryRef& entry, ReachedEntry& reached);
  // Opens every component of `folder`'s path as a folder, the last one included, and gives its
  // descriptor (owned by the chain) in `fd`.
  IoResult ReachFolder(const EntryRef& folder, int& fd);
  // Opens the anchor folder `anchor` as the system resolves it (links followed) and gives its
  // identity.
  IoResult IdentifyAnchor(TextView anchor, EntryIdentity& identity);

  // The file-system type (statfs's f_type) of the volume of the folder `reached` names,
  // asked through `fd` (an object on that volume) the first time only: a held folder keeps its
  // volume mounted, so the answer cannot change until the chain lets a folder go.
  std::uint32_t VolumeTypeOfHeld(const ReachedEntry& reached, int fd);
  // Closes every descriptor.
  void Forget();

  // Descriptors open now (tests).
  std::size_t OpenCount() const;

 private:
  struct Level {
    std::string name;
    UniqueFd fd;
    dev_t device = 0;
    EntryIdentity identity;
    std::size_t end = 0;  // where the level's name ends in folder_text_
  };

  IoResult Reach(const EntryRef& entry, bool last_is_folder, ReachedEntry& reached);
  IoResult SetAnchor(TextView anchor);
  // How many of the open levels `folder` (the text after the anchor) shares with them.
  std::size_t CommonLevels(TextView folder) const;
  // Makes levels_[0, keep) valid and open and closes the rest.
  IoResult KeepLevels(std::size_t keep);
  IoResult PushLevel(std::string_view name, std::size_t end);
  void CloseFrom(std::size_t level);

  Text anchor_;
  bool anchor_set_ = false;
  // The text after the anchor that the levels stand for, as the caller wrote it: comparing it
  // with the next entry's folder costs one comparison of text, not a split into components.
  Text folder_text_;
  UniqueFd anchor_fd_;
  dev_t anchor_device_ = 0;
  EntryIdentity anchor_identity_;
  std::vector<Level> levels_;
  std::size_t first_open_ = 0;  // levels_[0, first_open_) are closed, the rest open
  // The last volume VolumeTypeOfHeld asked about, while it is held.
  dev_t typed_device_ = 0;
  std::uint32_t typed_volume_ = 0;
  bool typed_ = false;
};

// The native form of one component below an anchor. Refuses (kInvalidName) a name that holds
// U+0000 or a lone surrogate that stands for no byte, and "." or "..", which would lead out of
// the user's tree.
IoResult NativeComponent(TextView name, std::string& native);

// Opens `name` in the folder `folder_fd` as a folder, never following a link and never entering
// another volume (EXDEV from openat2 becomes kOtherVolume; the fallback compares devices after
// the open when `required_device` is not 0). O_PATH: no read permission is needed.
IoResult OpenFolderBeneath(int folder_fd, const std::string& name, bool same_volume,
                           dev_t folder_device, UniqueFd& fd);

IoResult ErrnoResult(int error);

// Opens a listing of the folder `folder_fd` stands for (an O_PATH descriptor included) on a
// descriptor of its own.
IoResult OpenListing(int folder_fd, UniqueDir& dir);

// Held by every call that uses the calling thread's chain.
using ChainUse = platform::ChainUse<FolderChain>;

}  // namespace nulvane::platform::posix
