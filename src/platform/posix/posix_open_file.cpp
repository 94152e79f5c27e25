#include "platform/posix/posix_open_file.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/posix/posix_folder_chain.h"
#include "platform/posix/posix_identity.h"

namespace nulvane::platform::posix {

namespace {

// Seconds from 1601-01-01 (the FileTime epoch) to 1970-01-01.
constexpr std::int64_t kEpochDifferenceSeconds = 11644473600LL;
constexpr std::int64_t kTicksPerSecond = 10000000LL;

IoResult FromErrno(int error) { return ErrnoResult(error); }
IoResult LastError() { return FromErrno(errno); }

// More blocks per writev than IOV_MAX (1024 on Linux) would be refused.
constexpr std::size_t kMaxBlocksPerRequest = 64;

// Reads one file from offset 0 with O_DIRECT into an aligned buffer of its own; where O_DIRECT
// is refused (tmpfs, some network file systems) it drops the file's cached pages and reads
// through the cache. Owns its descriptor.
class PosixUncachedReader final : public UncachedReader {
 public:
  // Alignment and chunk size suit every logical block size a device reports (up to 64 KiB).
  static constexpr std::size_t kAlignment = 64 * 1024;
  static constexpr std::size_t kChunk =
      4 * 1024 * 1024;  // large requests: the read keeps up with the device

  PosixUncachedReader(UniqueFd fd, bool direct) : fd_(std::move(fd)) {
    uncached = direct;
    if (!direct) DropCache();
  }
  PosixUncachedReader(const PosixUncachedReader&) = delete;
  PosixUncachedReader& operator=(const PosixUncachedReader&) = delete;
  ~PosixUncachedReader() override { std::free(buffer_); }

  IoResult Seek(std::uint64_t offset, std::uint64_t& at) override {
    // An O_DIRECT read must start on an aligned offset: a little before is read along.
    offset_ = offset / kAlignment * kAlignment;
    at = offset_;
    return IoResult::Ok();
  }

  IoResult ReadNext(const unsigned char*& data, std::size_t& size) override {
    data = nullptr;
    size = 0;
    if (!buffer_ && ::posix_memalign(&buffer_, kAlignment, kChunk) != 0) {
      buffer_ = nullptr;
      return FromErrno(ENOMEM);
    }
    for (;;) {
      const ssize_t n = ::pread(fd_.get(), buffer_, kChunk, static_cast<off_t>(offset_));
      if (n >= 0) {
        offset_ += static_cast<std::uint64_t>(n);
        data = static_cast<const unsigned char*>(buffer_);
        size = static_cast<std::size_t>(n);
        return IoResult::Ok();
      }
      if (errno == EINTR) continue;
      // A short direct read left an unaligned offset, or the file system changed its mind:
      // go on through the cache, emptied of this file first.
      if (errno == EINVAL && uncached) {
        const int flags = ::fcntl(fd_.get(), F_GETFL);
        if (flags < 0 || ::fcntl(fd_.get(), F_SETFL, flags & ~O_DIRECT) != 0) return LastError();
        uncached = false;
        DropCache();
        continue;
      }
      return LastError();
    }
  }

 private:
  // The pages are clean (the overwrite was flushed), so the system can let them go and read
  // the device again.
  void DropCache() { ::posix_fadvise(fd_.get(), 0, 0, POSIX_FADV_DONTNEED); }

  UniqueFd fd_;
  void* buffer_ = nullptr;
  std::uint64_t offset_ = 0;
};

}  // namespace

IoResult PosixOpenFile::Write(const void* data, std::size_t size, std::size_t& written) {
  written = 0;
  if (!fd_.valid()) return FromErrno(EBADF);
  if (IoResult left = LeaveDirect(); !left) return left;
  for (;;) {
    const ssize_t n = ::write(fd_.get(), data, size);
    if (n >= 0) {
      written = static_cast<std::size_t>(n);
      Wrote(written);
      return IoResult::Ok();
    }
    if (errno != EINTR) return LastError();
  }
}

IoResult PosixOpenFile::WriteRepeated(const void* block, std::size_t block_size, std::size_t count,
                                      std::size_t& written) {
  written = 0;
  if (!fd_.valid()) return FromErrno(EBADF);
  if (IoResult left = LeaveDirect(); !left) return left;
  iovec blocks[kMaxBlocksPerRequest];
  count = std::min<std::size_t>(count, kMaxBlocksPerRequest);
  for (std::size_t i = 0; i < count; ++i) blocks[i] = {const_cast<void*>(block), block_size};
  for (;;) {
    const ssize_t n = ::writev(fd_.get(), blocks, static_cast<int>(count));
    if (n >= 0) {
      written = static_cast<std::size_t>(n);
      Wrote(written);
      return IoResult::Ok();
    }
    if (errno != EINTR) return LastError();
  }
}

namespace {

// What statx reports of a file's direct I/O (Linux 6.1), declared here by the kernel's layout
// since older C library headers lack the fields.
constexpr unsigned int kStatxDioAlign = 0x00002000U;  // STATX_DIOALIGN
struct KernelStatx {
  std::uint32_t mask;
  std::uint32_t block_size;
  std::uint64_t attributes;
  std::uint32_t links, uid, gid;
  std::uint16_t mode, spare0;
  std::uint64_t inode, size, blocks, attributes_mask;
  struct {
    std::int64_t seconds;
    std::uint32_t nanoseconds;
    std::int32_t reserved;
  } times[4];
  std::uint32_t rdev_major, rdev_minor, dev_major, dev_minor;
  std::uint64_t mount_id;
  std::uint32_t dio_memory_align;
  std::uint32_t dio_offset_align;
  std::uint64_t spare3[12];
};
static_assert(sizeof(KernelStatx) == 256 && offsetof(KernelStatx, dio_memory_align) == 152);

// The alignment of direct I/O on the file `fd`: from statx where the kernel tells it (false
// when it says the file takes none), else 4096 bytes for offsets and lengths, which every
// logical sector size divides, and the page size for the buffer.
bool DirectIoAlignment(int fd, OpenFile::DirectAlignment& alignment) {
  const long page = ::sysconf(_SC_PAGESIZE);
  alignment.block = 4096;
  alignment.memory = page > 0 ? static_cast<std::uint32_t>(page) : 4096;
  KernelStatx status{};
  if (::syscall(SYS_statx, fd, "", AT_EMPTY_PATH, kStatxDioAlign, &status) == 0 &&
      (status.mask & kStatxDioAlign) != 0) {
    if (status.dio_offset_align == 0) return false;
    alignment.block = status.dio_offset_align;
    alignment.memory = status.dio_memory_align;
  }
  return true;
}

}  // namespace

bool PosixOpenFile::SetDirect(bool on) {
  if (::fcntl(fd_.get(), F_SETFL, on ? status_flags_ | O_DIRECT : status_flags_) != 0) {
    return false;
  }
  direct_on_ = on;
  return true;
}

IoResult PosixOpenFile::LeaveDirect() {
  if (direct_on_ && !SetDirect(false)) return LastError();
  return IoResult::Ok();
}

IoResult PosixOpenFile::StartDirectWrites(DirectAlignment& alignment) {
  alignment = DirectAlignment{};
  if (!fd_.valid()) return FromErrno(EBADF);
  if (direct_ == Direct::kRefused) return FromErrno(EINVAL);
  DirectAlignment found;
  if (!DirectIoAlignment(fd_.get(), found)) {
    direct_ = Direct::kRefused;
    return FromErrno(EINVAL);
  }
  if (direct_ == Direct::kNotStarted) {
    const int flags = ::fcntl(fd_.get(), F_GETFL);
    if (flags < 0) return LastError();
    status_flags_ = flags & ~(O_ACCMODE | O_DIRECT);
    direct_on_ = (flags & O_DIRECT) != 0;
  }
  // Set now, so that a file system that refuses the flag (EINVAL: tmpfs before Linux 6.6,
  // ramfs, some FUSE) is known before the first write.
  if (!direct_on_ && !SetDirect(true)) {
    if (errno == EINVAL) direct_ = Direct::kRefused;
    return LastError();
  }
  direct_ = Direct::kStarted;
  alignment = found;
  return IoResult::Ok();
}

IoResult PosixOpenFile::WriteDirect(const void* data, std::size_t size, std::size_t& written) {
  written = 0;
  if (!fd_.valid()) return FromErrno(EBADF);
  if (direct_ != Direct::kStarted) return Write(data, size, written);
  if (!direct_on_ && !SetDirect(true)) return LastError();
  for (;;) {
    const ssize_t n = ::write(fd_.get(), data, size);
    if (n >= 0) {
      written = static_cast<std::size_t>(n);
      direct_confirmed_ = true;
      // Nothing of it stands in the cache: writing behind goes on after it.
      position_ += written;
      started_ = dropped_ = position_;
      return IoResult::Ok();
    }
    if (errno == EINTR) continue;
    if (errno == EINVAL && !direct_confirmed_) {
      // The file system took the flag but not the write: the cache takes this and the rest.
      direct_ = Direct::kRefused;
      return Write(data, size, written);
    }
    return LastError();
  }
}

void PosixOpenFile::Wrote(std::size_t bytes) {
  if (!write_behind_) return;
  position_ += bytes;
  if (position_ - started_ < kWriteBehindWindow) return;
  // What was started one window ago has mostly reached the device by now: wait for the rest,
  // then its pages are clean and can go. Failures are the flush's to report.
  if (started_ > dropped_) {
    ::sync_file_range(
        fd_.get(), static_cast<off_t>(dropped_), static_cast<off_t>(started_ - dropped_),
        SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER);
    ::posix_fadvise(fd_.get(), static_cast<off_t>(dropped_),
                    static_cast<off_t>(started_ - dropped_), POSIX_FADV_DONTNEED);
    dropped_ = started_;
  }
  ::sync_file_range(fd_.get(), static_cast<off_t>(started_),
                    static_cast<off_t>(position_ - started_), SYNC_FILE_RANGE_WRITE);
  started_ = position_;
}

IoResult PosixOpenFile::Flush() {
  if (!fd_.valid()) return FromErrno(EBADF);
  while (::fdatasync(fd_.get()) != 0) {
    if (errno != EINTR) return LastError();
  }
  // A new file that grew over many blocks got new metadata blocks too (ext4's extent tree),
  // taken from the free space. A journalling file system holds their content in its journal
  // first; freed before they were written in place, they would keep what deleted files left
  // there. syncfs writes them in place before the file is deleted.
  if (sync_volume_ && ::syncfs(fd_.get()) != 0) return LastError();
  return IoResult::Ok();
}

IoResult PosixOpenFile::SetTimes(FileTime time) {
  if (!fd_.valid()) return FromErrno(EBADF);
  // The system keeps no settable creation time; access and modification time carry it.
  const auto ticks = static_cast<std::int64_t>(time);
  std::int64_t seconds = ticks / kTicksPerSecond - kEpochDifferenceSeconds;
  std::int64_t rest = ticks % kTicksPerSecond;
  if (rest < 0) {
    rest += kTicksPerSecond;
    --seconds;
  }
  timespec times[2];
  times[0].tv_sec = static_cast<time_t>(seconds);
  times[0].tv_nsec = static_cast<long>(rest * 100);
  times[1] = times[0];
  if (::futimens(fd_.get(), times) != 0) return LastError();
  return IoResult::Ok();
}

void PosixOpenFile::RememberStatus(const Status& status) {
  if (status.has_birth) lasting_identity_ = IdentityOf(status, fd_.get(), "");
}

IoResult PosixOpenFile::Identity(EntryIdentity& identity) {
  identity = EntryIdentity{};
  if (!fd_.valid()) return FromErrno(EBADF);
  if (lasting_identity_) {
    identity = *lasting_identity_;
    return IoResult::Ok();
  }
  Status status;
  if (const int error = StatFd(fd_.get(), status); error != 0) return FromErrno(error);
  identity = IdentityOfOpen(status, fd_.get());
  return IoResult::Ok();
}

IoResult PosixOpenFile::RestoreAttributes() {
  if (!original_mode_) return IoResult::Ok();
  if (!fd_.valid()) return FromErrno(EBADF);
  if (::fchmod(fd_.get(), *original_mode_) != 0) return LastError();
  original_mode_.reset();
  return IoResult::Ok();
}

IoResult PosixOpenFile::Close() {
  if (!fd_.valid()) return FromErrno(EBADF);
  const int fd = fd_.release();
  // On Linux the descriptor is gone even when close reports EINTR; it must not be retried.
  if (::close(fd) != 0 && errno != EINTR) return LastError();
  return IoResult::Ok();
}

IoResult PosixOpenFile::CurrentSize(std::uint64_t& size) {
  size = 0;
  if (!fd_.valid()) return FromErrno(EBADF);
  struct stat status;
  if (::fstat(fd_.get(), &status) != 0) return LastError();
  size = static_cast<std::uint64_t>(status.st_size);
  return IoResult::Ok();
}

IoResult PosixOpenFile::Seek(std::uint64_t offset) {
  if (!fd_.valid()) return FromErrno(EBADF);
  if (::lseek(fd_.get(), static_cast<off_t>(offset), SEEK_SET) < 0) return LastError();
  // Writing behind starts again from here (a pass begins at 0, a sparse file's ranges each at
  // their start); what was started before is left to the flush.
  position_ = started_ = dropped_ = offset;
  return IoResult::Ok();
}

IoResult PosixOpenFile::DataRanges(std::uint64_t size, std::vector<ByteRange>& ranges) {
  ranges.clear();
  if (!fd_.valid()) return FromErrno(EBADF);
  std::uint64_t at = 0;
  while (at < size) {
    const off_t data = ::lseek(fd_.get(), static_cast<off_t>(at), SEEK_DATA);
    if (data < 0) {
      if (errno == ENXIO) break;  // no data from `at` to the end
      const IoResult failure = LastError();
      ranges.clear();
      return failure;
    }
    const auto start = static_cast<std::uint64_t>(data);
    if (start >= size) break;
    const off_t hole = ::lseek(fd_.get(), data, SEEK_HOLE);
    if (hole < 0) {
      const IoResult failure = LastError();
      ranges.clear();
      return failure;
    }
    const std::uint64_t end = std::min<std::uint64_t>(static_cast<std::uint64_t>(hole), size);
    if (end <= start) break;  // a file system that answers nonsense: the caller takes the whole
    ranges.push_back({start, end - start});
    at = end;
  }
  return IoResult::Ok();
}

namespace {

// Whether the attribute `name` holds what the owner put there (and not a label or an access
// list that the system keeps for the file).
bool HoldsOwnersData(const char* name) {
  return std::strncmp(name, "user.", 5) == 0 || std::strncmp(name, "trusted.", 8) == 0;
}

// The names of the attributes of `fd`, each ending in NUL; false with errno when they cannot
// be read.
bool ListAttributeNames(int fd, std::vector<char>& names) {
  for (int attempt = 0; attempt < 8; ++attempt) {
    const ssize_t needed = ::flistxattr(fd, nullptr, 0);
    if (needed < 0) return false;
    names.assign(static_cast<std::size_t>(needed), '\0');
    if (needed == 0) return true;
    const ssize_t got = ::flistxattr(fd, names.data(), names.size());
    if (got >= 0) {
      names.resize(static_cast<std::size_t>(got));
      return true;
    }
    if (errno != ERANGE) return false;  // ERANGE: one was added meanwhile; ask again
  }
  errno = ERANGE;
  return false;
}

}  // namespace

IoResult PosixOpenFile::OverwriteExtendedAttributes(std::vector<UnreachedAttribute>& unreached) {
  unreached.clear();
  if (!fd_.valid()) return FromErrno(EBADF);
  std::vector<char> names;
  if (!ListAttributeNames(fd_.get(), names)) {
    // A file system without attributes has none to overwrite.
    if (errno == ENOTSUP) return IoResult::Ok();
    return LastError();
  }
  std::vector<std::string> overwritten;
  std::vector<unsigned char> zeros;
  for (std::size_t at = 0; at < names.size();) {
    const char* name = names.data() + at;
    const std::size_t length = ::strnlen(name, names.size() - at);
    at += length + 1;
    if (length == 0 || !HoldsOwnersData(name)) continue;
    const ssize_t size = ::fgetxattr(fd_.get(), name, nullptr, 0);
    if (size < 0) {
      if (errno != ENODATA) unreached.push_back({Utf8ToText(name), LastError()});
      continue;  // ENODATA: removed meanwhile by someone else
    }
    // The same length, so that the file system keeps the value where it is: a value of another
    // size may be moved to another place and leave the old one behind.
    zeros.assign(static_cast<std::size_t>(size), 0);
    if (::fsetxattr(fd_.get(), name, zeros.data(), zeros.size(), XATTR_REPLACE) != 0) {
      unreached.push_back({Utf8ToText(name), LastError()});
      continue;
    }
    overwritten.emplace_back(name);
  }
  if (overwritten.empty()) return IoResult::Ok();
  // fsync, not fdatasync: the values are metadata, which fdatasync may leave in the cache. A
  // journalling file system has them in its journal then; syncfs also writes the block that
  // held them in its place, before the removal may free it unwritten.
  if (::fsync(fd_.get()) != 0 || ::syncfs(fd_.get()) != 0) {
    const IoResult failure = LastError();
    for (const std::string& name : overwritten) unreached.push_back({Utf8ToText(name), failure});
    return IoResult::Ok();
  }
  for (const std::string& name : overwritten) {
    // The zeros are on the device: a value left because its removal failed holds nothing.
    ::fremovexattr(fd_.get(), name.c_str());
  }
  return IoResult::Ok();
}

IoResult PosixOpenFile::OpenUncachedReader(std::unique_ptr<UncachedReader>& reader) {
  reader.reset();
  if (!fd_.valid()) return FromErrno(EBADF);
  char self[64];
  std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd_.get());
  constexpr int kFlags = O_RDONLY | O_CLOEXEC | O_NOCTTY;
  bool direct = true;
  UniqueFd fd(::open(self, kFlags | O_DIRECT));
  if (!fd.valid() && errno == EINVAL) {
    direct = false;
    fd.reset(::open(self, kFlags));
  }
  if (!fd.valid()) return LastError();
  struct stat mine, theirs;
  if (::fstat(fd_.get(), &mine) != 0 || ::fstat(fd.get(), &theirs) != 0 ||
      mine.st_dev != theirs.st_dev || mine.st_ino != theirs.st_ino) {
    return IoResult::Fail(IoResult::kGenericFailure);
  }
  reader = std::make_unique<PosixUncachedReader>(std::move(fd), direct);
  return IoResult::Ok();
}

}  // namespace nulvane::platform::posix
