#include "platform/posix/posix_storage_probe.h"

#include <linux/fiemap.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/vfs.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace nulvane::platform {

namespace {

// f_type of the file systems that matter here (linux/magic.h has only some of them).
constexpr std::uint32_t kBtrfsMagic = 0x9123683E;
constexpr std::uint32_t kZfsMagic = 0x2FC12FC1;
constexpr std::uint32_t kBcachefsMagic = 0xCA451A4E;
constexpr std::uint32_t kXfsMagic = 0x58465342;
constexpr std::uint32_t kOcfs2Magic = 0x7461636F;
constexpr std::uint32_t kOverlayMagic = 0x794C7630;
constexpr std::uint32_t kAufsMagic = 0x61756673;

enum class VolumeKind : std::uint8_t {
  kPlain,            // overwrites stay in place unless the file is flagged otherwise
  kCopyOnWrite,      // btrfs: every write goes to new blocks unless the file is No_COW
  kAlwaysElsewhere,  // ZFS, bcachefs: every write goes to new blocks, no way out
  kSharesExtents,    // XFS, OCFS2: reflinked extents are copied on write
  kOverlay,          // overlayfs: the first write copies the file up, the lower copy stays
  kAufs,             // aufs: the same
};

VolumeKind KindOfMagic(std::uint32_t magic) {
  switch (magic) {
    case kBtrfsMagic:
      return VolumeKind::kCopyOnWrite;
    case kZfsMagic:
    case kBcachefsMagic:
      return VolumeKind::kAlwaysElsewhere;
    case kXfsMagic:
    case kOcfs2Magic:
      return VolumeKind::kSharesExtents;
    case kOverlayMagic:
      return VolumeKind::kOverlay;
    case kAufsMagic:
      return VolumeKind::kAufs;
    default:
      return VolumeKind::kPlain;
  }
}

// The kind of the file system that holds `fd`. Asked for every file and never cached: device
// numbers are reused once a volume is unmounted, so a cache keyed by them could answer for a
// file system that is gone. One fstatfs costs far less than the open and the flush around it.
// The file's inode flags, or 0 when the file system keeps none.
unsigned InodeFlags(int fd) {
  int flags = 0;  // the kernel reads and writes an int, whatever the macro's type says
  if (::ioctl(fd, FS_IOC_GETFLAGS, &flags) != 0) return 0;
  return static_cast<unsigned>(flags);
}

// Whether any extent of the file is shared, or stored in a form (encoded, encrypted) that an
// overwrite rewrites elsewhere. Files of many extents are walked a batch at a time.
bool HasSharedExtents(int fd, std::uint64_t size) {
  constexpr std::uint32_t kBatch = 32;
  constexpr int kMaxBatches = 64;  // 2048 extents: beyond that, a fragmented file is not walked on
  // The header and its extents in one buffer, as the ioctl takes them.
  alignas(struct fiemap) unsigned char
      buffer[sizeof(struct fiemap) + kBatch * sizeof(struct fiemap_extent)];
  auto* map = reinterpret_cast<struct fiemap*>(buffer);
  std::uint64_t start = 0;
  for (int batch = 0; batch < kMaxBatches && start < size; ++batch) {
    std::memset(buffer, 0, sizeof buffer);
    map->fm_start = start;
    map->fm_length = FIEMAP_MAX_OFFSET - start;
    map->fm_extent_count = kBatch;
    if (::ioctl(fd, FS_IOC_FIEMAP, map) != 0) return false;
    const std::uint32_t count = std::min(map->fm_mapped_extents, kBatch);
    if (count == 0) return false;
    for (std::uint32_t i = 0; i < count; ++i) {
      const struct fiemap_extent& extent = map->fm_extents[i];
      if (extent.fe_flags &
          (FIEMAP_EXTENT_SHARED | FIEMAP_EXTENT_ENCODED | FIEMAP_EXTENT_DATA_ENCRYPTED)) {
        return true;
      }
      if (extent.fe_flags & FIEMAP_EXTENT_LAST) return false;
      start = extent.fe_logical + extent.fe_length;
    }
  }
  return false;
}

}  // namespace

namespace {

bool IsStoredElsewhere(VolumeKind kind, int fd, std::uint64_t size) {
  switch (kind) {
    case VolumeKind::kAlwaysElsewhere:
      return true;
    case VolumeKind::kCopyOnWrite:
      // No_COW files are overwritten in place, unless a snapshot or reflink shares a block.
      if ((InodeFlags(fd) & FS_NOCOW_FL) == 0) return true;
      return HasSharedExtents(fd, size);
    case VolumeKind::kSharesExtents:
      return HasSharedExtents(fd, size);
    case VolumeKind::kPlain:
    case VolumeKind::kOverlay:
    case VolumeKind::kAufs:
      return (InodeFlags(fd) & (FS_COMPR_FL | FS_ENCRYPT_FL)) != 0;
  }
  return false;
}

}  // namespace

std::uint32_t VolumeTypeOf(int fd) {
  struct statfs volume;
  if (::fstatfs(fd, &volume) != 0) return 0;
  return static_cast<std::uint32_t>(volume.f_type);
}

StorageProbe ProbeStorage(int fd, std::uint64_t size, std::uint64_t blocks,
                          std::uint32_t volume_type) {
  const VolumeKind kind = KindOfMagic(volume_type);
  StorageProbe probe;
  probe.stored_elsewhere = IsStoredElsewhere(kind, fd, size);
  if (kind == VolumeKind::kOverlay) probe.layered = u"overlayfs";
  if (kind == VolumeKind::kAufs) probe.layered = u"aufs";
  // Blocks count what is allocated (delayed allocations included): fewer than the size needs
  // means a hole somewhere. Cheap and conservative; the ranges tell the rest.
  probe.may_have_holes = blocks * 512 < size;
  return probe;
}

}  // namespace nulvane::platform
