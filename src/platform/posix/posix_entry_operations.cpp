// NativeFileSystem: the operations on one entry below its anchor: open for overwrite, open a
// folder for its stamp, rename, removal. No call here follows a symbolic link: each entry is
// reached through the thread's folder chain, opened with O_PATH | O_NOFOLLOW and checked on the
// opened object itself (its identity, its kind, its volume) before anything about it changes.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <string>

#include "platform/native_file_system.h"
#include "platform/posix/posix_folder_chain.h"
#include "platform/posix/posix_identity.h"
#include "platform/posix/posix_open_file.h"
#include "platform/posix/posix_storage_probe.h"
#include "platform/posix/unique_fd.h"

namespace nulvane::platform {

namespace {

IoResult FromErrno(int error) { return posix::ErrnoResult(error); }
IoResult LastError() { return FromErrno(errno); }
IoResult LastErrorOf(int error) { return FromErrno(error); }

// Renames without replacing where renameat2's RENAME_NOREPLACE is not available: a file gets a
// second name and loses its first (linkat fails when the target exists); a folder takes over an
// empty placeholder folder that was created new for it (mkdirat fails when the target exists).
IoResult RenameWithoutReplacing(int folder_fd, const std::string& from, const std::string& to,
                                bool is_folder) {
  if (is_folder) {
    if (::mkdirat(folder_fd, to.c_str(), 0700) != 0) return LastError();
    if (::renameat(folder_fd, from.c_str(), folder_fd, to.c_str()) != 0) {
      const IoResult failure = LastError();
      ::unlinkat(folder_fd, to.c_str(), AT_REMOVEDIR);
      return failure;
    }
    return IoResult::Ok();
  }
  // linkat without AT_SYMLINK_FOLLOW does not follow a symbolic link: the link itself gets the
  // second name.
  if (::linkat(folder_fd, from.c_str(), folder_fd, to.c_str(), 0) != 0) return LastError();
  if (::unlinkat(folder_fd, from.c_str(), 0) != 0) {
    const IoResult failure = LastError();
    ::unlinkat(folder_fd, to.c_str(), 0);
    return failure;
  }
  return IoResult::Ok();
}

// The entry `reached` names, looked at without following it and checked against what the
// caller listed: the same object, and on the holding folder's volume below the first
// component.
IoResult ExamineReached(const posix::ReachedEntry& reached, const EntryRef& entry,
                        posix::Status& status) {
  if (const int error = posix::StatAt(reached.folder_fd, reached.name.c_str(), status);
      error != 0) {
    return FromErrno(error);
  }
  if (!entry.Admits(posix::IdentityOf(status, reached.folder_fd, reached.name.c_str()))) {
    return IoResult::Fail(IoResult::kChangedEntry);
  }
  if (reached.below_first_component && status.device != reached.folder_device) {
    return IoResult::Fail(IoResult::kOtherVolume);
  }
  return IoResult::Ok();
}

// "/proc/self/fd/N": opening or changing this path reaches exactly the object the descriptor
// stands for, whatever name it has now.
std::string DescriptorPath(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

// Changes the mode of the object `path_fd` stands for (an O_PATH descriptor). Without /proc,
// the name in its folder is used, and only while it still names that object.
IoResult ChangeModeOf(int path_fd, const posix::ReachedEntry& reached, const posix::Status& status,
                      mode_t mode) {
  if (::chmod(DescriptorPath(path_fd).c_str(), mode) == 0) return IoResult::Ok();
  if (errno != ENOENT) return LastError();
  posix::Status now;
  if (posix::StatAt(reached.folder_fd, reached.name.c_str(), now) != 0 ||
      now.device != status.device || now.inode != status.inode) {
    return IoResult::Fail(IoResult::kChangedEntry);
  }
  if (::fchmodat(reached.folder_fd, reached.name.c_str(), mode, AT_SYMLINK_NOFOLLOW) != 0) {
    return LastError();  // never through a link swapped in meanwhile
  }
  return IoResult::Ok();
}

// Opens the object `status` describes again with `flags`: by its name in its folder, accepted
// only when that is still the same object (errno ESTALE otherwise); `now` is what the opened
// object is. A name that has become a link fails (O_NOFOLLOW). Cheaper than /proc/self/fd,
// which costs a look-up in procfs.
posix::UniqueFd ReopenByName(const posix::ReachedEntry& reached, const posix::Status& status,
                             int flags, posix::Status& now) {
  posix::UniqueFd fd(::openat(reached.folder_fd, reached.name.c_str(), flags | O_NOFOLLOW));
  if (!fd.valid()) {
    if (errno == ELOOP) errno = ESTALE;
    return fd;
  }
  // The checked object is pinned (ReachAndExamine), so no other object can have its number.
  // Its birth time is not compared: opening a file on overlayfs for writing copies it up, and
  // the copy is born now.
  if (posix::StatFd(fd.get(), now) != 0 || now.device != status.device ||
      now.inode != status.inode) {
    errno = ESTALE;
    return posix::UniqueFd();
  }
  return fd;
}

// Reaches `entry` and examines it by its name, without opening it (no device is opened, no pipe
// waited for), so that nothing about a refused entry changes: it must be the listed object, on
// its folder's volume below the first component.
//
// The next call by name may meet another object, even one that took the checked object's inode
// number after it was removed. With `pin_always`, or where the identity holds no birth time for
// the looks after it to compare, the object is pinned: `pin` (an O_PATH descriptor, held by the
// caller until it is done) keeps its inode number taken, and the identity is checked again
// through it.
IoResult ReachAndExamine(const EntryRef& entry, posix::ReachedEntry& reached, posix::Status& status,
                         posix::UniqueFd& pin, bool pin_always = false) {
  IoResult result = posix::FolderChain::ForThread().ReachParent(entry, reached);
  if (result) result = ExamineReached(reached, entry, status);
  if (!result || (status.has_birth && !pin_always)) return result;
  pin.reset(::openat(reached.folder_fd, reached.name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
  if (!pin.valid()) return LastError();
  if (const int error = posix::StatFd(pin.get(), status); error != 0) return FromErrno(error);
  if (!entry.Admits(posix::IdentityOf(status, pin.get(), ""))) {
    return IoResult::Fail(IoResult::kChangedEntry);
  }
  if (reached.below_first_component && status.device != reached.folder_device) {
    return IoResult::Fail(IoResult::kOtherVolume);
  }
  return IoResult::Ok();
}

// The same, for an entry to be opened, which must be of `kind` (S_IFREG or S_IFDIR): always
// pinned, since the open compares the object's number only.
IoResult ReachAndExamine(const EntryRef& entry, mode_t kind, posix::ReachedEntry& reached,
                         posix::Status& status, posix::UniqueFd& pin) {
  const IoResult result = ReachAndExamine(entry, reached, status, pin, true);
  if (!result) return result;
  if ((status.mode & S_IFMT) != kind) return IoResult::Fail(IoResult::kNotRegularFile);
  return IoResult::Ok();
}

// Changes the mode of the examined object to `mode` through a descriptor that stands for it
// (O_PATH), taken only when that is still the object `status` describes.
IoResult ChangeModeOfExamined(const posix::ReachedEntry& reached, const posix::Status& status,
                              mode_t mode) {
  const posix::UniqueFd path_fd(
      ::openat(reached.folder_fd, reached.name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
  if (!path_fd.valid()) return LastError();
  posix::Status now;
  if (posix::StatFd(path_fd.get(), now) != 0 || now.device != status.device ||
      now.inode != status.inode) {
    return IoResult::Fail(IoResult::kChangedEntry);
  }
  return ChangeModeOf(path_fd.get(), reached, status, mode);
}

}  // namespace

IoResult NativeFileSystem::OpenForOverwrite(const EntryRef& entry, std::unique_ptr<OpenFile>& file,
                                            OpenedFileInfo& info) {
  file.reset();
  info = OpenedFileInfo{};
  const posix::ChainUse use;
  posix::ReachedEntry reached;
  posix::Status status;
  posix::UniqueFd pin;
  IoResult result = ReachAndExamine(entry, S_IFREG, reached, status, pin);
  if (!result) return result;
  if (status.links > 1) return IoResult::Fail(IoResult::kHardLinked);

  // Read-only: the owner's write permission is given, now that the file is known to be the
  // listed one, and taken back should the file still not open (or its overwrite fail: see
  // RestoreAttributes).
  const mode_t original_mode = status.mode & 07777;
  bool mode_changed = false;
  if ((status.mode & S_IWUSR) == 0) {
    mode_changed = ChangeModeOfExamined(reached, status, original_mode | S_IWUSR).ok();
  }
  // O_NONBLOCK and O_NOCTTY: should the object have changed after all, a pipe cannot block the
  // open nor a terminal become ours; the reopen refuses it.
  constexpr int kWriteFlags = O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;
  posix::Status now;
  posix::UniqueFd reopened = ReopenByName(reached, status, kWriteFlags, now);
  if (!reopened.valid()) {
    const int error = errno;
    if (mode_changed) ChangeModeOfExamined(reached, status, original_mode);
    return error == ESTALE ? IoResult::Fail(IoResult::kChangedEntry) : LastErrorOf(error);
  }
  const int fd = reopened.get();
  auto opened = std::make_unique<posix::PosixOpenFile>(std::move(reopened));
  if (mode_changed) opened->RememberMode(original_mode);
  IoResult refused;
  if (!S_ISREG(now.mode)) {
    refused = IoResult::Fail(IoResult::kNotRegularFile);
  } else if (::fcntl(fd, F_SETFL, 0) != 0) {
    // Clears O_NONBLOCK, the one status flag the open set: writes to the file then wait.
    refused = LastError();
  }
  if (!refused) {
    opened->RestoreAttributes();
    return refused;
  }
  opened->RememberStatus(now);
  opened->WriteBehind();
  info.size = now.size;
  info.link_count = static_cast<std::uint32_t>(now.links);
  // The volume of a held folder stays what it is: its type is asked once per folder.
  const std::uint32_t volume_type =
      now.device == reached.folder_device
          ? posix::FolderChain::ForThread().VolumeTypeOfHeld(reached, fd)
          : VolumeTypeOf(fd);
  const StorageProbe probe = ProbeStorage(fd, now.size, now.blocks, volume_type);
  info.stored_elsewhere = probe.stored_elsewhere;
  if (probe.layered) info.layered_file_system = probe.layered;
  info.may_have_holes = probe.may_have_holes;
  file = std::move(opened);
  return IoResult::Ok();
}

IoResult NativeFileSystem::OpenFolderForStamp(const EntryRef& entry,
                                              std::unique_ptr<OpenFile>& folder) {
  folder.reset();
  const posix::ChainUse use;
  posix::ReachedEntry reached;
  posix::Status status;
  posix::UniqueFd pin;
  IoResult result = ReachAndExamine(entry, S_IFDIR, reached, status, pin);
  if (!result) return result;
  // A folder must be readable and searchable to be opened for its time stamps, and writable to
  // be emptied.
  constexpr mode_t kNeeded = S_IRUSR | S_IWUSR | S_IXUSR;
  if ((status.mode & kNeeded) != kNeeded) {
    ChangeModeOfExamined(reached, status, (status.mode & 07777) | kNeeded);
  }
  posix::Status now;
  posix::UniqueFd reopened = ReopenByName(reached, status, O_RDONLY | O_DIRECTORY | O_CLOEXEC, now);
  if (!reopened.valid()) {
    return errno == ESTALE ? IoResult::Fail(IoResult::kChangedEntry) : LastError();
  }
  auto opened = std::make_unique<posix::PosixOpenFile>(std::move(reopened));
  opened->RememberStatus(now);
  folder = std::move(opened);
  return IoResult::Ok();
}

IoResult NativeFileSystem::RenameNoReplace(const EntryRef& from, TextView to,
                                           EntryIdentity& after) {
  after = EntryIdentity{};
  const std::size_t to_anchor = ParentAnchorLength(to);
  // Only a new name in the same folder: the rename is made relative to the folder's handle.
  if (to_anchor != ParentAnchorLength(from.path) ||
      to.substr(0, to_anchor) != from.path.substr(0, to_anchor) || to_anchor == to.size()) {
    return IoResult::Fail(EINVAL);
  }
  const TextView new_name_text = to.substr(to_anchor);
  if (new_name_text.find(u'\0') != TextView::npos || HasUnmappableSurrogate(new_name_text) ||
      new_name_text == u"." || new_name_text == u"..") {
    return IoResult::Fail(IoResult::kInvalidName);
  }
  const std::string new_name = TextToUtf8(new_name_text);
  const posix::ChainUse use;
  posix::ReachedEntry reached;
  posix::Status status;
  posix::UniqueFd pin;
  IoResult result = ReachAndExamine(from, reached, status, pin);
  if (!result) return result;
  if (::renameat2(reached.folder_fd, reached.name.c_str(), reached.folder_fd, new_name.c_str(),
                  RENAME_NOREPLACE) != 0) {
    const int error = errno;
    // Kernels or file systems without the flag: renameat would replace silently, so never use
    // it on its own.
    if (error != EINVAL && error != ENOSYS && error != ENOTSUP) return FromErrno(error);
    result =
        RenameWithoutReplacing(reached.folder_fd, reached.name, new_name, S_ISDIR(status.mode));
    if (!result) return result;
  }
  // The name moved by name: should another object have been put under it since the check, it
  // is that one that moved. It is put back where it was and the step refused. What the new
  // name holds is the entry's identity from now on (a change time moves with the rename).
  posix::Status moved;
  if (posix::StatAt(reached.folder_fd, new_name.c_str(), moved) != 0 ||
      moved.device != status.device || moved.inode != status.inode ||
      moved.has_birth != status.has_birth || moved.birth_ns != status.birth_ns) {
    ::renameat2(reached.folder_fd, new_name.c_str(), reached.folder_fd, reached.name.c_str(),
                RENAME_NOREPLACE);
    return IoResult::Fail(IoResult::kChangedEntry);
  }
  after = posix::IdentityOf(moved, reached.folder_fd, new_name.c_str());
  return IoResult::Ok();
}

namespace {

// Removes the checked entry's name from its folder: unlinkat with `flags` (AT_REMOVEDIR for a
// folder), after the entry was found to be the listed object on its folder's volume.
IoResult RemoveChecked(const EntryRef& entry, int flags) {
  const posix::ChainUse use;
  posix::ReachedEntry reached;
  posix::Status status;
  posix::UniqueFd pin;
  const IoResult result = ReachAndExamine(entry, reached, status, pin);
  if (!result) return result;
  if (::unlinkat(reached.folder_fd, reached.name.c_str(), flags) != 0) return LastError();
  return IoResult::Ok();
}

}  // namespace

IoResult NativeFileSystem::DeleteFile(const EntryRef& entry) { return RemoveChecked(entry, 0); }

IoResult NativeFileSystem::RemoveFolder(const EntryRef& entry) {
  return RemoveChecked(entry, AT_REMOVEDIR);
}

void NativeFileSystem::ForgetOpenFolders() { posix::FolderChain::ForThread().Forget(); }

}  // namespace nulvane::platform
