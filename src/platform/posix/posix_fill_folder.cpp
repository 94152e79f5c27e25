// NativeFileSystem: the free-space fill's folder, made and held through descriptors.
//
// The chosen folder is opened once, as the user typed it; the fill folder is made in it with
// mkdirat, opened beneath it without following a link or leaving its volume, and accepted only
// as the folder just made: a real folder on the chosen folder's volume, owned by us (nobody
// else can make a folder that is ours).
// Every fill file is made relative to that descriptor, as an O_TMPFILE file where the file
// system has them: such a file has no name, and its space comes back when its descriptor
// closes, also when the process is killed. Nothing here changes a system setting.
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/native_file_system.h"
#include "platform/posix/posix_folder_chain.h"
#include "platform/posix/posix_identity.h"
#include "platform/posix/posix_open_file.h"
#include "platform/posix/unique_fd.h"

namespace nulvane::platform {

namespace {

constexpr unsigned long kExt4Magic = 0xEF53;

IoResult Errno(int error) { return posix::ErrnoResult(error ? error : EIO); }

// The path the system gives for the object `fd` stands for (/proc/self/fd/N), or `fallback`.
Text PathOfDescriptor(int fd, TextView fallback) {
  char self[64];
  std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
  std::vector<char> buffer(4096);
  for (;;) {
    const ssize_t length = ::readlink(self, buffer.data(), buffer.size());
    if (length <= 0) break;
    if (static_cast<std::size_t>(length) < buffer.size()) {
      if (buffer[0] != '/') break;
      return Utf8ToText(std::string(buffer.data(), static_cast<std::size_t>(length)));
    }
    if (buffer.size() > (1u << 20)) break;
    buffer.resize(buffer.size() * 2);
  }
  return Text(fallback);
}

// What ext4 holds back for its own metadata and never gives to a file, not even root's
// (/sys/fs/ext4/<device>/reserved_clusters, read only), in bytes; 0 elsewhere.
std::uint64_t Ext4HeldBackBytes(int fd, const posix::Status& status) {
  struct statfs volume;
  if (::fstatfs(fd, &volume) != 0 || static_cast<unsigned long>(volume.f_type) != kExt4Magic) {
    return 0;
  }
  char link[64];
  std::snprintf(link, sizeof link, "/sys/dev/block/%u:%u", major(status.device),
                minor(status.device));
  char target[PATH_MAX];
  const ssize_t length = ::readlink(link, target, sizeof target - 1);
  if (length <= 0) return 0;
  target[length] = 0;
  const char* slash = std::strrchr(target, '/');
  const std::string file =
      std::string("/sys/fs/ext4/") + (slash ? slash + 1 : target) + "/reserved_clusters";
  const posix::UniqueFd value_fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
  if (!value_fd.valid()) return 0;
  char buffer[32] = {};
  if (::read(value_fd.get(), buffer, sizeof buffer - 1) <= 0) return 0;
  const unsigned long long clusters = std::strtoull(buffer, nullptr, 10);
  // The cluster is the block unless the volume was made with bigalloc.
  return static_cast<std::uint64_t>(clusters) * static_cast<std::uint64_t>(volume.f_bsize);
}

class PosixFillFolder final : public FillFolder {
 public:
  PosixFillFolder(int chosen_fd, int folder_fd, std::string name, Text path, Text chosen_path,
                  const posix::Status& made)
      : chosen_fd_(chosen_fd),
        folder_fd_(folder_fd),
        name_(std::move(name)),
        path_(std::move(path)),
        chosen_path_(std::move(chosen_path)),
        made_(made) {}

  const Text& Path() const override { return path_; }
  const Text& ChosenPath() const override { return chosen_path_; }

  IoResult MakeFile(TextView name, Caching caching, std::unique_ptr<OpenFile>& file,
                    bool& named) override {
    file.reset();
    named = false;
    constexpr int kFlags = O_WRONLY | O_CLOEXEC | O_NOCTTY;
    posix::UniqueFd fd;
    if (nameless_) {
      fd.reset(::openat(folder_fd_.get(), ".", O_TMPFILE | kFlags, 0600));
      // File systems without O_TMPFILE say so in several ways; they get named files.
      if (!fd.valid() && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
        nameless_ = false;
      } else if (!fd.valid()) {
        return Errno(errno);
      }
    }
    if (!fd.valid()) {
      if (name.empty() || name.find(u'/') != TextView::npos || name.find(u'\0') != TextView::npos) {
        return IoResult::Fail(IoResult::kInvalidName);
      }
      const std::string native = TextToUtf8(name);
      fd.reset(
          ::openat(folder_fd_.get(), native.c_str(), O_CREAT | O_EXCL | O_NOFOLLOW | kFlags, 0600));
      if (!fd.valid()) return Errno(errno);
      named = true;
    }
    // Direct I/O is switched on after the creation: a file system that refuses it (tmpfs)
    // would otherwise fail the open. The file then stays buffered.
    if (caching == Caching::kUnbuffered) {
      const int flags = ::fcntl(fd.get(), F_GETFL);
      if (flags >= 0) ::fcntl(fd.get(), F_SETFL, flags | O_DIRECT);
    }
    ::posix_fadvise(fd.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    file = std::make_unique<posix::PosixOpenFile>(std::move(fd), /*sync_volume=*/true);
    return IoResult::Ok();
  }

  IoResult RemoveFile(TextView name) override {
    if (name.empty() || name.find(u'/') != TextView::npos || name.find(u'\0') != TextView::npos) {
      return IoResult::Fail(IoResult::kInvalidName);
    }
    const std::string native = TextToUtf8(name);
    if (::unlinkat(folder_fd_.get(), native.c_str(), 0) != 0) return Errno(errno);
    return IoResult::Ok();
  }

  IoResult GetSpace(VolumeSpace& space) override {
    struct statvfs volume;
    if (::fstatvfs(folder_fd_.get(), &volume) != 0) return Errno(errno);
    const std::uint64_t unit = volume.f_frsize ? volume.f_frsize : volume.f_bsize;
    // Root may write into the blocks reserved for it (ext4: 5 % by default); the fill must
    // cover those too, and its percentage must measure against them.
    const bool root = ::geteuid() == 0;
    space.free_bytes = static_cast<std::uint64_t>(root ? volume.f_bfree : volume.f_bavail) * unit;
    space.total_bytes = static_cast<std::uint64_t>(volume.f_blocks) * unit;
    space.sector_size = volume.f_frsize ? static_cast<std::uint32_t>(volume.f_frsize) : 512;
    space.held_back_bytes = root ? Ext4HeldBackBytes(folder_fd_.get(), made_) : 0;
    return IoResult::Ok();
  }

  IoResult Remove() override {
    // Only while the name still names the folder made and held: a folder put in its place is
    // someone else's.
    posix::Status now;
    if (const int error = posix::StatAt(chosen_fd_.get(), name_.c_str(), now); error != 0) {
      return Errno(error);
    }
    if (now.device != made_.device || now.inode != made_.inode || !S_ISDIR(now.mode)) {
      return IoResult::Fail(IoResult::kChangedEntry);
    }
    if (::unlinkat(chosen_fd_.get(), name_.c_str(), AT_REMOVEDIR) != 0) return Errno(errno);
    return IoResult::Ok();
  }

  IoResult ListChosen(const std::function<void(TextView name, EntryKind kind)>& visit) override {
    posix::UniqueDir dir;
    if (const IoResult opened = posix::OpenListing(chosen_fd_.get(), dir); !opened) return opened;
    const int fd = ::dirfd(dir.get());
    for (;;) {
      errno = 0;
      const dirent* entry = ::readdir(dir.get());
      if (!entry) break;
      const char* name = entry->d_name;
      if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) continue;
      EntryKind kind = EntryKind::kOther;
      unsigned char type = entry->d_type;
      if (type == DT_UNKNOWN) {
        posix::Status status;
        if (posix::StatAt(fd, name, status) != 0) continue;
        type = S_ISDIR(status.mode)   ? DT_DIR
               : S_ISLNK(status.mode) ? DT_LNK
               : S_ISREG(status.mode) ? DT_REG
                                      : DT_UNKNOWN;
      }
      if (type == DT_DIR) kind = EntryKind::kFolder;
      if (type == DT_LNK) kind = EntryKind::kLink;
      if (type == DT_REG) kind = EntryKind::kFile;
      visit(Utf8ToText(name), kind);
    }
    const int error = errno;
    return error == 0 ? IoResult::Ok() : Errno(error);
  }

 private:
  posix::UniqueFd chosen_fd_;
  posix::UniqueFd folder_fd_;
  std::string name_;
  Text path_;
  Text chosen_path_;
  posix::Status made_;
  bool nameless_ = true;  // O_TMPFILE until the file system refuses it
};

}  // namespace

IoResult NativeFileSystem::MakeFillFolder(TextView chosen, TextView name,
                                          std::unique_ptr<FillFolder>& folder) {
  folder.reset();
  if (chosen.empty() || chosen.find(u'\0') != TextView::npos || HasUnmappableSurrogate(chosen)) {
    return IoResult::Fail(IoResult::kInvalidName);
  }
  std::string native_name;
  if (const IoResult valid = posix::NativeComponent(name, native_name); !valid) return valid;
  const std::string native = TextToUtf8(chosen);
  // The folders on the way are followed as typed; the chosen folder itself must not be a link
  // (O_NOFOLLOW with O_DIRECTORY refuses one with ENOTDIR).
  posix::UniqueFd chosen_fd(::open(native.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!chosen_fd.valid()) return Errno(errno);
  posix::Status chosen_status;
  if (const int error = posix::StatFd(chosen_fd.get(), chosen_status); error != 0) {
    return Errno(error);
  }
  if (::mkdirat(chosen_fd.get(), native_name.c_str(), 0700) != 0) return Errno(errno);
  // Opened beneath the chosen folder: never through a link, never on another volume.
  posix::UniqueFd made;
  const IoResult opened =
      posix::OpenFolderBeneath(chosen_fd.get(), native_name, true, chosen_status.device, made);
  if (!opened) return opened;
  posix::Status status;
  if (const int error = posix::StatFd(made.get(), status); error != 0) return Errno(error);
  // The folder just made, not one put in its place in between: a folder of ours (nobody else
  // can make one owned by us) on the chosen folder's volume.
  if (!S_ISDIR(status.mode) || status.device != chosen_status.device) {
    return IoResult::Fail(IoResult::kChangedEntry);
  }
  struct stat owner;
  if (::fstat(made.get(), &owner) != 0 || owner.st_uid != ::geteuid()) {
    return IoResult::Fail(IoResult::kChangedEntry);
  }
  Text chosen_path = PathOfDescriptor(chosen_fd.get(), chosen);
  Text path = chosen_path;
  if (path.empty() || path.back() != u'/') path.push_back(u'/');
  path += name;
  folder =
      std::make_unique<PosixFillFolder>(chosen_fd.release(), made.release(), std::move(native_name),
                                        std::move(path), std::move(chosen_path), status);
  return IoResult::Ok();
}

}  // namespace nulvane::platform
