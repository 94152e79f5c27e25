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
#include <utility>
#include <vector>

#include "platform/native_file_system.h"
#include "platform/win32/wide.h"
#include "platform/win32/win32_handles.h"
#include "platform/win32/win32_path.h"
#include "platform/win32/win32_storage_probe.h"

namespace nulvane::platform {

using win32::Examine;
using win32::Examined;
using win32::FromError;
using win32::kShareAll;
using win32::LastError;
using win32::Placement;
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
  FILE_BASIC_INFO basic{};  // zero times: leave them as they are
  basic.FileAttributes = attributes & ~kInTheWay;
  if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
  if (!::SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof basic)) {
    return LastError();
  }
  return IoResult::Ok();
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

// Memory from VirtualAlloc: aligned to the allocation granularity (64 KiB), which suits every
// sector size an unbuffered transfer demands. Move-only owner.
class AlignedBlock {
 public:
  AlignedBlock() = default;
  explicit AlignedBlock(std::size_t size)
      : data_(static_cast<unsigned char*>(
            ::VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE))),
        size_(data_ ? size : 0) {}
  AlignedBlock(const AlignedBlock&) = delete;
  AlignedBlock& operator=(const AlignedBlock&) = delete;
  AlignedBlock& operator=(AlignedBlock&& other) noexcept {
    std::swap(data_, other.data_);
    std::swap(size_, other.size_);
    return *this;
  }
  ~AlignedBlock() {
    if (data_) ::VirtualFree(data_, 0, MEM_RELEASE);
  }
  unsigned char* data() const { return data_; }
  std::size_t size() const { return size_; }

 private:
  unsigned char* data_ = nullptr;
  std::size_t size_ = 0;
};

// Reads one file from its start through a handle of its own, unbuffered where the system
// allowed it, into an aligned buffer of whole sectors.
class Win32UncachedReader final : public UncachedReader {
 public:
  static constexpr DWORD kChunk = 1024 * 1024;

  Win32UncachedReader(HANDLE handle, bool unbuffered) : handle_(handle) { uncached = unbuffered; }
  Win32UncachedReader(const Win32UncachedReader&) = delete;
  Win32UncachedReader& operator=(const Win32UncachedReader&) = delete;
  ~Win32UncachedReader() override { ::CloseHandle(handle_); }

  IoResult ReadNext(const unsigned char*& data, std::size_t& size) override {
    data = nullptr;
    size = 0;
    if (!buffer_.data()) buffer_ = AlignedBlock(kChunk);
    if (!buffer_.data()) return FromError(ERROR_NOT_ENOUGH_MEMORY);
    DWORD done = 0;
    if (!::ReadFile(handle_, buffer_.data(), kChunk, &done, nullptr)) {
      const DWORD error = ::GetLastError();
      if (error != ERROR_HANDLE_EOF) return FromError(error);
      done = 0;
    }
    data = buffer_.data();
    size = done;
    return IoResult::Ok();
  }

 private:
  HANDLE handle_;
  AlignedBlock buffer_;
};

// Owns one handle; INVALID_HANDLE_VALUE is empty. Close reports, the destructor closes silently.
class Win32OpenFile final : public OpenFile {
 public:
  explicit Win32OpenFile(HANDLE handle) : handle_(handle) {}
  Win32OpenFile(const Win32OpenFile&) = delete;
  Win32OpenFile& operator=(const Win32OpenFile&) = delete;
  ~Win32OpenFile() override {
    if (handle_ != INVALID_HANDLE_VALUE) ::CloseHandle(handle_);
  }

  IoResult Write(const void* data, std::size_t size, std::size_t& written) override {
    written = 0;
    if (handle_ == INVALID_HANDLE_VALUE) return FromError(ERROR_INVALID_HANDLE);
    const DWORD chunk = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
    DWORD done = 0;
    const BOOL ok = ::WriteFile(handle_, data, chunk, &done, nullptr);
    written = done;
    if (!ok) return LastError();
    return IoResult::Ok();
  }

  // One WriteFile for all `count` blocks: they are copied one after the other into an aligned
  // buffer that the handle keeps for its next requests, so that an unbuffered handle gets
  // whole sectors from an aligned address in a single request.
  IoResult WriteRepeated(const void* block, std::size_t block_size, std::size_t count,
                         std::size_t& written) override {
    written = 0;
    if (handle_ == INVALID_HANDLE_VALUE) return FromError(ERROR_INVALID_HANDLE);
    constexpr std::size_t kMaxRequest = 16u << 20;
    if (count <= 1 || block_size == 0 || block_size > kMaxRequest / count) {
      return OpenFile::WriteRepeated(block, block_size, count, written);
    }
    const std::size_t total = block_size * count;
    if (scratch_.size() < total) {
      scratch_ = AlignedBlock(total);
      if (!scratch_.data()) return OpenFile::WriteRepeated(block, block_size, count, written);
    }
    for (std::size_t i = 0; i < count; ++i) {
      std::memcpy(scratch_.data() + i * block_size, block, block_size);
    }
    DWORD done = 0;
    const BOOL ok =
        ::WriteFile(handle_, scratch_.data(), static_cast<DWORD>(total), &done, nullptr);
    written = done;
    if (!ok) return LastError();
    return IoResult::Ok();
  }

  IoResult CurrentSize(std::uint64_t& size) override {
    size = 0;
    if (handle_ == INVALID_HANDLE_VALUE) return FromError(ERROR_INVALID_HANDLE);
    LARGE_INTEGER value;
    if (!::GetFileSizeEx(handle_, &value)) return LastError();
    size = static_cast<std::uint64_t>(value.QuadPart);
    return IoResult::Ok();
  }

  // A second handle to the object this one holds (no path is looked at again), unbuffered so
  // that the read comes from the device; where the system refuses that, through the cache.
  IoResult OpenUncachedReader(std::unique_ptr<UncachedReader>& reader) override {
    reader.reset();
    if (handle_ == INVALID_HANDLE_VALUE) return FromError(ERROR_INVALID_HANDLE);
    constexpr DWORD kShare = FILE_SHARE_READ | FILE_SHARE_WRITE;
    bool unbuffered = true;
    HANDLE handle = ::ReOpenFile(handle_, GENERIC_READ, kShare,
                                 FILE_FLAG_NO_BUFFERING | FILE_FLAG_SEQUENTIAL_SCAN);
    if (handle == INVALID_HANDLE_VALUE) {
      const DWORD error = ::GetLastError();
      if (error != ERROR_INVALID_PARAMETER && error != ERROR_NOT_SUPPORTED) return FromError(error);
      unbuffered = false;
      handle = ::ReOpenFile(handle_, GENERIC_READ, kShare, FILE_FLAG_SEQUENTIAL_SCAN);
      if (handle == INVALID_HANDLE_VALUE) return LastError();
    }
    reader = std::make_unique<Win32UncachedReader>(handle, unbuffered);
    return IoResult::Ok();
  }

  IoResult Flush() override {
    if (handle_ == INVALID_HANDLE_VALUE) return FromError(ERROR_INVALID_HANDLE);
    if (!::FlushFileBuffers(handle_)) return LastError();
    return IoResult::Ok();
  }

  IoResult SetTimes(FileTime time) override {
    if (handle_ == INVALID_HANDLE_VALUE) return FromError(ERROR_INVALID_HANDLE);
    FILETIME value;
    value.dwLowDateTime = static_cast<DWORD>(time & 0xFFFFFFFFu);
    value.dwHighDateTime = static_cast<DWORD>(time >> 32);
    if (!::SetFileTime(handle_, &value, &value, &value)) return LastError();
    return IoResult::Ok();
  }

  IoResult Close() override {
    if (handle_ == INVALID_HANDLE_VALUE) return FromError(ERROR_INVALID_HANDLE);
    const HANDLE handle = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    if (!::CloseHandle(handle)) return LastError();
    return IoResult::Ok();
  }

 private:
  HANDLE handle_;
  AlignedBlock scratch_;  // WriteRepeated's request, kept for the next one
};

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
  info.other_volume =
      !placement.name.empty() && examined.identity.volume != placement.folder_volume;
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
  // Buffered on purpose: each pass is forced to the device by Flush. Unbuffered writes would
  // demand sector-sized blocks, and the last block of a pass is the file's odd remainder.
  UniqueHandle writer;
  // Others may only read (the read-back reopens it through ReOpenFile, which needs that).
  if (IoResult opened = win32::OpenPlaced(placement, GENERIC_WRITE | FILE_READ_ATTRIBUTES,
                                          FILE_SHARE_READ, FILE_NON_DIRECTORY_FILE, writer);
      !opened) {
    return opened;
  }
  // The name may have been given to another file between the two opens.
  Examined written;
  if (IoResult looked = Examine(writer.get(), written); !looked) return looked;
  if (!(written.identity == examined.identity) || written.kind != EntryKind::kFile) {
    return IoResult::Fail(IoResult::kChangedEntry);
  }
  const DWORD attributes = written.attributes;
  info.size = written.size;
  info.link_count = written.link_count;
  info.stored_elsewhere = IsStoredElsewhere(writer.get(), attributes);
  file = std::make_unique<Win32OpenFile>(writer.release());
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
  folder = std::make_unique<Win32OpenFile>(handle.release());
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
  file = std::make_unique<Win32OpenFile>(handle);
  return IoResult::Ok();
}

IoResult NativeFileSystem::RenameNoReplace(const EntryRef& from, TextView to) {
  const win32::ChainUse use;
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
  const NTSTATUS status = ::NtSetInformationFile(
      handle.get(), &io, rename, static_cast<ULONG>(buffer.size() * sizeof(std::uint64_t)),
      FileRenameInformation);
  if (!NT_SUCCESS(status)) return win32::FromStatus(status);
  return IoResult::Ok();
}

namespace {

// Removes the opened entry by its handle, after the checks, as itself (a link, not its target).
IoResult RemoveChecked(const EntryRef& entry, ULONG options, bool folder) {
  Placement placement;
  UniqueHandle handle;
  Examined examined;
  if (IoResult checked =
          OpenChecked(entry, DELETE | FILE_READ_ATTRIBUTES, options, placement, handle, examined);
      !checked) {
    return checked;
  }
  const bool is_folder = (examined.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  if (is_folder != folder) return FromError(folder ? ERROR_DIRECTORY : ERROR_ACCESS_DENIED);
  FILE_DISPOSITION_INFO disposition{};
  disposition.DeleteFileW = TRUE;  // the field's name, turned by the DeleteFile macro
  if (!::SetFileInformationByHandle(handle.get(), FileDispositionInfo, &disposition,
                                    sizeof disposition)) {
    return LastError();
  }
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

IoResult NativeFileSystem::PrepareFillFolder(TextView folder) {
  NULVANE_API_PATH(api, folder);
  const HANDLE handle = ::CreateFileW(
      Wide(api), FILE_READ_DATA | FILE_WRITE_DATA | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return LastError();
  Win32OpenFile owner(handle);
  // Files created in the folder inherit its state: plain storage, so that the fill's zeros
  // really take up the free space they are meant to cover.
  USHORT format = COMPRESSION_FORMAT_NONE;
  DWORD returned = 0;
  if (!::DeviceIoControl(handle, FSCTL_SET_COMPRESSION, &format, sizeof format, nullptr, 0,
                         &returned, nullptr)) {
    const DWORD error = ::GetLastError();
    // Volumes that do not compress have nothing to turn off.
    if (error != ERROR_INVALID_FUNCTION && error != ERROR_NOT_SUPPORTED &&
        error != ERROR_INVALID_PARAMETER) {
      return FromError(error);
    }
  }
  return owner.Close();
}

// Nothing beyond the folder's compression is changed on Windows.
IoResult NativeFileSystem::ReleaseFillFolder(TextView) { return IoResult::Ok(); }

IoResult NativeFileSystem::ResolveFolder(TextView path, Text& resolved) {
  NULVANE_API_PATH(api, path);
  // Without FILE_FLAG_OPEN_REPARSE_POINT: the user's own folder is meant, wherever its links
  // and mount points lead.
  const HANDLE handle = ::CreateFileW(Wide(api), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return LastError();
  Win32OpenFile owner(handle);
  BY_HANDLE_FILE_INFORMATION file_info;
  if (!::GetFileInformationByHandle(handle, &file_info)) return LastError();
  if ((file_info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    return FromError(ERROR_DIRECTORY);
  }
  constexpr DWORD kFlags = FILE_NAME_NORMALIZED | VOLUME_NAME_DOS;
  std::vector<wchar_t> buffer(MAX_PATH + 1);
  DWORD length =
      ::GetFinalPathNameByHandleW(handle, buffer.data(), static_cast<DWORD>(buffer.size()), kFlags);
  if (length >= buffer.size()) {
    buffer.resize(length + 1);
    length = ::GetFinalPathNameByHandleW(handle, buffer.data(), static_cast<DWORD>(buffer.size()),
                                         kFlags);
  }
  if (length == 0 || length >= buffer.size()) {
    // A volume without a drive letter has no such name: the text's own meaning is all there is.
    resolved = win32::ResolvedFullPath(path);
    if (resolved.empty()) resolved = Text(path);
    return owner.Close();
  }
  Text final_path = FromWide(buffer.data(), length);
  // The system answers in the extended-length form; short paths are shown without it.
  if (final_path.size() < 240) {
    if (StartsWith(final_path, u"\\\\?\\UNC\\")) {
      final_path = u"\\\\" + final_path.substr(8);
    } else if (StartsWith(final_path, u"\\\\?\\") && final_path.size() >= 6 &&
               final_path[5] == u':') {
      final_path = final_path.substr(4);
    }
  }
  resolved = std::move(final_path);
  return owner.Close();
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
