// NativeFileSystem: inspection, overwrite, rename, removal and volume space. Below an entry's
// anchor every step is an NtCreateFile relative to the open folder that holds it, with
// FILE_OPEN_REPARSE_POINT: a symbolic link, junction or mount point is opened as itself and
// refused, never followed. Renames and removals go by the opened entry's handle, after its
// identity was checked. Every path handed to the system is absolute and in extended-length
// form, so that names ending in a dot or a blank reach it unchanged.
#include <windows.h>
#include <winioctl.h>
#include <winternl.h>
// The interface has a method of this name; the Win32 function is always called as DeleteFileW.
#undef DeleteFile

#include <algorithm>
#include <cstring>
#include <optional>
#include <utility>
#include <vector>

#include "platform/native_file_system.h"
#include "platform/win32/wide.h"
#include "platform/win32/win32_calls.h"
#include "platform/win32/win32_handles.h"
#include "platform/win32/win32_open_file.h"
#include "platform/win32/win32_path.h"
#include "platform/win32/win32_removal.h"
#include "platform/win32/win32_storage_probe.h"

namespace nulvane::platform {

using win32::Examine;
using win32::Examined;
using win32::FromError;
using win32::kShareAll;
using win32::LastError;
using win32::Placement;
using win32::SetAttributes;
using win32::UniqueHandle;

namespace {

bool StartsWith(TextView text, TextView prefix) {
  return text.size() >= prefix.size() && text.substr(0, prefix.size()) == prefix;
}

// The extended-length form of `path` (made absolute, normal, its ".." resolved on the real
// folder). A path holding U+0000 is refused: the system would stop reading there and act on
// another path. A device path is left as it is; callers refuse it.
IoResult ApiPath(TextView path, Text& out) {
  if (path.empty()) return FromError(ERROR_INVALID_NAME);
  if (path.find(u'\0') != TextView::npos) return IoResult::Fail(IoResult::kInvalidName);
  if (win32::IsDevicePath(path)) {
    out.assign(path);
    return IoResult::Ok();
  }
  out = win32::ExtendedPath(win32::ResolvedFullPath(path));
  if (out.empty()) return FromError(ERROR_PATH_NOT_FOUND);
  if (out.size() > 32767) return IoResult::Fail(IoResult::kPathTooLong);
  return IoResult::Ok();
}

#define NULVANE_API_PATH(variable, path) \
  Text variable;                         \
  if (IoResult bad = ApiPath(path, variable); !bad) return bad

constexpr DWORD kInTheWay = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

// Clears read-only, hidden and system on the opened entry where it has them; times unchanged.
IoResult ClearInTheWay(HANDLE handle, DWORD attributes) {
  if ((attributes & kInTheWay) == 0) return IoResult::Ok();
  return SetAttributes(handle, attributes & ~kInTheWay);
}

// Places `entry` and opens it for examination and attribute changes (such a handle takes
// part in no sharing check), then checks that it is the listed entry on its folder's volume.
IoResult OpenChecked(const EntryRef& entry, ACCESS_MASK access, ULONG options, Placement& placement,
                     UniqueHandle& handle, Examined& examined) {
  if (IoResult placed = win32::Place(entry, placement); !placed) return placed;
  if (IoResult opened = win32::OpenPlaced(placement, access, kShareAll, options, handle); !opened) {
    return opened;
  }
  if (IoResult looked = Examine(handle.get(), examined); !looked) return looked;
  return win32::CheckSame(entry, placement, examined);
}

// The root of the volume that holds `full` as the text says it: C:\ or \\server\share\.
Text TextualRoot(const Text& full) {
  std::size_t position = 0;
  if (StartsWith(full, u"\\\\?\\UNC\\")) {
    position = 8;
  } else if (StartsWith(full, u"\\\\?\\")) {
    position = 4;
  } else if (StartsWith(full, u"\\\\")) {
    position = 2;
  }
  const bool network = position == 2 || position == 8;
  if (network) {
    // Skip the server name; the share name follows.
    position = full.find(u'\\', position);
    if (position == Text::npos) return full + u"\\";
    ++position;
  }
  const std::size_t end = full.find(u'\\', position);
  if (end == Text::npos) return full + u"\\";
  return full.substr(0, end + 1);
}

}  // namespace

IoResult NativeFileSystem::Inspect(const EntryRef& entry, EntryInfo& info) {
  const win32::ChainUse use;
  info = EntryInfo{};
  if (win32::IsDevicePath(entry.path)) {
    info.kind = EntryKind::kOther;
    return IoResult::Ok();
  }
  Placement placement;
  if (IoResult placed = win32::Place(entry, placement); !placed) return placed;
  UniqueHandle handle;
  if (IoResult opened = win32::OpenPlaced(placement, FILE_READ_ATTRIBUTES, kShareAll, 0, handle);
      !opened) {
    // A name no entry can have (a wildcard, say) names no entry.
    if (opened.error == ERROR_INVALID_NAME) return FromError(ERROR_FILE_NOT_FOUND);
    return opened;
  }
  Examined examined;
  if (IoResult looked = Examine(handle.get(), examined); !looked) return looked;
  info.kind = examined.kind;
  info.link_to_folder =
      examined.kind == EntryKind::kLink && (examined.attributes & FILE_ATTRIBUTE_DIRECTORY);
  if (examined.kind == EntryKind::kFile) info.size = examined.size;
  info.identity = examined.identity;
  // A mount point stands for the volume mounted there, however it was reached.
  info.other_volume = examined.mount_point || (!placement.name.empty() &&
                                               examined.identity.volume != placement.folder_volume);
  return IoResult::Ok();
}

IoResult NativeFileSystem::OpenForOverwrite(const EntryRef& file_entry,
                                            std::unique_ptr<OpenFile>& file, OpenedFileInfo& info) {
  const win32::ChainUse use;
  file.reset();
  info = OpenedFileInfo{};
  if (win32::IsDevicePath(file_entry.path)) return IoResult::Fail(IoResult::kNotRegularFile);
  // Everything is checked on the object itself before anything about it changes.
  Placement placement;
  UniqueHandle examine;
  Examined examined;
  if (IoResult checked = OpenChecked(file_entry, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, 0,
                                     placement, examine, examined);
      !checked) {
    return checked;
  }
  if (examined.kind != EntryKind::kFile) return IoResult::Fail(IoResult::kNotRegularFile);
  if (examined.link_count > 1) return IoResult::Fail(IoResult::kHardLinked);
  if (IoResult cleared = ClearInTheWay(examine.get(), examined.attributes); !cleared) {
    return cleared;
  }
  const bool cleared = (examined.attributes & kInTheWay) != 0;
  // Buffered on purpose: each pass is forced to the device by Flush. Unbuffered writes would
  // demand sector-sized blocks, and the last block of a pass is the file's odd remainder.
  UniqueHandle writer;
  // Others may only read (the read-back reopens it through ReOpenFile, which needs that).
  if (IoResult opened = win32::OpenPlaced(placement, GENERIC_WRITE | FILE_READ_ATTRIBUTES,
                                          FILE_SHARE_READ, FILE_NON_DIRECTORY_FILE, writer);
      !opened) {
    // Not overwritten (another program holds it, say): it keeps what it had.
    if (cleared) SetAttributes(examine.get(), examined.attributes);
    return opened;
  }
  // The name may have been given to another file between the two opens.
  Examined written;
  IoResult refused;
  if (IoResult looked = Examine(writer.get(), written); !looked) {
    refused = looked;
  } else if (!written.identity.Matches(examined.identity) || written.kind != EntryKind::kFile) {
    refused = IoResult::Fail(IoResult::kChangedEntry);
  }
  if (!refused) {
    if (cleared) SetAttributes(examine.get(), examined.attributes);
    return refused;
  }
  const DWORD attributes = written.attributes;
  info.size = written.size;
  info.link_count = written.link_count;
  info.stored_elsewhere = IsStoredElsewhere(writer.get(), attributes);
  // Only a sparse file can have holes: only then are its allocated ranges asked for.
  info.may_have_holes = (attributes & FILE_ATTRIBUTE_SPARSE_FILE) != 0;
  auto opened = std::make_unique<win32::Win32OpenFile>(writer.release());
  if (cleared) opened->RememberAttributes(examined.attributes);
  file = std::move(opened);
  return IoResult::Ok();
}

IoResult NativeFileSystem::OpenFolderForStamp(const EntryRef& folder_entry,
                                              std::unique_ptr<OpenFile>& folder) {
  const win32::ChainUse use;
  folder.reset();
  // Attribute access only: such a handle takes part in no sharing check, so it stands in the
  // way of nobody, not of the folder's own rename and removal either.
  Placement placement;
  UniqueHandle handle;
  Examined examined;
  IoResult checked = OpenChecked(folder_entry, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                                 FILE_DIRECTORY_FILE, placement, handle, examined);
  if (!checked) {
    if (checked.error == ERROR_DIRECTORY) return IoResult::Fail(IoResult::kNotRegularFile);
    return checked;
  }
  if (examined.kind != EntryKind::kFolder) return IoResult::Fail(IoResult::kNotRegularFile);
  if (IoResult cleared = ClearInTheWay(handle.get(), examined.attributes); !cleared) {
    return cleared;
  }
  folder = std::make_unique<win32::Win32OpenFile>(handle.release());
  return IoResult::Ok();
}

IoResult NativeFileSystem::CreateNewFile(TextView path, std::unique_ptr<OpenFile>& file,
                                         Caching caching) {
  file.reset();
  NULVANE_API_PATH(api, path);
  if (win32::IsDevicePath(api)) return IoResult::Fail(IoResult::kNotRegularFile);
  DWORD flags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN;
  if (caching == Caching::kUnbuffered) flags |= FILE_FLAG_NO_BUFFERING;
  const HANDLE handle =
      ::CreateFileW(Wide(api), GENERIC_WRITE, 0, nullptr, CREATE_NEW, flags, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return LastError();
  file = std::make_unique<win32::Win32OpenFile>(handle);
  return IoResult::Ok();
}

IoResult NativeFileSystem::RenameNoReplace(const EntryRef& from, TextView to,
                                           EntryIdentity& after) {
  const win32::ChainUse use;
  after = EntryIdentity{};
  std::size_t name_start = to.size();
  while (name_start > 0 && !win32::IsSeparator(to[name_start - 1])) --name_start;
  const TextView new_name = to.substr(name_start);
  if (new_name.empty() || new_name == u"." || new_name == u"..") {
    return FromError(ERROR_INVALID_NAME);
  }
  if (new_name.find(u'\0') != TextView::npos) return IoResult::Fail(IoResult::kInvalidName);
  Placement placement;
  UniqueHandle handle;
  Examined examined;
  if (IoResult checked =
          OpenChecked(from, DELETE | FILE_READ_ATTRIBUTES, 0, placement, handle, examined);
      !checked) {
    return checked;
  }
  if (placement.name.empty()) return FromError(ERROR_ACCESS_DENIED);  // the anchor itself
  // NtSetInformationFile takes the new name as it stands, relative to the folder's handle;
  // no conversion of a DOS path may strip a final dot or blank from it.
  std::vector<std::uint64_t> buffer(
      (sizeof(FILE_RENAME_INFO) + new_name.size() * sizeof(wchar_t)) / sizeof(std::uint64_t) + 1);
  auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  rename->ReplaceIfExists = FALSE;
  rename->RootDirectory = placement.folder;
  rename->FileNameLength = static_cast<DWORD>(new_name.size() * sizeof(wchar_t));
  std::copy(new_name.begin(), new_name.end(), reinterpret_cast<char16_t*>(rename->FileName));
  IO_STATUS_BLOCK io{};
  const NTSTATUS status = win32::Calls().set_information_file(
      handle.get(), &io, rename, static_cast<ULONG>(buffer.size() * sizeof(std::uint64_t)),
      FileRenameInformation);
  if (!NT_SUCCESS(status)) return win32::FromStatus(status);
  // Read from the handle that made the rename: what the object is now (on FAT a rename may
  // move it to another directory entry and so give it another id).
  EntryIdentity renamed;
  if (IoResult looked = win32::ReadIdentity(handle.get(), renamed); looked) after = renamed;
  return IoResult::Ok();
}

namespace {

// Removes the opened entry by its handle, after the checks, as itself (a link, not its target).
IoResult RemoveChecked(const EntryRef& entry, ULONG options, bool folder) {
  Placement placement;
  UniqueHandle handle;
  Examined examined;
  // Attribute access takes part in no sharing check: a read-only entry can be made deletable
  // where the system needs that.
  if (IoResult checked = OpenChecked(entry, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                                     options, placement, handle, examined);
      !checked) {
    return checked;
  }
  const bool is_folder = (examined.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  if (is_folder != folder) return FromError(folder ? ERROR_DIRECTORY : ERROR_ACCESS_DENIED);
  const IoResult marked = folder ? win32::MarkFolderForDeletion(handle.get(), examined.attributes)
                                 : win32::MarkForDeletion(handle.get(), examined.attributes);
  if (!marked) return marked;
  handle.reset();
  return IoResult::Ok();
}

}  // namespace

IoResult NativeFileSystem::DeleteFile(const EntryRef& entry) {
  const win32::ChainUse use;
  return RemoveChecked(entry, 0, false);
}

IoResult NativeFileSystem::RemoveFolder(const EntryRef& entry) {
  const win32::ChainUse use;
  return RemoveChecked(entry, 0, true);
}

IoResult NativeFileSystem::CreateFolder(TextView path) {
  NULVANE_API_PATH(api, path);
  if (!::CreateDirectoryW(Wide(api), nullptr)) return LastError();
  return IoResult::Ok();
}

IoResult NativeFileSystem::GetVolumeSpace(TextView path, VolumeSpace& space) {
  NULVANE_API_PATH(full, path);
  // The volume's own root, also where a volume is mounted in a folder of another one; the
  // root as the path reads when the system cannot say. A network path keeps its "\\".
  Text root;
  std::vector<wchar_t> buffer(std::max<std::size_t>(full.size() + 2, MAX_PATH + 1));
  if (::GetVolumePathNameW(Wide(full), buffer.data(), static_cast<DWORD>(buffer.size()))) {
    root = FromWide(buffer.data());
  } else {
    root = TextualRoot(full);
  }
  if (root.empty() || root.back() != u'\\') root.push_back(u'\\');
  DWORD sectors_per_cluster = 0, bytes_per_sector = 0, free_clusters = 0, total_clusters = 0;
  const BOOL have_geometry = ::GetDiskFreeSpaceW(
      Wide(root), &sectors_per_cluster, &bytes_per_sector, &free_clusters, &total_clusters);
  ULARGE_INTEGER available, total, total_free;
  if (::GetDiskFreeSpaceExW(Wide(root), &available, &total, &total_free)) {
    // What this user may still write (quotas included).
    space.free_bytes = available.QuadPart;
    space.total_bytes = total.QuadPart;
  } else if (have_geometry) {
    const std::uint64_t cluster = std::uint64_t{sectors_per_cluster} * bytes_per_sector;
    space.free_bytes = cluster * free_clusters;
    space.total_bytes = cluster * total_clusters;
  } else {
    return LastError();
  }
  space.sector_size = have_geometry && bytes_per_sector ? bytes_per_sector : 512;
  return IoResult::Ok();
}

Text NativeFileSystem::FullPath(TextView path) {
  if (path.empty() || path.find(u'\0') != TextView::npos || win32::IsDevicePath(path)) {
    return Text(path);
  }
  Text full = win32::ResolvedFullPath(path);
  if (full.empty()) return Text(path);
  return full;
}

void NativeFileSystem::ForgetOpenFolders() { win32::ForgetChain(); }

bool IsNotFound(IoResult result) {
  return result.error == ERROR_FILE_NOT_FOUND || result.error == ERROR_PATH_NOT_FOUND;
}

bool IsAlreadyExists(IoResult result) {
  return result.error == ERROR_FILE_EXISTS || result.error == ERROR_ALREADY_EXISTS;
}

FileSystem& SystemFileSystem() {
  static NativeFileSystem file_system;
  return file_system;
}

Text SystemErrorText(std::uint32_t error) {
  if (const char16_t* own = OwnErrorText(error)) return own;
  wchar_t* buffer = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  Text text;
  if (length != 0 && buffer) text = FromWide(buffer, length);
  if (buffer) ::LocalFree(buffer);
  while (!text.empty() && (text.back() == u'\r' || text.back() == u'\n' || text.back() == u' ')) {
    text.pop_back();
  }
  if (text.empty()) {
    wchar_t fallback[32];
    ::wsprintfW(fallback, L"Error %lu", static_cast<unsigned long>(error));
    text = FromWide(fallback);
  }
  return text;
}

bool LocalTimeToFileTime(int year, int month, int day, int hour, int minute, int second,
                         FileTime& out) {
  SYSTEMTIME local{};
  local.wYear = static_cast<WORD>(year);
  local.wMonth = static_cast<WORD>(month);
  local.wDay = static_cast<WORD>(day);
  local.wHour = static_cast<WORD>(hour);
  local.wMinute = static_cast<WORD>(minute);
  local.wSecond = static_cast<WORD>(second);
  FILETIME utc;
  // The time zone rules of that date, not of today (summer time must not shift a winter date).
  SYSTEMTIME utc_calendar;
  if (::TzSpecificLocalTimeToSystemTime(nullptr, &local, &utc_calendar)) {
    if (!::SystemTimeToFileTime(&utc_calendar, &utc)) return false;
  } else {
    FILETIME local_time;
    if (!::SystemTimeToFileTime(&local, &local_time)) return false;
    if (!::LocalFileTimeToFileTime(&local_time, &utc)) return false;
  }
  out = (static_cast<FileTime>(utc.dwHighDateTime) << 32) | utc.dwLowDateTime;
  return true;
}

}  // namespace nulvane::platform
