// What the POSIX calls read of an object, and the identity made of it.
//
// An inode number alone is no identity: the moment a file is removed its number may be given
// to a new file, in the same folder or any other. The identity is therefore device + inode +
// one more value that a new object cannot share with the old one:
//  - the birth time (statx STATX_BTIME: ext4, xfs, btrfs, tmpfs, and most others today);
//  - else the inode generation (FS_IOC_GETVERSION), which the file system raises each time it
//    gives an inode number out again; read through a real open, so only for regular files and
//    folders, opened without side effects;
//  - else, for a file, its change time. Our own steps change it (a write, a stamp, a rename),
//    so each of them reads the identity back from its handle and the next step is checked
//    against that. A folder's change time moves whenever an entry in it comes or goes, so a
//    folder on such a file system is known by device and inode alone.
#pragma once

#include <sys/types.h>

#include <cstdint>

#include "platform/file_system.h"

namespace nulvane::platform::posix {

// The fields of a statx result the file system code uses.
struct Status {
  mode_t mode = 0;
  dev_t device = 0;
  ino_t inode = 0;
  std::uint64_t size = 0;
  std::uint64_t links = 0;
  std::uint64_t blocks = 0;  // 512-byte units allocated
  bool has_birth = false;
  std::uint64_t birth_ns = 0;
  std::uint64_t change_ns = 0;
};

// statx of `name` in `folder_fd`, never following a link; an empty name examines the object
// `folder_fd` itself stands for (AT_EMPTY_PATH, O_PATH descriptors included). Returns 0 or the
// errno value.
int StatAt(int folder_fd, const char* name, Status& out);
inline int StatFd(int fd, Status& out) { return StatAt(fd, "", out); }

// The identity of the object `status` was read from. `folder_fd` and `name` name it as for
// StatAt (the generation needs an open of its own, checked to reach the same object); an
// object that cannot be opened for it falls back to the next rule.
EntryIdentity IdentityOf(const Status& status, int folder_fd, const char* name);

// The identity of the object an open (not O_PATH) descriptor holds: the generation is read
// from the descriptor itself.
EntryIdentity IdentityOfOpen(const Status& status, int fd);

// Whether `status` describes the object `identity` names (device and inode; the identity's
// stamp is compared by the callers that read one).
inline bool SameObject(const Status& status, const EntryIdentity& identity) {
  return identity.volume == static_cast<std::uint64_t>(status.device) &&
         identity.object == static_cast<std::uint64_t>(status.inode);
}

}  // namespace nulvane::platform::posix
