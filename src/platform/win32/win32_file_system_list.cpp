// NativeFileSystem: looking up one entry and listing a folder, and the item list's path keys.
//
// Directory entries are classified from their own attributes and reparse tag, never from what
// a link points at: an entry is a link exactly when its tag is a name surrogate (symbolic
// link, junction), except a volume mount point, which carries a junction's tag and is told
// apart by its target: it is a real folder of another volume (as on POSIX), listed with
// `other_volume`, never entered, renamed or removed. A folder is listed through its own handle,
// opened relative to the folder that holds it, so that a folder replaced by a link is refused,
// never entered.
#include <windows.h>

#include <vector>

#include "platform/native_file_system.h"
#include "platform/win32/wide.h"
#include "platform/win32/win32_calls.h"
#include "platform/win32/win32_folder_chain.h"
#include "platform/win32/win32_handles.h"
#include "platform/win32/win32_path.h"

namespace nulvane::platform {

namespace {

// The one owner of a search handle.
class FindHandle {
 public:
  explicit FindHandle(HANDLE handle) : handle_(handle) {}
  FindHandle(const FindHandle&) = delete;
  FindHandle& operator=(const FindHandle&) = delete;
  ~FindHandle() {
    if (valid()) FindClose(handle_);
  }
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle_;
};

EntryInfo Classify(DWORD attributes, DWORD reparse_tag, std::uint64_t size) {
  EntryInfo info;
  info.kind = win32::KindOf(attributes, reparse_tag);
  info.link_to_folder =
      info.kind == EntryKind::kLink && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  info.size = size;
  return info;
}

// Whether the entry `name` of the open folder `folder`, tagged IO_REPARSE_TAG_MOUNT_POINT, is a
// volume mount point. One that cannot be opened to be read counts as one: it is left alone.
bool IsMountPointIn(HANDLE folder, TextView name) {
  win32::UniqueHandle entry;
  if (!win32::OpenRelative(folder, name, FILE_READ_ATTRIBUTES, win32::kShareAll, 0, entry)) {
    return true;
  }
  return win32::IsVolumeMountPoint(entry.get());
}

}  // namespace

IoResult NativeFileSystem::FindEntry(TextView path, EntryInfo& info) {
  info = EntryInfo{};
  if (path.empty() || path.find(u'\0') != TextView::npos) {
    return IoResult::Fail(ERROR_FILE_NOT_FOUND);
  }
  // Absolute and in extended-length form; a trailing separator stays, so that "name\" names no
  // entry, as a listing of that name would not.
  Text system_path = win32::ExtendedPath(win32::ResolvedFullPath(path));
  if (system_path.empty()) return IoResult::Fail(ERROR_FILE_NOT_FOUND);
  if (win32::IsSeparator(path.back()) && system_path.back() != u'\\') {
    system_path.push_back(u'\\');
  }
  WIN32_FIND_DATAW data;
  FindHandle find(FindFirstFileExW(Wide(system_path), FindExInfoBasic, &data, FindExSearchNameMatch,
                                   nullptr, 0));
  if (!find.valid()) return win32::LastError();
  info = Classify(data.dwFileAttributes, data.dwReserved0,
                  (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
  return IoResult::Ok();
}

IoResult NativeFileSystem::ListFolder(
    const EntryRef& folder, const std::function<void(TextView name, const EntryInfo&)>& visit) {
  const win32::ChainUse use;
  win32::Placement placement;
  if (IoResult placed = win32::FolderChain::ForThread().ReachParent(folder, placement); !placed)
    return placed;
  // The listing owns its handle: `visit` may list sub-folders, which changes the chain.
  win32::UniqueHandle handle;
  if (IoResult opened =
          win32::OpenPlaced(placement, FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES,
                            win32::kShareAll, FILE_DIRECTORY_FILE, handle);
      !opened) {
    return opened;
  }
  win32::Examined examined;
  if (IoResult looked = win32::Examine(handle.get(), examined); !looked) return looked;
  if (examined.kind != EntryKind::kFolder) return IoResult::Fail(IoResult::kNotRegularFile);
  if (IoResult same = win32::CheckSame(folder, placement, examined); !same) return same;

  std::vector<std::uint64_t> buffer(64 * 1024 / sizeof(std::uint64_t));
  Text name;
  for (FILE_INFO_BY_HANDLE_CLASS kind = FileIdBothDirectoryRestartInfo;;
       kind = FileIdBothDirectoryInfo) {
    if (!win32::Calls().get_file_information_ex(
            handle.get(), kind, buffer.data(),
            static_cast<DWORD>(buffer.size() * sizeof buffer[0]))) {
      const DWORD error = ::GetLastError();
      if (error == ERROR_NO_MORE_FILES) break;
      return win32::FromError(error);
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(buffer.data());
    for (std::size_t offset = 0;;) {
      const auto* entry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(bytes + offset);
      name = FromWide(entry->FileName, entry->FileNameLength / sizeof(wchar_t));
      // For a reparse point the listing carries its tag where the EA size would stand.
      const DWORD tag = (entry->FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ? entry->EaSize : 0;
      EntryInfo info = Classify(entry->FileAttributes, tag,
                                static_cast<std::uint64_t>(entry->EndOfFile.QuadPart));
      if (info.kind == EntryKind::kFolder) info.size = 0;
      if (tag == IO_REPARSE_TAG_MOUNT_POINT && IsMountPointIn(handle.get(), name)) {
        // The same tag as a junction: only its target tells a volume from a folder.
        info.kind = EntryKind::kFolder;
        info.link_to_folder = false;
        info.size = 0;
        info.other_volume = true;
      }
      // A plain file or folder on a volume whose 64-bit index is the whole id: the listing's id
      // is that index, and an entry that is no reparse point lies on the listed folder's volume
      // (a mount point is one), so its identity is the very one Inspect gives, without a look
      // of its own. Anything else gets its identity when the list first looks at the entry
      // itself, and so does an entry whose listing gives no whole id (0: none; all ones:
      // unknown). Under Wine a folder of another Unix file system shows as a plain folder and
      // gets this identity too: the listing of it (Examine, CheckSame) and every step of a run
      // on it compare the volume the folder itself reports, and refuse it.
      if (examined.ids == win32::VolumeIds::kIndex &&
          win32::IsWholeIndex(static_cast<std::uint64_t>(entry->FileId.QuadPart)) &&
          (entry->FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        info.identity.volume = examined.identity.volume;
        info.identity.object = static_cast<std::uint64_t>(entry->FileId.QuadPart);
        info.identity.known = true;
      }
      visit(name, info);
      if (entry->NextEntryOffset == 0) break;
      offset += entry->NextEntryOffset;
    }
  }
  return IoResult::Ok();
}

IoResult NativeFileSystem::IdentifyAnchor(TextView anchor, EntryIdentity& identity) {
  const win32::ChainUse use;
  return win32::FolderChain::ForThread().IdentifyAnchor(anchor, identity);
}

bool NativeFileSystem::ListingsTellIdentities() const { return true; }

Text FoldPathKey(TextView path) {
  Text key(path);
  // The whole length, embedded nulls included: CharLowerW would stop at the first one.
  if (!key.empty()) CharLowerBuffW(Wide(key), static_cast<DWORD>(key.size()));
  return key;
}

}  // namespace nulvane::platform
