// NativeFileSystem: the operations on one entry below its anchor: inspection, open for
// overwrite, open a folder for its stamp, rename, removal. Every step is an NtCreateFile
// relative to the open folder that holds the entry, with FILE_OPEN_REPARSE_POINT: a symbolic
// link, junction or mount point is opened as itself and refused, never followed. Renames and
// removals go by the opened entry's handle, after its identity was checked.
#include <windows.h>
#include <winioctl.h>
#include <winternl.h>
// The interface has a method of this name; the Win32 function is always called as DeleteFileW.
#undef DeleteFile

#include <algorithm>
#include <utility>
#include <vector>

#include "platform/native_file_system.h"
#include "platform/win32/win32_calls.h"
#include "platform/win32/win32_folder_chain.h"
#include "platform/win32/win32_open_file.h"
#include "platform/win32/win32_path.h"
#include "platform/win32/win32_removal.h"
#include "platform/win32/win32_storage_probe.h"

namespace nulvane::platform {

using win32::Examine;
using win32::Examined;
using win32::FromError;
using win32::kShareAll;
using win32::Placement;
using win32::SetAttributes;
using win32::UniqueHandle;

namespace {

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
  if (IoResult placed = win32::FolderChain::ForThread().ReachParent(entry, placement); !placed)
    return placed;
  if (IoResult opened = win32::OpenPlaced(placement, access, kShareAll, options, handle); !opened) {
    return opened;
  }
  // Asked of the entry's own volume (not ExamineIn): under Wine a plain file may be a Unix link
  // to, or a mount of, a file on another file system, and nothing there is ever changed.
  if (IoResult looked = Examine(handle.get(), examined); !looked) return looked;
  return win32::CheckSame(entry, placement, examined);
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
  if (IoResult placed = win32::FolderChain::ForThread().ReachParent(entry, placement); !placed)
    return placed;
  UniqueHandle handle;
  if (IoResult opened = win32::OpenPlaced(placement, FILE_READ_ATTRIBUTES, kShareAll, 0, handle);
      !opened) {
    // A name no entry can have (a wildcard, say) names no entry.
    if (opened.error == ERROR_INVALID_NAME) return FromError(ERROR_FILE_NOT_FOUND);
    return opened;
  }
  Examined examined;
  if (IoResult looked = win32::ExamineIn(handle.get(), placement, examined); !looked) {
    return looked;
  }
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

}  // namespace nulvane::platform
