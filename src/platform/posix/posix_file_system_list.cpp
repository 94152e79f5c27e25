// NativeFileSystem: looking up one entry and listing a folder, and the item list's path keys.
//
// Nothing here follows a symbolic link: an entry is examined with fstatat(AT_SYMLINK_NOFOLLOW)
// relative to the folder that holds it, reached through the thread's FolderChain; every listed
// entry is classified by the type readdir reports for the entry itself (a link is DT_LNK), or
// where it reports none with fstatat relative to the open folder.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>

#include "platform/native_file_system.h"
#include "platform/posix/posix_folder_chain.h"
#include "platform/posix/posix_identity.h"

namespace nulvane::platform {

namespace {

// Sizes: only a regular file's size is its content. A folder is given size 0, as a Windows
// directory entry gives it (what a folder holds is counted with its entries, not as the
// folder's own block size), and so are links and special files, whose sizes are no data of
// the user's. This keeps the item list's totals the same on both systems.
EntryInfo Classify(const posix::Status& st) {
  EntryInfo info;
  if (S_ISLNK(st.mode)) {
    info.kind = EntryKind::kLink;
  } else if (S_ISDIR(st.mode)) {
    info.kind = EntryKind::kFolder;
  } else if (S_ISREG(st.mode)) {
    info.kind = EntryKind::kFile;
    info.size = st.size;
  } else {
    info.kind = EntryKind::kOther;
  }
  return info;
}

// What readdir's type field tells. It describes the entry itself (a link is DT_LNK), so for a
// folder or a link it is all that is needed; a file's size needs a stat.
EntryInfo ClassifyByType(unsigned char type) {
  EntryInfo info;
  switch (type) {
    case DT_LNK:
      info.kind = EntryKind::kLink;
      break;
    case DT_DIR:
      info.kind = EntryKind::kFolder;
      break;
    case DT_REG:
      info.kind = EntryKind::kFile;
      break;
    default:
      info.kind = EntryKind::kOther;
      break;
  }
  return info;
}

bool IsDotOrDotDot(const char* name) {
  return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// Decodes a file name into `name` without loss, reusing its storage: most names are plain
// ASCII.
void AssignName(const char* native, Text& name) {
  name.clear();
  for (const char* c = native; *c; ++c) {
    if (static_cast<unsigned char>(*c) >= 0x80) {
      name = Utf8ToText(native);
      return;
    }
    name.push_back(static_cast<char16_t>(*c));
  }
}

}  // namespace

IoResult NativeFileSystem::FindEntry(TextView path, EntryInfo& info) {
  info = EntryInfo{};
  // A path that ends in a separator names no directory entry of its own (as on Windows, where a
  // trailing backslash or a bare root finds nothing). lstat would accept it and, worse, follow
  // a link in front of the separator to the folder behind it.
  if (path.empty() || path.back() == u'/') return IoResult::Fail(ENOENT);
  if (path.find(u'\0') != TextView::npos || HasUnmappableSurrogate(path)) {
    return IoResult::Fail(IoResult::kInvalidName);
  }
  // The user's own path, resolved as typed up to its last component, which is not followed.
  const std::string native = TextToUtf8(path);
  posix::Status st;
  if (const int error = posix::StatAt(AT_FDCWD, native.c_str(), st); error != 0) {
    // Longer than the system takes at once: the same look through the folder handles.
    if (error == ENAMETOOLONG) return Inspect(EntryRef(path), info);
    return posix::ErrnoResult(error);
  }
  info = Classify(st);
  info.identity = posix::IdentityOf(st, AT_FDCWD, native.c_str());
  return IoResult::Ok();
}

IoResult NativeFileSystem::Inspect(const EntryRef& entry, EntryInfo& info) {
  info = EntryInfo{};
  const posix::ChainUse use;
  posix::ReachedEntry reached;
  IoResult result = posix::FolderChain::ForThread().ReachParent(entry, reached);
  if (!result) return result;
  posix::Status st;
  if (const int error = posix::StatAt(reached.folder_fd, reached.name.c_str(), st); error != 0) {
    return posix::ErrnoResult(error);
  }
  info = Classify(st);
  info.identity = posix::IdentityOf(st, reached.folder_fd, reached.name.c_str());
  info.other_volume = reached.below_first_component && st.device != reached.folder_device;
  return IoResult::Ok();
}

IoResult NativeFileSystem::IdentifyAnchor(TextView anchor, EntryIdentity& identity) {
  const posix::ChainUse use;
  return posix::FolderChain::ForThread().IdentifyAnchor(anchor, identity);
}

IoResult NativeFileSystem::ListFolder(
    const EntryRef& folder, const std::function<void(TextView name, const EntryInfo&)>& visit) {
  const posix::ChainUse use;
  int folder_fd = -1;
  IoResult result = posix::FolderChain::ForThread().ReachFolder(folder, folder_fd);
  if (!result) return result;
  posix::Status folder_status;
  if (const int error = posix::StatFd(folder_fd, folder_status); error != 0) {
    return posix::ErrnoResult(error);
  }
  // The chain's descriptor is O_PATH; a listing needs one of its own, opened on that folder.
  posix::UniqueDir dir;
  result = posix::OpenListing(folder_fd, dir);
  if (!result) return result;
  const int fd = ::dirfd(dir.get());

  Text name;
  for (;;) {
    errno = 0;
    const dirent* entry = readdir(dir.get());
    if (!entry) {
      if (errno != 0) return posix::ErrnoResult(errno);
      break;
    }
    EntryInfo info;
    posix::Status st;
    if (IsDotOrDotDot(entry->d_name) || entry->d_type == DT_DIR || entry->d_type == DT_LNK) {
      const unsigned char type = entry->d_type;
      info = ClassifyByType(type == DT_UNKNOWN ? static_cast<unsigned char>(DT_DIR) : type);
    } else if (entry->d_type == DT_REG) {
      // A regular file's size costs a stat of its own; the item list reads it when it checks
      // the entry for its row, so a listing leaves it unread.
      info = ClassifyByType(DT_REG);
      info.size_known = false;
    } else if (const int error = posix::StatAt(fd, entry->d_name, st); error == 0) {
      // What a listing needs: the kind, the size and whether it is a mount point. The identity
      // is taken when the list first looks at the entry for its row.
      info = Classify(st);
      info.other_volume = st.device != folder_status.device;
    } else if (error == ENOENT) {
      continue;  // removed since readdir saw it
    } else {
      // Kept as what readdir says, so that it is still queued and a failure to destroy it is
      // reported rather than the entry silently left out.
      info = ClassifyByType(entry->d_type);
    }
    AssignName(entry->d_name, name);
    visit(name, info);
  }
  return IoResult::Ok();
}

bool NativeFileSystem::ListingsTellIdentities() const { return false; }

Text FoldPathKey(TextView path) {
  // POSIX file systems tell names apart by case: folding would name another file or none.
  return Text(path);
}

}  // namespace nulvane::platform
