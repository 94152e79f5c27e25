// NativeFileSystem: looking up one entry and listing a folder, and the item list's path keys.
//
// Directory entries are classified from their own attributes, never from what a link points
// at: FILE_ATTRIBUTE_REPARSE_POINT makes an entry a link (symbolic link, junction, mount point
// or any other reparse point), whatever else it claims to be.
#include <windows.h>

#include <utility>

#include "platform/native_file_system.h"
#include "platform/win32/wide.h"

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
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

EntryInfo Classify(const WIN32_FIND_DATAW& data) {
  EntryInfo info;
  info.size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  const DWORD attributes = data.dwFileAttributes;
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    info.kind = EntryKind::kLink;
    info.link_to_folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  } else if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    info.kind = EntryKind::kFolder;
  } else if (attributes & FILE_ATTRIBUTE_DEVICE) {
    info.kind = EntryKind::kOther;
  } else {
    info.kind = EntryKind::kFile;
  }
  return info;
}

// Paths at or above this length are handed to the system in extended-length form; below it the
// classic form works everywhere (MAX_PATH, less room for the "\*" a listing appends).
constexpr std::size_t kClassicPathLimit = MAX_PATH - 2;

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

// `path` in a form the system takes whole, whatever its length: the classic form when short,
// otherwise made absolute (GetFullPathNameW: the same textual rules as for a short path) and
// prefixed with \\?\ or \\?\UNC\. A path already in extended or device form is left alone.
// Returns an empty text when the path cannot be made absolute.
Text SystemPath(TextView path) {
  if (path.size() < kClassicPathLimit) return Text(path);
  if (path.size() >= 4 && IsSeparator(path[0]) && IsSeparator(path[1]) &&
      (path[2] == u'?' || path[2] == u'.') && IsSeparator(path[3])) {
    return Text(path);
  }
  const Text input(path);
  DWORD capacity = static_cast<DWORD>(input.size()) + 16;
  Text full;
  for (int attempt = 0; attempt < 3; ++attempt) {
    full.assign(capacity, u'\0');
    const DWORD length = GetFullPathNameW(Wide(input), capacity, Wide(full), nullptr);
    if (length == 0) return Text();
    if (length < capacity) {
      full.resize(length);
      break;
    }
    capacity = length + 1;
    full.clear();
  }
  if (full.empty()) return Text();
  if (full.size() >= 2 && full[0] == u'\\' && full[1] == u'\\') {
    return u"\\\\?\\UNC\\" + full.substr(2);  // \\server\share\... -> \\?\UNC\server\share\...
  }
  return u"\\\\?\\" + full;
}

IoResult LastError() { return IoResult::Fail(GetLastError()); }

}  // namespace

IoResult NativeFileSystem::FindEntry(TextView path, EntryInfo& info) {
  info = EntryInfo{};
  if (path.empty() || path.find(u'\0') != TextView::npos) {
    return IoResult::Fail(ERROR_FILE_NOT_FOUND);
  }
  const Text system_path = SystemPath(path);
  if (system_path.empty()) return IoResult::Fail(IoResult::kPathTooLong);
  WIN32_FIND_DATAW data;
  FindHandle find(FindFirstFileExW(Wide(system_path), FindExInfoBasic, &data, FindExSearchNameMatch,
                                   nullptr, 0));
  if (!find.valid()) return LastError();
  info = Classify(data);
  return IoResult::Ok();
}

IoResult NativeFileSystem::ListFolder(
    TextView folder, const std::function<void(TextView name, const EntryInfo&)>& visit) {
  if (folder.empty() || folder.find(u'\0') != TextView::npos) {
    return IoResult::Fail(ERROR_PATH_NOT_FOUND);
  }
  Text pattern(folder);
  if (!IsSeparator(pattern.back())) pattern.push_back(u'\\');
  pattern.push_back(u'*');
  const Text system_pattern = SystemPath(pattern);
  if (system_pattern.empty()) return IoResult::Fail(IoResult::kPathTooLong);

  // A listing through a junction or directory link would list what it points at. Callers only
  // list real folders; the folder's own attributes are checked here as well, so that a folder
  // that has been replaced by a link since the caller looked is refused rather than entered.
  const Text system_folder = system_pattern.substr(0, system_pattern.size() - 1);
  const DWORD attributes = GetFileAttributesW(Wide(system_folder));
  if (attributes == INVALID_FILE_ATTRIBUTES) return LastError();
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return IoResult::Fail(ERROR_CANT_RESOLVE_FILENAME);
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return IoResult::Fail(ERROR_DIRECTORY);

  WIN32_FIND_DATAW data;
  FindHandle find(FindFirstFileExW(Wide(system_pattern), FindExInfoBasic, &data,
                                   FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH));
  if (!find.valid()) return LastError();
  Text name;
  do {
    name = FromWide(data.cFileName);
    visit(name, Classify(data));
  } while (FindNextFileW(find.get(), &data));
  const DWORD error = GetLastError();
  if (error != ERROR_NO_MORE_FILES) return IoResult::Fail(error);
  return IoResult::Ok();
}

Text FoldPathKey(TextView path) {
  Text key(path);
  // The whole length, embedded nulls included: CharLowerW would stop at the first one.
  if (!key.empty()) CharLowerBuffW(Wide(key), static_cast<DWORD>(key.size()));
  return key;
}

}  // namespace nulvane::platform
