// Whether overwriting a POSIX file in place can reach its old data.
#pragma once

#include <sys/stat.h>

namespace nulvane::platform {

// True when the file open as `fd` (described by `status`, from fstat of that descriptor) may
// keep old copies that an overwrite in place does not reach:
//  - its file system writes every change to new blocks (btrfs unless the file has the No_COW
//    attribute, ZFS, bcachefs);
//  - it is flagged compressed or encrypted (FS_IOC_GETFLAGS);
//  - one of its extents is shared with another file or a snapshot (FIEMAP_EXTENT_SHARED:
//    reflinks), where the file system can share extents at all.
// Costs one fstatfs and, on most file systems, one ioctl (two on btrfs No_COW files). What
// cannot be asked counts as plain.
bool IsStoredElsewhere(int fd, const struct stat& status);

}  // namespace nulvane::platform
