#include "platform/posix/posix_identity.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/posix/unique_fd.h"

namespace nulvane::platform::posix {

namespace {

constexpr unsigned kWanted = STATX_TYPE | STATX_MODE | STATX_NLINK | STATX_INO | STATX_SIZE |
                             STATX_BLOCKS | STATX_CTIME | STATX_BTIME;

std::uint64_t Nanoseconds(const statx_timestamp& time) {
  return static_cast<std::uint64_t>(time.tv_sec) * 1000000000ull + time.tv_nsec;
}

// The generation of the object `fd` holds; false where the file system keeps none.
bool GenerationOf(int fd, std::uint64_t& generation) {
  int value = 0;
  if (::ioctl(fd, FS_IOC_GETVERSION, &value) != 0) return false;
  generation = static_cast<unsigned>(value);
  return true;
}

// Opens the object for reading its generation, without side effects: no blocking on a pipe
// put in its place, no terminal taken over, no access time, never through a link. The object
// opened must be the one `status` describes.
UniqueFd OpenForGeneration(const Status& status, int folder_fd, const char* name) {
  int flags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | O_NOATIME;
  if (S_ISDIR(status.mode)) flags |= O_DIRECTORY;
  int fd = -1;
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (*name != '\0') {
      fd = ::openat(folder_fd, name, flags | O_NOFOLLOW);
    } else {
      // The object a descriptor stands for (an O_PATH one included), whatever its name now.
      char self[64];
      std::snprintf(self, sizeof self, "/proc/self/fd/%d", folder_fd);
      fd = ::open(self, flags);
    }
    // O_NOATIME is only for the owner (or root): the others open without it.
    if (fd >= 0 || errno != EPERM) break;
    flags &= ~O_NOATIME;
  }
  UniqueFd opened_fd(fd);
  if (!opened_fd.valid()) return opened_fd;
  Status opened;
  if (StatFd(fd, opened) != 0 || opened.device != status.device || opened.inode != status.inode) {
    return UniqueFd();
  }
  return opened_fd;
}

EntryIdentity BaseIdentity(const Status& status) {
  EntryIdentity identity;
  identity.volume = static_cast<std::uint64_t>(status.device);
  identity.object = static_cast<std::uint64_t>(status.inode);
  identity.known = true;
  return identity;
}

// The rules after the birth time, given the generation when it could be read.
EntryIdentity WithoutBirthTime(const Status& status, bool has_generation,
                               std::uint64_t generation) {
  EntryIdentity identity = BaseIdentity(status);
  if (has_generation) {
    identity.stamp_kind = IdentityStamp::kGeneration;
    identity.stamp = generation;
  } else if (!S_ISDIR(status.mode)) {
    identity.stamp_kind = IdentityStamp::kChangeTime;
    identity.stamp = status.change_ns;
  }
  return identity;
}

}  // namespace

int StatAt(int folder_fd, const char* name, Status& out) {
  struct statx result;
  const int flags = AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT | (*name == '\0' ? AT_EMPTY_PATH : 0);
  if (::statx(folder_fd, name, flags, kWanted, &result) != 0) return errno;
  out.mode = result.stx_mode;
  out.device = makedev(result.stx_dev_major, result.stx_dev_minor);
  out.inode = static_cast<ino_t>(result.stx_ino);
  out.size = result.stx_size;
  out.links = result.stx_nlink;
  out.blocks = result.stx_blocks;
  out.has_birth = (result.stx_mask & STATX_BTIME) != 0;
  out.birth_ns = out.has_birth ? Nanoseconds(result.stx_btime) : 0;
  out.change_ns = Nanoseconds(result.stx_ctime);
  return 0;
}

EntryIdentity IdentityOf(const Status& status, int folder_fd, const char* name) {
  if (status.has_birth) {
    EntryIdentity identity = BaseIdentity(status);
    identity.stamp_kind = IdentityStamp::kBirthTime;
    identity.stamp = status.birth_ns;
    return identity;
  }
  std::uint64_t generation = 0;
  bool has_generation = false;
  if (S_ISREG(status.mode) || S_ISDIR(status.mode)) {
    const UniqueFd fd = OpenForGeneration(status, folder_fd, name);
    if (fd.valid()) has_generation = GenerationOf(fd.get(), generation);
  }
  return WithoutBirthTime(status, has_generation, generation);
}

EntryIdentity IdentityOfOpen(const Status& status, int fd) {
  if (status.has_birth) return IdentityOf(status, fd, "");
  std::uint64_t generation = 0;
  const bool has_generation =
      (S_ISREG(status.mode) || S_ISDIR(status.mode)) && GenerationOf(fd, generation);
  return WithoutBirthTime(status, has_generation, generation);
}

}  // namespace nulvane::platform::posix
