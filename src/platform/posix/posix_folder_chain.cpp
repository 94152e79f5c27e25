#include "platform/posix/posix_folder_chain.h"
#include "platform/posix/posix_storage_probe.h"

#include "platform/posix/posix_identity.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>

namespace nulvane::platform::posix {

namespace {

// Whether openat2 is worth asking: cleared the first time the kernel says it does not know it.
std::atomic<bool> openat2_available{true};

constexpr int kLevelFlags = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

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
    case EFBIG:
      return IoResult::Fail(IoResult::kFileTooLarge);
    default:
      return IoResult::Fail(static_cast<std::uint32_t>(error));
  }
}

IoResult OpenListing(int folder_fd, UniqueDir& dir) {
  dir.reset();
  UniqueFd fd(::openat(folder_fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd.valid()) return ErrnoResult(errno);
  dir.reset(::fdopendir(fd.get()));
  if (!dir) return ErrnoResult(errno);
  fd.release();  // the stream owns it now
  return IoResult::Ok();
}

namespace {

// Equal texts, compared as memory: char_traits<char16_t> compares unit by unit.
bool SameText(TextView a, TextView b) {
  return a.size() == b.size() &&
         (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(char16_t)) == 0);
}

}  // namespace

IoResult NativeComponent(TextView name, std::string& native) {
  if (name.empty()) return IoResult::Fail(ENOENT);
  // Most names are plain ASCII without U+0000: their bytes are their units, and of the refused
  // names only "." and ".." remain possible.
  bool plain = true;
  for (const char16_t unit : name) plain &= unit - 1u < 0x7Fu;
  if (plain) {
    if (name[0] == u'.' && (name.size() == 1 || (name.size() == 2 && name[1] == u'.'))) {
      return IoResult::Fail(IoResult::kInvalidName);
    }
    native.resize(name.size());
    std::copy(name.begin(), name.end(), native.begin());
    return IoResult::Ok();
  }
  if (name == u"." || name == u".." || name.find(u'\0') != TextView::npos ||
      HasUnmappableSurrogate(name)) {
    return IoResult::Fail(IoResult::kInvalidName);
  }
  native = TextToUtf8(name);
  return IoResult::Ok();
}

IoResult OpenFolderBeneath(int folder_fd, const std::string& name, bool same_volume,
                           dev_t folder_device, UniqueFd& fd) {
  fd.reset();
  if (openat2_available.load(std::memory_order_relaxed)) {
    open_how how{};
    how.flags = static_cast<std::uint64_t>(kLevelFlags);
    how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS | RESOLVE_BENEATH;
    if (same_volume) how.resolve |= RESOLVE_NO_XDEV;
    for (;;) {
      const long result = ::syscall(SYS_openat2, folder_fd, name.c_str(), &how, sizeof how);
      if (result >= 0) {
        fd.reset(static_cast<int>(result));
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
  if (!fd.valid()) {
    fd.reset(::openat(folder_fd, name.c_str(), kLevelFlags));
    if (!fd.valid()) {
      const int error = errno;
      if (error == ELOOP || error == ENOTDIR) return IoResult::Fail(IoResult::kChangedEntry);
      return ErrnoResult(error);
    }
  }
  if (same_volume) {
    Status status;
    if (const int error = StatFd(fd.get(), status); error != 0) {
      fd.reset();
      return ErrnoResult(error);
    }
    if (status.device != folder_device) {
      fd.reset();
      return IoResult::Fail(IoResult::kOtherVolume);
    }
  }
  return IoResult::Ok();
}

void FolderChain::CloseFrom(std::size_t level) {
  // A folder let go may be the last hold on its volume: its type is asked again.
  if (level < levels_.size()) typed_ = false;
  levels_.resize(std::min(level, levels_.size()));
  if (first_open_ > levels_.size()) first_open_ = levels_.size();
  folder_text_.resize(levels_.empty() ? 0 : levels_.back().end);
}

std::uint32_t FolderChain::VolumeTypeOfHeld(const ReachedEntry& reached, int fd) {
  if (!typed_ || typed_device_ != reached.folder_device) {
    typed_volume_ = VolumeTypeOf(fd);
    typed_device_ = reached.folder_device;
    typed_ = true;
  }
  return typed_volume_;
}

void FolderChain::Forget() {
  typed_ = false;
  CloseFrom(0);
  first_open_ = 0;
  anchor_fd_.reset();
  anchor_set_ = false;
  anchor_identity_ = EntryIdentity{};
  anchor_.clear();
}

std::size_t FolderChain::OpenCount() const {
  return levels_.size() - first_open_ + (anchor_fd_.valid() ? 1 : 0);
}

IoResult FolderChain::SetAnchor(TextView anchor_text) {
  if (anchor_set_ && SameText(anchor_text, anchor_)) return IoResult::Ok();
  Forget();
  if (anchor_text.find(u'\0') != TextView::npos || HasUnmappableSurrogate(anchor_text)) {
    return IoResult::Fail(IoResult::kInvalidName);
  }
  const std::string anchor = TextToUtf8(anchor_text);
  const std::string path = anchor.empty() ? std::string(".") : anchor;
  UniqueFd fd(::open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (!fd.valid() && errno == ENAMETOOLONG) {
    // Longer than the system takes in one call: the same resolution, a component at a time
    // (links followed, as the user typed them).
    fd.reset(::open(path[0] == '/' ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
    std::size_t start = 0;
    while (fd.valid() && start < path.size()) {
      std::size_t end = path.find('/', start);
      if (end == std::string::npos) end = path.size();
      if (end > start) {
        const std::string part = path.substr(start, end - start);
        UniqueFd next(::openat(fd.get(), part.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        const int error = errno;
        fd = std::move(next);
        errno = error;
      }
      start = end + 1;
    }
  }
  if (!fd.valid()) return ErrnoResult(errno);
  Status status;
  if (const int error = StatFd(fd.get(), status); error != 0) return ErrnoResult(error);
  anchor_identity_ = IdentityOf(status, fd.get(), "");
  anchor_fd_ = std::move(fd);
  anchor_device_ = status.device;
  anchor_.assign(anchor_text);
  anchor_set_ = true;
  return IoResult::Ok();
}

IoResult FolderChain::PushLevel(std::string_view name, std::size_t end) {
  const bool first = levels_.empty();
  const int parent_fd = first ? anchor_fd_.get() : levels_.back().fd.get();
  const dev_t parent_device = first ? anchor_device_ : levels_.back().device;
  Level level;
  level.name.assign(name);
  level.end = end;
  // The first component is the user's own choice and may be a mount point; below it, nothing
  // on another volume is entered.
  const IoResult opened = OpenFolderBeneath(parent_fd, level.name, !first, parent_device, level.fd);
  if (!opened) return opened;
  Status status;
  if (const int error = StatFd(level.fd.get(), status); error != 0) return ErrnoResult(error);
  level.device = status.device;
  level.identity = IdentityOf(status, level.fd.get(), "");
  levels_.push_back(std::move(level));
  if (levels_.size() - first_open_ > kMaxOpenLevels) {
    levels_[first_open_].fd.reset();
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
    UniqueFd fd(::openat(levels_[first_open_].fd.get(), "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!fd.valid()) return ErrnoResult(errno);
    Status status;
    if (StatFd(fd.get(), status) != 0 ||
        !IdentityOf(status, fd.get(), "").Matches(levels_[target].identity)) {
      return IoResult::Fail(IoResult::kChangedEntry);
    }
    levels_[target].fd = std::move(fd);
    first_open_ = target;
  }
  CloseFrom(keep);
  return IoResult::Ok();
}

std::size_t FolderChain::CommonLevels(TextView folder) const {
  const TextView cached(folder_text_);
  const std::size_t limit = std::min(cached.size(), folder.size());
  std::size_t same = 0;
  if (SameText(folder, cached)) return levels_.size();
  same = static_cast<std::size_t>(std::mismatch(cached.begin(),
                                                cached.begin() + static_cast<std::ptrdiff_t>(limit),
                                                folder.begin())
                                      .first -
                                  cached.begin());
  // The levels whose names end within the shared text, and end there at a component boundary
  // of `folder` too.
  auto after =
      std::upper_bound(levels_.begin(), levels_.end(), same,
                       [](std::size_t offset, const Level& level) { return offset < level.end; });
  std::size_t count = static_cast<std::size_t>(after - levels_.begin());
  while (count > 0) {
    const std::size_t end = levels_[count - 1].end;
    if (end == folder.size() || folder[end] == u'/') break;
    --count;
  }
  return count;
}

IoResult FolderChain::Reach(const EntryRef& entry, bool last_is_folder, ReachedEntry& reached) {
  const TextView path = entry.path;
  if (entry.anchor_length > path.size()) return IoResult::Fail(EINVAL);
  TextView folder = path.substr(entry.anchor_length);
  TextView name;
  if (!last_is_folder) {
    const std::size_t separator = folder.rfind(u'/');
    name = separator == TextView::npos ? folder : folder.substr(separator + 1);
    folder = separator == TextView::npos ? TextView() : folder.substr(0, separator);
  }
  while (!folder.empty() && folder.back() == u'/') folder.remove_suffix(1);
  std::string native_name;
  if (!last_is_folder) {
    const IoResult valid = NativeComponent(name, native_name);
    if (!valid) return valid;
  } else if (folder.empty()) {
    return IoResult::Fail(ENOENT);
  }
  // In a folder's turn most entries share the folder last reached: the chain already stands
  // there (its levels are open up to that folder's own), and nothing of it changes.
  const bool same_place = anchor_set_ && SameText(folder, folder_text_) &&
                          SameText(path.substr(0, entry.anchor_length), anchor_);
  IoResult result = IoResult::Ok();
  if (!same_place) result = SetAnchor(path.substr(0, entry.anchor_length));
  if (!result) return result;
  if (!same_place) result = KeepLevels(CommonLevels(folder));
  if (!result) {
    // A folder on the way is not where it was: start again from the anchor; what is reached
    // then is checked as any other entry.
    Forget();
    result = SetAnchor(path.substr(0, entry.anchor_length));
    if (!result) return result;
  }
  // The folder the user's path stood in when it was added: a link on the way that has been
  // turned elsewhere since leads to another folder, and nothing in that one is touched.
  if (!entry.AdmitsAnchor(anchor_identity_)) return IoResult::Fail(IoResult::kChangedEntry);
  std::size_t start = levels_.empty() ? 0 : levels_.back().end;
  std::string native;
  while (start < folder.size()) {
    std::size_t end = folder.find(u'/', start);
    if (end == TextView::npos) end = folder.size();
    if (end > start) {
      result = NativeComponent(folder.substr(start, end - start), native);
      if (!result) return result;
      result = PushLevel(native, end);
      if (!result) return result;
      folder_text_.assign(folder.substr(0, end));
    }
    start = end + 1;
  }
  if (last_is_folder) {
    if (levels_.empty()) return IoResult::Fail(ENOENT);
    reached.folder_fd = levels_.back().fd.get();
    reached.folder_device = levels_.back().device;
    reached.below_first_component = levels_.size() > 1;
    reached.name.clear();
  } else {
    reached.folder_fd = levels_.empty() ? anchor_fd_.get() : levels_.back().fd.get();
    reached.folder_device = levels_.empty() ? anchor_device_ : levels_.back().device;
    reached.below_first_component = !levels_.empty();
    reached.name = std::move(native_name);
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

IoResult FolderChain::IdentifyAnchor(TextView anchor, EntryIdentity& identity) {
  identity = EntryIdentity{};
  const IoResult result = SetAnchor(anchor);
  if (result) identity = anchor_identity_;
  return result;
}

FolderChain& FolderChain::ForThread() {
  thread_local FolderChain chain;
  return chain;
}

}  // namespace nulvane::platform::posix
