#include "platform/posix/posix_folder_chain.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace nulvane::platform::posix {

namespace {

// Whether openat2 is worth asking: cleared the first time the kernel says it does not know it.
std::atomic<bool> openat2_available{true};

constexpr int kLevelFlags = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

void CloseQuietly(int fd) {
  if (fd >= 0) ::close(fd);
}

}  // namespace

IoResult ErrnoResult(int error) {
  switch (error) {
    case 0:
      return IoResult::Fail(IoResult::kGenericFailure);
    case ENOSPC:
    case EDQUOT:
      return IoResult::Fail(IoResult::kDiskFull);
    case ENAMETOOLONG:
      return IoResult::Fail(IoResult::kPathTooLong);
    default:
      return IoResult::Fail(static_cast<std::uint32_t>(error));
  }
}

IoResult SplitBelowAnchor(const EntryRef& entry, std::string& anchor,
                          std::vector<std::string>& components) {
  components.clear();
  if (entry.anchor_length > entry.path.size()) return IoResult::Fail(EINVAL);
  if (entry.path.find(u'\0') != TextView::npos || HasUnmappableSurrogate(entry.path)) {
    return IoResult::Fail(IoResult::kInvalidName);
  }
  anchor = TextToUtf8(entry.path.substr(0, entry.anchor_length));
  const std::string rest = TextToUtf8(entry.path.substr(entry.anchor_length));
  std::size_t start = 0;
  while (start <= rest.size()) {
    std::size_t end = rest.find('/', start);
    if (end == std::string::npos) end = rest.size();
    if (end > start) {
      std::string part = rest.substr(start, end - start);
      if (part == "." || part == "..") return IoResult::Fail(IoResult::kInvalidName);
      components.push_back(std::move(part));
    }
    start = end + 1;
  }
  if (components.empty()) return IoResult::Fail(ENOENT);
  return IoResult::Ok();
}

IoResult OpenFolderBeneath(int folder_fd, const std::string& name, bool same_volume,
                           dev_t folder_device, int& fd) {
  fd = -1;
  if (openat2_available.load(std::memory_order_relaxed)) {
    open_how how{};
    how.flags = static_cast<std::uint64_t>(kLevelFlags);
    how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS | RESOLVE_BENEATH;
    if (same_volume) how.resolve |= RESOLVE_NO_XDEV;
    for (;;) {
      const long result = ::syscall(SYS_openat2, folder_fd, name.c_str(), &how, sizeof how);
      if (result >= 0) {
        fd = static_cast<int>(result);
        break;
      }
      const int error = errno;
      if (error == EINTR || error == EAGAIN) continue;
      if (error == ENOSYS || error == E2BIG || error == EPERM) {
        // An old kernel, or a filter that refuses the call: the checks below do the same.
        openat2_available.store(false, std::memory_order_relaxed);
        break;
      }
      if (error == EXDEV) return IoResult::Fail(IoResult::kOtherVolume);
      // A link (ELOOP) or something that is no folder (ENOTDIR) stands where a folder was
      // listed: the tree changed.
      if (error == ELOOP || error == ENOTDIR) return IoResult::Fail(IoResult::kChangedEntry);
      return ErrnoResult(error);
    }
  }
  if (fd < 0) {
    fd = ::openat(folder_fd, name.c_str(), kLevelFlags);
    if (fd < 0) {
      const int error = errno;
      if (error == ELOOP || error == ENOTDIR) return IoResult::Fail(IoResult::kChangedEntry);
      return ErrnoResult(error);
    }
  }
  if (same_volume) {
    struct stat status;
    if (::fstat(fd, &status) != 0) {
      const int error = errno;
      CloseQuietly(fd);
      fd = -1;
      return ErrnoResult(error);
    }
    if (status.st_dev != folder_device) {
      CloseQuietly(fd);
      fd = -1;
      return IoResult::Fail(IoResult::kOtherVolume);
    }
  }
  return IoResult::Ok();
}

void FolderChain::CloseFrom(std::size_t level) {
  for (std::size_t i = level; i < levels_.size(); ++i) CloseQuietly(levels_[i].fd);
  levels_.resize(std::min(level, levels_.size()));
  if (first_open_ > levels_.size()) first_open_ = levels_.size();
}

void FolderChain::Forget() {
  CloseFrom(0);
  first_open_ = 0;
  CloseQuietly(anchor_fd_);
  anchor_fd_ = -1;
  anchor_set_ = false;
  anchor_.clear();
}

std::size_t FolderChain::OpenCount() const {
  return levels_.size() - first_open_ + (anchor_fd_ >= 0 ? 1 : 0);
}

IoResult FolderChain::SetAnchor(std::string_view anchor) {
  if (anchor_set_ && anchor == anchor_) return IoResult::Ok();
  Forget();
  const std::string path = anchor.empty() ? std::string(".") : std::string(anchor);
  int fd = ::open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0 && errno == ENAMETOOLONG) {
    // Longer than the system takes in one call: the same resolution, a component at a time
    // (links followed, as the user typed them).
    fd = ::open(path[0] == '/' ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC);
    std::size_t start = 0;
    while (fd >= 0 && start < path.size()) {
      std::size_t end = path.find('/', start);
      if (end == std::string::npos) end = path.size();
      if (end > start) {
        const std::string part = path.substr(start, end - start);
        const int next = ::openat(fd, part.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        const int error = errno;
        CloseQuietly(fd);
        fd = next;
        errno = error;
      }
      start = end + 1;
    }
  }
  if (fd < 0) return ErrnoResult(errno);
  struct stat status;
  if (::fstat(fd, &status) != 0) {
    const int error = errno;
    CloseQuietly(fd);
    return ErrnoResult(error);
  }
  anchor_fd_ = fd;
  anchor_device_ = status.st_dev;
  anchor_.assign(anchor);
  anchor_set_ = true;
  return IoResult::Ok();
}

IoResult FolderChain::PushLevel(std::string_view name) {
  const bool first = levels_.empty();
  const int parent_fd = first ? anchor_fd_ : levels_.back().fd;
  const dev_t parent_device = first ? anchor_device_ : levels_.back().device;
  Level level;
  level.name.assign(name);
  // The first component is the user's own choice and may be a mount point; below it, nothing
  // on another volume is entered.
  const IoResult opened = OpenFolderBeneath(parent_fd, level.name, !first, parent_device, level.fd);
  if (!opened) return opened;
  struct stat status;
  if (::fstat(level.fd, &status) != 0) {
    const int error = errno;
    CloseQuietly(level.fd);
    return ErrnoResult(error);
  }
  level.device = status.st_dev;
  level.inode = status.st_ino;
  levels_.push_back(std::move(level));
  if (levels_.size() - first_open_ > kMaxOpenLevels) {
    CloseQuietly(levels_[first_open_].fd);
    levels_[first_open_].fd = -1;
    ++first_open_;
  }
  return IoResult::Ok();
}

IoResult FolderChain::KeepLevels(std::size_t keep) {
  if (keep == 0 || levels_.empty()) {
    CloseFrom(0);
    first_open_ = 0;
    return IoResult::Ok();
  }
  // The deepest kept level must be open. Levels nearer the anchor were closed on the way
  // down; they are reopened upwards with "..", each accepted only as the folder it was.
  while (first_open_ > keep - 1) {
    if (first_open_ >= levels_.size()) return IoResult::Fail(IoResult::kChangedEntry);
    const std::size_t target = first_open_ - 1;
    const int fd = ::openat(levels_[first_open_].fd, "..", O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return ErrnoResult(errno);
    struct stat status;
    if (::fstat(fd, &status) != 0 || status.st_dev != levels_[target].device ||
        status.st_ino != levels_[target].inode) {
      CloseQuietly(fd);
      return IoResult::Fail(IoResult::kChangedEntry);
    }
    levels_[target].fd = fd;
    first_open_ = target;
  }
  CloseFrom(keep);
  return IoResult::Ok();
}

IoResult FolderChain::Reach(const EntryRef& entry, bool last_is_folder, ReachedEntry& reached) {
  std::string anchor;
  std::vector<std::string> components;
  IoResult result = SplitBelowAnchor(entry, anchor, components);
  if (!result) return result;
  result = SetAnchor(anchor);
  if (!result) return result;
  const std::size_t folder_count = last_is_folder ? components.size() : components.size() - 1;
  std::size_t common = 0;
  while (common < levels_.size() && common < folder_count &&
         levels_[common].name == components[common]) {
    ++common;
  }
  result = KeepLevels(common);
  if (!result) {
    // A folder on the way is not where it was: start again from the anchor; what is reached
    // then is checked as any other entry.
    Forget();
    result = SetAnchor(anchor);
    if (!result) return result;
  }
  for (std::size_t i = levels_.size(); i < folder_count; ++i) {
    result = PushLevel(components[i]);
    if (!result) return result;
  }
  if (last_is_folder) {
    reached.folder_fd = levels_.back().fd;
    reached.folder_device = levels_.back().device;
    reached.below_first_component = levels_.size() > 1;
    reached.name.clear();
  } else {
    reached.folder_fd = levels_.empty() ? anchor_fd_ : levels_.back().fd;
    reached.folder_device = levels_.empty() ? anchor_device_ : levels_.back().device;
    reached.below_first_component = !levels_.empty();
    reached.name = std::move(components.back());
  }
  return IoResult::Ok();
}

IoResult FolderChain::ReachParent(const EntryRef& entry, ReachedEntry& reached) {
  return Reach(entry, false, reached);
}

IoResult FolderChain::ReachFolder(const EntryRef& folder, int& fd) {
  ReachedEntry reached;
  const IoResult result = Reach(folder, true, reached);
  fd = result ? reached.folder_fd : -1;
  return result;
}

FolderChain& ThreadChain() {
  thread_local FolderChain chain;
  return chain;
}

}  // namespace nulvane::platform::posix
