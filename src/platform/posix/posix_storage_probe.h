// Whether overwriting a POSIX file in place can reach its old data.
#pragma once

#include <cstdint>

namespace nulvane::platform {

// What an overwrite in place can reach of the file open as `fd` (described by `status`, from
// fstat of that descriptor).
struct StorageProbe {
  // True when the file may keep old copies that an overwrite in place does not reach:
  //  - its file system writes every change to new blocks (btrfs unless the file has the
  //    No_COW attribute, ZFS, bcachefs);
  //  - it is flagged compressed or encrypted (FS_IOC_GETFLAGS);
  //  - one of its extents is shared with another file or a snapshot (FIEMAP_EXTENT_SHARED:
  //    reflinks), where the file system can share extents at all.
  bool stored_elsewhere = false;
  // The name of the layered file system the file lies on (overlayfs, aufs: a lower layer keeps
  // the copy the name stands over), or null. Other FUSE-style stacks are real file systems
  // often enough that they are not named.
  const char16_t* layered = nullptr;
  // The file has fewer blocks than its size needs: it may have holes.
  bool may_have_holes = false;
};

// The type of the file system `fd` lies on (statfs's f_type), 0 when it cannot be asked.
std::uint32_t VolumeTypeOf(int fd);

// What an overwrite in place can reach of the regular file open as `fd`, of `size` bytes with
// `blocks` 512-byte units allocated, on a volume of `volume_type` (VolumeTypeOf). Costs, on
// most file systems, one ioctl (two on btrfs No_COW files). What cannot be asked counts as
// plain.
StorageProbe ProbeStorage(int fd, std::uint64_t size, std::uint64_t blocks,
                          std::uint32_t volume_type);

}  // namespace nulvane::platform
