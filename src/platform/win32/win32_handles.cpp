#include "platform/win32/win32_handles.h"

#include <winioctl.h>
#include <winternl.h>

#include <cstddef>
#include <cstring>
#include <vector>

#include "platform/win32/wide.h"
#include "platform/win32/win32_calls.h"
#include "platform/win32/win32_path.h"

namespace nulvane::platform::win32 {

namespace {

constexpr ULONG kOpenOptions =
    FILE_OPEN_REPARSE_POINT | FILE_OPEN_FOR_BACKUP_INTENT | FILE_SYNCHRONOUS_IO_NONALERT;

}  // namespace

IoResult FromError(DWORD error) {
  switch (error) {
    case ERROR_SUCCESS:
      return IoResult::Fail(IoResult::kGenericFailure);
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
    case 1295:  // ERROR_DISK_QUOTA_EXCEEDED: the caller's share of the volume is used up
      return IoResult::Fail(IoResult::kDiskFull);
    case ERROR_FILE_TOO_LARGE:
      return IoResult::Fail(IoResult::kFileTooLarge);
    case ERROR_FILENAME_EXCED_RANGE:
      return IoResult::Fail(IoResult::kPathTooLong);
    default:
      return IoResult::Fail(static_cast<std::uint32_t>(error));
  }
}

IoResult LastError() { return FromError(::GetLastError()); }

IoResult FromStatus(long status) {
  return FromError(::RtlNtStatusToDosError(static_cast<NTSTATUS>(status)));
}

namespace {

// FILE_ID_INFO (FileIdInfo, class 18 of FILE_INFO_BY_HANDLE_CLASS), by its documented layout:
// the volume's serial number and the file's 128-bit id. Headers for older systems lack both.
struct FileIdInformation {
  ULONGLONG volume_serial_number;
  BYTE file_id[16];
};
constexpr auto kFileIdInfo = static_cast<FILE_INFO_BY_HANDLE_CLASS>(18);

// REPARSE_DATA_BUFFER for IO_REPARSE_TAG_MOUNT_POINT, by its documented layout (the driver
// kit's header declares it, the application headers do not).
struct MountPointReparseData {
  ULONG reparse_tag;
  USHORT reparse_data_length;
  USHORT reserved;
  USHORT substitute_name_offset;  // bytes into path_buffer
  USHORT substitute_name_length;  // bytes
  USHORT print_name_offset;
  USHORT print_name_length;
  WCHAR path_buffer[1];
};
constexpr std::size_t kMaximumReparseDataSize = 16 * 1024;  // MAXIMUM_REPARSE_DATA_BUFFER_SIZE

// What the volume's file ids are, by its file system's name: positions on FAT, FAT32 and
// exFAT, so that a rename can move an entry's id and a new entry can take an old one's. A
// volume that does not say what it is gets the stricter identity (positions, full ids).
VolumeIds IdsOf(HANDLE handle) {
  wchar_t name[MAX_PATH + 1] = {};
  if (!Calls().get_volume_information(handle, nullptr, 0, nullptr, nullptr, nullptr, name,
                                      MAX_PATH + 1)) {
    return VolumeIds::kPositions;
  }
  if (::lstrcmpiW(name, L"FAT") == 0 || ::lstrcmpiW(name, L"FAT32") == 0 ||
      ::lstrcmpiW(name, L"exFAT") == 0) {
    return VolumeIds::kPositions;
  }
  return ::lstrcmpiW(name, L"NTFS") == 0 ? VolumeIds::kIndex : VolumeIds::kFull;
}

void IdentityFromInformation(HANDLE handle, const BY_HANDLE_FILE_INFORMATION& info, VolumeIds ids,
                             EntryIdentity& identity) {
  identity = EntryIdentity{};
  identity.volume = info.dwVolumeSerialNumber;
  const std::uint64_t index =
      (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  FileIdInformation id{};
  if ((ids != VolumeIds::kIndex || !IsWholeIndex(index)) &&
      Calls().get_file_information_ex(handle, kFileIdInfo, &id, sizeof id)) {
    std::memcpy(&identity.object, id.file_id, sizeof identity.object);
    std::memcpy(&identity.object_high, id.file_id + 8, sizeof identity.object_high);
  } else {
    // NTFS, systems before Windows 8 and volumes that refuse the class: the 64-bit file index,
    // which is the whole id there (NTFS: the record number with its reuse count in the top
    // bits; its 128-bit id is the same number, zero-extended).
    identity.object = index;
  }
  identity.stamp_kind = IdentityStamp::kNone;
  if (ids == VolumeIds::kPositions) {
    identity.stamp = (static_cast<std::uint64_t>(info.ftCreationTime.dwHighDateTime) << 32) |
                     info.ftCreationTime.dwLowDateTime;
    identity.stamp_kind = IdentityStamp::kCreationTime;
  }
  identity.known = true;
}

}  // namespace

bool IsWholeIndex(std::uint64_t index) { return index != 0 && index != ~std::uint64_t{0}; }

IoResult ReadIdentity(HANDLE handle, EntryIdentity& identity) {
  identity = EntryIdentity{};
  BY_HANDLE_FILE_INFORMATION info;
  if (!Calls().get_file_information(handle, &info)) return LastError();
  IdentityFromInformation(handle, info, IdsOf(handle), identity);
  return IoResult::Ok();
}

bool IsVolumeMountPoint(HANDLE handle) {
  std::vector<std::uint64_t> buffer(kMaximumReparseDataSize / sizeof(std::uint64_t));
  DWORD returned = 0;
  if (!Calls().device_io_control(handle, FSCTL_GET_REPARSE_POINT, nullptr, 0, buffer.data(),
                                 static_cast<DWORD>(buffer.size() * sizeof buffer[0]), &returned,
                                 nullptr)) {
    return true;
  }
  const auto* data = reinterpret_cast<const MountPointReparseData*>(buffer.data());
  constexpr std::size_t kHeader = offsetof(MountPointReparseData, path_buffer);
  if (returned < kHeader || data->reparse_tag != IO_REPARSE_TAG_MOUNT_POINT) return true;
  const std::size_t offset = data->substitute_name_offset;
  const std::size_t length = data->substitute_name_length;
  if (kHeader + offset + length > returned) return true;
  const auto* name = reinterpret_cast<const char16_t*>(
      reinterpret_cast<const unsigned char*>(data->path_buffer) + offset);
  // \??\Volume{GUID}\ names a volume; a junction names a folder (\??\C:\...).
  constexpr TextView kVolumePrefix = u"\\??\\volume{";
  if (length / sizeof(char16_t) < kVolumePrefix.size()) return false;
  for (std::size_t i = 0; i < kVolumePrefix.size(); ++i) {
    char16_t c = name[i];
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    if (c != kVolumePrefix[i]) return false;
  }
  return true;
}

IoResult Examine(HANDLE handle, Examined& out) {
  out = Examined{};
  BY_HANDLE_FILE_INFORMATION info;
  if (!Calls().get_file_information(handle, &info)) return LastError();
  out.attributes = info.dwFileAttributes;
  if (out.attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    FILE_ATTRIBUTE_TAG_INFO tag{};
    // A reparse point whose tag cannot be read counts as a link: it is never written through.
    out.reparse_tag =
        Calls().get_file_information_ex(handle, FileAttributeTagInfo, &tag, sizeof tag)
            ? tag.ReparseTag
            : IO_REPARSE_TAG_SYMLINK;
  }
  out.size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  out.link_count = info.nNumberOfLinks;
  out.ids = IdsOf(handle);
  IdentityFromInformation(handle, info, out.ids, out.identity);
  out.kind = KindOf(out.attributes, out.reparse_tag);
  if (out.kind == EntryKind::kLink && out.reparse_tag == IO_REPARSE_TAG_MOUNT_POINT &&
      IsVolumeMountPoint(handle)) {
    out.kind = EntryKind::kFolder;
    out.mount_point = true;
  }
  out.disk = ::GetFileType(handle) == FILE_TYPE_DISK;
  if (!out.disk) out.kind = EntryKind::kOther;
  return IoResult::Ok();
}

IoResult ExamineIn(HANDLE handle, const Placement& placement, Examined& out) {
  out = Examined{};
  if (placement.name.empty() || placement.folder_ids != VolumeIds::kIndex) {
    return Examine(handle, out);
  }
  // Whatever the quick reads cannot settle is asked of the entry itself: a folder may be
  // another volume mounted there (Wine shows a Unix mount so), a reparse point may be a mount
  // point, an index of 0 or all ones is no id (a file system without ids, or one it cannot
  // give), and a file system may refuse one of these classes.
  FILE_ATTRIBUTE_TAG_INFO tag{};
  FILE_STANDARD_INFO standard{};
  FILE_INTERNAL_INFORMATION internal{};
  IO_STATUS_BLOCK io{};
  if (!Calls().get_file_information_ex(handle, FileAttributeTagInfo, &tag, sizeof tag) ||
      (tag.FileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0 ||
      !Calls().get_file_information_ex(handle, FileStandardInfo, &standard, sizeof standard) ||
      !NT_SUCCESS(Calls().query_information_file(handle, &io, &internal, sizeof internal,
                                                 FileInternalInformation)) ||
      !IsWholeIndex(static_cast<std::uint64_t>(internal.IndexNumber.QuadPart))) {
    return Examine(handle, out);
  }
  out.attributes = tag.FileAttributes;
  out.size = static_cast<std::uint64_t>(standard.EndOfFile.QuadPart);
  out.link_count = standard.NumberOfLinks;
  out.ids = VolumeIds::kIndex;
  out.identity.volume = placement.folder_volume;
  out.identity.object = static_cast<std::uint64_t>(internal.IndexNumber.QuadPart);
  out.identity.stamp_kind = IdentityStamp::kNone;
  out.identity.known = true;
  out.kind = KindOf(out.attributes, 0);
  out.disk = ::GetFileType(handle) == FILE_TYPE_DISK;
  if (!out.disk) out.kind = EntryKind::kOther;
  return IoResult::Ok();
}

IoResult OpenRelative(HANDLE folder, TextView name, ACCESS_MASK access, ULONG share, ULONG options,
                      UniqueHandle& out) {
  return CreateRelative(folder, name, access, share, FILE_OPEN, options, out);
}

IoResult CreateRelative(HANDLE folder, TextView name, ACCESS_MASK access, ULONG share,
                        ULONG disposition, ULONG options, UniqueHandle& out) {
  out.reset();
  if (name.empty()) return FromError(ERROR_INVALID_NAME);
  if (name.size() > 32767) return IoResult::Fail(IoResult::kPathTooLong);
  Text copy(name);
  UNICODE_STRING object_name;
  object_name.Buffer = Wide(copy);
  object_name.Length = static_cast<USHORT>(copy.size() * sizeof(wchar_t));
  object_name.MaximumLength = object_name.Length;
  OBJECT_ATTRIBUTES attributes;
  // Case-insensitive, as every Win32 open. A folder that distinguishes case matches the name
  // only as the system spells it, which is the form the item list hands over.
  InitializeObjectAttributes(&attributes, &object_name, OBJ_CASE_INSENSITIVE, folder, nullptr);
  IO_STATUS_BLOCK io{};
  HANDLE handle = nullptr;
  const NTSTATUS status = Calls().create_file(&handle, access | SYNCHRONIZE, &attributes, &io,
                                              nullptr, FILE_ATTRIBUTE_NORMAL, share, disposition,
                                              options | kOpenOptions, nullptr, 0);
  if (!NT_SUCCESS(status)) return FromStatus(status);
  out.reset(handle);
  return IoResult::Ok();
}

IoResult OpenPlaced(const Placement& placement, ACCESS_MASK access, ULONG share, ULONG options,
                    UniqueHandle& out) {
  if (!placement.name.empty()) {
    return OpenRelative(placement.folder, placement.name, access, share, options, out);
  }
  DWORD flags = FILE_FLAG_BACKUP_SEMANTICS;
  if (options & FILE_NON_DIRECTORY_FILE) flags = 0;
  out.reset(::CreateFileW(Wide(placement.anchor_path), access, share, nullptr, OPEN_EXISTING, flags,
                          nullptr));
  if (!out.valid()) return LastError();
  return IoResult::Ok();
}

IoResult CheckSame(const EntryRef& entry, const Placement& placement, const Examined& examined) {
  // Another volume first, so that the line says so: under Wine a Unix link to a file of another
  // file system is recorded with its folder's volume by the list's quick look, and is refused
  // here as what it is.
  if (!placement.name.empty() && examined.identity.volume != placement.folder_volume) {
    return IoResult::Fail(IoResult::kOtherVolume);
  }
  if (!entry.Admits(examined.identity)) return IoResult::Fail(IoResult::kChangedEntry);
  if (examined.mount_point) return IoResult::Fail(IoResult::kOtherVolume);
  return IoResult::Ok();
}

Text ResolvedFullPath(TextView path) {
  if (path.empty() || path.find(u'\0') != TextView::npos || IsDevicePath(path)) return Text();
  const Text absolute = AbsolutePath(path);
  Text root;
  std::vector<TextView> components;
  if (!SplitAbsolute(absolute, root, components)) return Text();
  std::size_t last_up = components.size();
  for (std::size_t i = 0; i < components.size(); ++i) {
    if (components[i] == u"..") last_up = i;
  }
  Text current = root;
  auto append = [&current](TextView component) {
    if (!IsSeparator(current.back())) current.push_back(u'\\');
    current.append(component);
  };
  if (last_up == components.size()) {
    for (const TextView component : components) append(component);
    return current;
  }
  const bool classic = ClassicPath(root) == root;
  for (std::size_t i = 0; i <= last_up; ++i) {
    if (components[i] != u"..") {
      append(components[i]);
      continue;
    }
    // The parent of the real folder the text names so far, as the system resolves it.
    UniqueHandle folder(::CreateFileW(Wide(ExtendedPath(current)), FILE_READ_ATTRIBUTES, kShareAll,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!folder.valid()) return Text();
    std::vector<wchar_t> buffer(MAX_PATH);
    DWORD length = 0;
    for (;;) {
      length = ::GetFinalPathNameByHandleW(folder.get(), buffer.data(),
                                           static_cast<DWORD>(buffer.size()), VOLUME_NAME_DOS);
      if (length == 0) return Text();
      if (length < buffer.size()) break;
      buffer.resize(length + 1);
    }
    Text real = NormalPath(FromWide(buffer.data(), length));
    if (classic) real = ClassicPath(real);
    Text real_root;
    std::vector<TextView> real_components;
    if (!SplitAbsolute(real, real_root, real_components)) return Text();
    current = real_root;
    if (!real_components.empty()) real_components.pop_back();
    for (const TextView component : real_components) append(component);
  }
  for (std::size_t i = last_up + 1; i < components.size(); ++i) append(components[i]);
  return current;
}

}  // namespace nulvane::platform::win32
