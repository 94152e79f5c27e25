// NativeFileSystem: the free-space fill's folder, made and held through handles.
//
// The chosen folder is opened once (as the user typed it; the folder itself must not be a
// link). The fill folder is created relative to that handle with NtCreateFile (FILE_CREATE,
// FILE_DIRECTORY_FILE, never through a reparse point): the handle that comes back is the folder
// just made, so no other folder can be put in its place between the creation and the open. It
// is held without FILE_SHARE_DELETE, so nobody can rename or remove it while the fill works.
// Every fill file is created relative to it with FILE_DELETE_ON_CLOSE: the system removes it
// when its handle closes, also when the process is ended.
#include <windows.h>
#include <winioctl.h>
#include <winternl.h>

#include <vector>

#include "platform/native_file_system.h"
#include "platform/win32/wide.h"
#include "platform/win32/win32_calls.h"
#include "platform/win32/win32_handles.h"
#include "platform/win32/win32_open_file.h"
#include "platform/win32/win32_path.h"
#include "platform/win32/win32_removal.h"

namespace nulvane::platform {

using win32::Examine;
using win32::Examined;
using win32::FromError;
using win32::LastError;
using win32::UniqueHandle;

namespace {

// FILE_FS_FULL_SIZE_INFORMATION (FileFsFullSizeInformation, class 7), by its documented layout.
struct FullSizeInformation {
  LARGE_INTEGER total_units;
  LARGE_INTEGER caller_available_units;
  LARGE_INTEGER actual_available_units;
  ULONG sectors_per_unit;
  ULONG bytes_per_sector;
};
constexpr int kFileFsFullSizeInformation = 7;

using QueryVolumeInformation = LONG(NTAPI*)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, int);

// The path the system gives for an open folder, in the form a user reads.
Text FinalPathOf(HANDLE handle, TextView fallback) {
  constexpr DWORD kFlags = FILE_NAME_NORMALIZED | VOLUME_NAME_DOS;
  std::vector<wchar_t> buffer(MAX_PATH + 1);
  DWORD length =
      ::GetFinalPathNameByHandleW(handle, buffer.data(), static_cast<DWORD>(buffer.size()), kFlags);
  if (length >= buffer.size()) {
    buffer.resize(length + 1);
    length = ::GetFinalPathNameByHandleW(handle, buffer.data(), static_cast<DWORD>(buffer.size()),
                                         kFlags);
  }
  // A volume without a drive letter has no such name: the text's own meaning is all there is.
  if (length == 0 || length >= buffer.size()) return Text(fallback);
  Text path = FromWide(buffer.data(), length);
  return path.size() < 240 ? win32::ClassicPath(path) : path;
}

class Win32FillFolder final : public FillFolder {
 public:
  Win32FillFolder(UniqueHandle chosen, UniqueHandle folder, Text path, Text chosen_path)
      : chosen_(std::move(chosen)),
        folder_(std::move(folder)),
        path_(std::move(path)),
        chosen_path_(std::move(chosen_path)) {}

  const Text& Path() const override { return path_; }
  const Text& ChosenPath() const override { return chosen_path_; }

  IoResult MakeFile(TextView name, Caching caching, std::unique_ptr<OpenFile>& file,
                    bool& named) override {
    file.reset();
    named = false;
    if (!folder_.valid()) return FromError(ERROR_INVALID_HANDLE);
    ULONG options = FILE_NON_DIRECTORY_FILE | FILE_SEQUENTIAL_ONLY | FILE_DELETE_ON_CLOSE;
    if (caching == Caching::kUnbuffered) options |= FILE_NO_INTERMEDIATE_BUFFERING;
    UniqueHandle handle;
    if (IoResult created = win32::CreateRelative(folder_.get(), name, GENERIC_WRITE | DELETE, 0,
                                                 FILE_CREATE, options, handle);
        !created) {
      return created;
    }
    file = std::make_unique<win32::Win32OpenFile>(handle.release());
    return IoResult::Ok();
  }

  IoResult RemoveFile(TextView name) override {
    UniqueHandle handle;
    if (IoResult opened = win32::OpenRelative(folder_.get(), name, DELETE, win32::kShareAll,
                                              FILE_NON_DIRECTORY_FILE, handle);
        !opened) {
      return opened;
    }
    return win32::MarkForDeletion(handle.get(), 0);
  }

  IoResult GetSpace(VolumeSpace& space) override {
    if (!folder_.valid()) return FromError(ERROR_INVALID_HANDLE);
    static const auto query = reinterpret_cast<QueryVolumeInformation>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQueryVolumeInformationFile")));
    FullSizeInformation info{};
    IO_STATUS_BLOCK io{};
    if (query &&
        NT_SUCCESS(query(folder_.get(), &io, &info, sizeof info, kFileFsFullSizeInformation))) {
      const std::uint64_t unit = std::uint64_t{info.sectors_per_unit} * info.bytes_per_sector;
      // What this user may still write (quotas included).
      space.free_bytes = static_cast<std::uint64_t>(info.caller_available_units.QuadPart) * unit;
      space.total_bytes = static_cast<std::uint64_t>(info.total_units.QuadPart) * unit;
      space.sector_size = info.bytes_per_sector ? info.bytes_per_sector : 512;
      return IoResult::Ok();
    }
    // Asked by the folder's path where the system cannot answer for the handle.
    NativeFileSystem native;
    return native.GetVolumeSpace(path_, space);
  }

  IoResult Remove() override {
    if (!folder_.valid()) return FromError(ERROR_INVALID_HANDLE);
    // Held without delete sharing since it was made: the handle is the folder under the name.
    // A fill file another program (a virus scanner) still holds is pending deletion until it
    // lets go: the folder waits for that a little.
    if (IoResult marked = win32::MarkFolderForDeletion(folder_.get(), 0); !marked) return marked;
    folder_.reset();
    return IoResult::Ok();
  }

  IoResult ListChosen(const std::function<void(TextView name, EntryKind kind)>& visit) override {
    std::vector<std::uint64_t> buffer(64 * 1024 / sizeof(std::uint64_t));
    for (FILE_INFO_BY_HANDLE_CLASS kind = FileIdBothDirectoryRestartInfo;;
         kind = FileIdBothDirectoryInfo) {
      if (!::GetFileInformationByHandleEx(chosen_.get(), kind, buffer.data(),
                                          static_cast<DWORD>(buffer.size() * sizeof buffer[0]))) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_NO_MORE_FILES) break;
        return FromError(error);
      }
      const auto* bytes = reinterpret_cast<const unsigned char*>(buffer.data());
      for (std::size_t offset = 0;;) {
        const auto* entry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(bytes + offset);
        const Text name = FromWide(entry->FileName, entry->FileNameLength / sizeof(wchar_t));
        const DWORD attributes = entry->FileAttributes;
        EntryKind kind_of = EntryKind::kFile;
        if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
          kind_of = EntryKind::kLink;
        } else if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
          kind_of = EntryKind::kFolder;
        }
        if (name != u"." && name != u"..") visit(name, kind_of);
        if (entry->NextEntryOffset == 0) break;
        offset += entry->NextEntryOffset;
      }
    }
    return IoResult::Ok();
  }

 private:
  UniqueHandle chosen_;
  UniqueHandle folder_;
  Text path_;
  Text chosen_path_;
};

}  // namespace

IoResult NativeFileSystem::MakeFillFolder(TextView chosen, TextView name,
                                          std::unique_ptr<FillFolder>& folder) {
  folder.reset();
  if (chosen.empty() || chosen.find(u'\0') != TextView::npos || win32::IsDevicePath(chosen)) {
    return IoResult::Fail(IoResult::kInvalidName);
  }
  const Text api = win32::ExtendedPath(win32::ResolvedFullPath(chosen));
  if (api.empty()) return FromError(ERROR_PATH_NOT_FOUND);
  // The folders on the way as typed; the chosen folder itself opened as itself, not followed.
  UniqueHandle chosen_handle(::CreateFileW(
      Wide(api), FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
      win32::kShareAll, nullptr, OPEN_EXISTING,
      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!chosen_handle.valid()) return LastError();
  Examined chosen_examined;
  if (IoResult looked = Examine(chosen_handle.get(), chosen_examined); !looked) return looked;
  // A mount point opened as itself is the empty folder it stands in, not the volume it names.
  if (chosen_examined.kind != EntryKind::kFolder || chosen_examined.mount_point) {
    return IoResult::Fail(IoResult::kNotRegularFile);
  }

  UniqueHandle made;
  if (IoResult created = win32::CreateRelative(
          chosen_handle.get(), name,
          FILE_LIST_DIRECTORY | FILE_ADD_FILE | FILE_TRAVERSE | FILE_READ_ATTRIBUTES |
              FILE_WRITE_ATTRIBUTES | DELETE,
          FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_CREATE, FILE_DIRECTORY_FILE, made);
      !created) {
    return created;
  }
  Examined examined;
  IoResult checked = Examine(made.get(), examined);
  if (checked && (examined.kind != EntryKind::kFolder ||
                  examined.identity.volume != chosen_examined.identity.volume)) {
    checked = IoResult::Fail(IoResult::kOtherVolume);
  }
  if (!checked) {
    // Not what it should be: taken back through the handle that made it.
    win32::MarkForDeletion(made.get(), 0);
    return checked;
  }
  // Files created in the folder inherit its state: plain storage, so that the fill's zeros
  // really take up the free space they are meant to cover. Volumes that do not compress have
  // nothing to turn off.
  USHORT format = COMPRESSION_FORMAT_NONE;
  DWORD returned = 0;
  ::DeviceIoControl(made.get(), FSCTL_SET_COMPRESSION, &format, sizeof format, nullptr, 0,
                    &returned, nullptr);
  Text chosen_path = FinalPathOf(chosen_handle.get(), chosen);
  Text path = chosen_path;
  if (path.empty() || !win32::IsSeparator(path.back())) path.push_back(u'\\');
  path += name;
  folder = std::make_unique<Win32FillFolder>(std::move(chosen_handle), std::move(made),
                                             std::move(path), std::move(chosen_path));
  return IoResult::Ok();
}

}  // namespace nulvane::platform
