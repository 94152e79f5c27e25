// NativeFileSystem: inspection, overwrite, rename, removal and volume space. Every open carries
// FILE_FLAG_OPEN_REPARSE_POINT, so a symbolic link, junction or other reparse point is opened
// as itself and then refused, never followed. Long paths are passed whole in their
// extended-length form.
#include <windows.h>
#include <winioctl.h>
// The interface has a method of this name; the Win32 function is always called as DeleteFileW.
#undef DeleteFile

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "platform/native_file_system.h"
#include "platform/win32/wide.h"
#include "platform/win32/win32_storage_probe.h"

namespace nulvane::platform {

namespace {

// Paths from this length on are given the extended-length form: CreateDirectoryW already
// refuses MAX_PATH - 12 units without it.
constexpr std::size_t kExtendedFrom = 240;
// The longest path the extended-length form takes.
constexpr std::size_t kMaxExtendedPath = 32767;

// ERROR_DISK_QUOTA_EXCEEDED, missing from some headers.
constexpr DWORD kErrorDiskQuotaExceeded = 1295;

IoResult FromError(DWORD error) {
  switch (error) {
    case ERROR_SUCCESS:
      return IoResult::Fail(IoResult::kGenericFailure);
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
    case kErrorDiskQuotaExceeded:  // the caller's share of the volume is used up
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

bool StartsWith(TextView text, TextView prefix) {
  return text.size() >= prefix.size() && text.substr(0, prefix.size()) == prefix;
}

Text FullPathOf(const Text& path) {
  const DWORD needed = ::GetFullPathNameW(Wide(path), 0, nullptr, nullptr);
  if (needed == 0) return path;
  std::vector<wchar_t> buffer(needed + 1);
  const DWORD length =
      ::GetFullPathNameW(Wide(path), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
  if (length == 0 || length >= buffer.size()) return path;
  return FromWide(buffer.data(), length);
}

// The form of `path` the wide API calls take whole. Short paths stay as they are (the system
// then applies its usual rules: "/" as separator, "." and ".." resolved); long ones are made
// absolute and given the \\?\ or \\?\UNC\ prefix. A path holding U+0000 is refused: the system
// would stop reading there and act on another path.
IoResult ApiPath(TextView path, Text& out) {
  if (path.empty() || path.find(u'\0') != TextView::npos) {
    return IoResult::Fail(ERROR_INVALID_NAME);
  }
  out.assign(path);
  if (StartsWith(path, u"\\\\?\\") || StartsWith(path, u"\\\\.\\") || path.size() < kExtendedFrom) {
    return IoResult::Ok();
  }
  const Text full = FullPathOf(out);
  if (StartsWith(full, u"\\\\?\\") || StartsWith(full, u"\\\\.\\")) {
    out = full;
  } else if (StartsWith(full, u"\\\\")) {
    out = u"\\\\?\\UNC\\" + full.substr(2);
  } else if (full.size() >= 3 && full[1] == u':' && full[2] == u'\\') {
    out = u"\\\\?\\" + full;
  } else {
    out = full;
  }
  if (out.size() > kMaxExtendedPath) return IoResult::Fail(IoResult::kPathTooLong);
  return IoResult::Ok();
}

// The device namespace (\\.\PhysicalDrive0, \\?\GLOBALROOT\..., \\?\Volume{...}) names disks
// and devices, never a file of the user's list: nothing there is opened for writing.
bool IsDevicePath(TextView api_path) {
  if (StartsWith(api_path, u"\\\\.\\")) return true;
  if (!StartsWith(api_path, u"\\\\?\\")) return false;
  const TextView rest = api_path.substr(4);
  if (StartsWith(rest, u"UNC\\")) return false;
  return !(rest.size() >= 3 && rest[1] == u':' && rest[2] == u'\\');
}

#define NULVANE_API_PATH(variable, path) \
  Text variable;                         \
  if (IoResult bad = ApiPath(path, variable); !bad) return bad

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

// Opens `path` itself (never what a reparse point names) with `access`.
HANDLE OpenEntry(const Text& api_path, DWORD access, DWORD share, DWORD flags) {
  return ::CreateFileW(Wide(api_path), access, share, nullptr, OPEN_EXISTING,
                       flags | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

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

IoResult NativeFileSystem::Inspect(TextView path, EntryInfo& info) {
  info = EntryInfo{};
  NULVANE_API_PATH(api, path);
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!::GetFileAttributesExW(Wide(api), GetFileExInfoStandard, &data)) return LastError();
  const DWORD attributes = data.dwFileAttributes;
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    info.kind = EntryKind::kLink;
    info.link_to_folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  } else if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    info.kind = EntryKind::kFolder;
  } else if ((attributes & FILE_ATTRIBUTE_DEVICE) || IsDevicePath(api)) {
    info.kind = EntryKind::kOther;
  } else {
    info.kind = EntryKind::kFile;
    info.size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  }
  return IoResult::Ok();
}

IoResult NativeFileSystem::MakeWritable(TextView path) {
  NULVANE_API_PATH(api, path);
  const HANDLE handle = OpenEntry(api, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, kShareAll,
                                  FILE_FLAG_BACKUP_SEMANTICS);
  if (handle == INVALID_HANDLE_VALUE) return LastError();
  Win32OpenFile owner(handle);
  BY_HANDLE_FILE_INFORMATION file_info;
  if (!::GetFileInformationByHandle(handle, &file_info)) return LastError();
  const DWORD attributes = file_info.dwFileAttributes;
  // A link is left as it is: nothing is ever written through it.
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return owner.Close();
  constexpr DWORD kInTheWay =
      FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  if ((attributes & kInTheWay) == 0) return owner.Close();
  FILE_BASIC_INFO basic{};  // zero times: leave them as they are
  basic.FileAttributes = attributes & ~kInTheWay;
  if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
  if (!::SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof basic)) {
    return LastError();
  }
  return owner.Close();
}

IoResult NativeFileSystem::OpenForOverwrite(TextView path, std::unique_ptr<OpenFile>& file,
                                            OpenedFileInfo& info) {
  file.reset();
  info = OpenedFileInfo{};
  NULVANE_API_PATH(api, path);
  if (IsDevicePath(api)) return IoResult::Fail(IoResult::kNotRegularFile);
  // Buffered on purpose: each pass is forced to the device by Flush. Unbuffered writes would
  // demand sector-sized blocks, and the last block of a pass is the file's odd remainder.
  // Others may only read (the read-back reopens it through ReOpenFile, which needs that).
  const HANDLE handle =
      ::CreateFileW(Wide(api), GENERIC_WRITE | FILE_READ_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return LastError();
  auto opened = std::make_unique<Win32OpenFile>(handle);
  // A serial port, pipe or console opened through a reserved name (COM1, CON) is no file.
  if (::GetFileType(handle) != FILE_TYPE_DISK) return IoResult::Fail(IoResult::kNotRegularFile);
  BY_HANDLE_FILE_INFORMATION file_info;
  if (!::GetFileInformationByHandle(handle, &file_info)) return LastError();
  const DWORD attributes = file_info.dwFileAttributes;
  if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) {
    return IoResult::Fail(IoResult::kNotRegularFile);
  }
  info.size = (static_cast<std::uint64_t>(file_info.nFileSizeHigh) << 32) | file_info.nFileSizeLow;
  info.link_count = file_info.nNumberOfLinks;
  info.stored_elsewhere = IsStoredElsewhere(handle, attributes);
  file = std::move(opened);
  return IoResult::Ok();
}

IoResult NativeFileSystem::OpenFolderForStamp(TextView path, std::unique_ptr<OpenFile>& folder) {
  folder.reset();
  NULVANE_API_PATH(api, path);
  // Attribute access only: such a handle takes part in no sharing check, so it stands in the
  // way of nobody.
  const HANDLE handle = OpenEntry(api, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, kShareAll,
                                  FILE_FLAG_BACKUP_SEMANTICS);
  if (handle == INVALID_HANDLE_VALUE) return LastError();
  auto opened = std::make_unique<Win32OpenFile>(handle);
  BY_HANDLE_FILE_INFORMATION file_info;
  if (!::GetFileInformationByHandle(handle, &file_info)) return LastError();
  if ((file_info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
      (file_info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    return IoResult::Fail(IoResult::kNotRegularFile);
  }
  folder = std::move(opened);
  return IoResult::Ok();
}

IoResult NativeFileSystem::CreateNewFile(TextView path, std::unique_ptr<OpenFile>& file,
                                         Caching caching) {
  file.reset();
  NULVANE_API_PATH(api, path);
  if (IsDevicePath(api)) return IoResult::Fail(IoResult::kNotRegularFile);
  DWORD flags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN;
  if (caching == Caching::kUnbuffered) flags |= FILE_FLAG_NO_BUFFERING;
  const HANDLE handle =
      ::CreateFileW(Wide(api), GENERIC_WRITE, 0, nullptr, CREATE_NEW, flags, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return LastError();
  file = std::make_unique<Win32OpenFile>(handle);
  return IoResult::Ok();
}

IoResult NativeFileSystem::RenameNoReplace(TextView from, TextView to) {
  NULVANE_API_PATH(api_from, from);
  NULVANE_API_PATH(api_to, to);
  // Without MOVEFILE_REPLACE_EXISTING the move fails when the target exists; without
  // MOVEFILE_COPY_ALLOWED it never copies to another volume. A link is moved as itself.
  if (!::MoveFileExW(Wide(api_from), Wide(api_to), 0)) return LastError();
  return IoResult::Ok();
}

IoResult NativeFileSystem::DeleteFile(TextView path) {
  NULVANE_API_PATH(api, path);
  if (!::DeleteFileW(Wide(api))) return LastError();
  return IoResult::Ok();
}

IoResult NativeFileSystem::RemoveFolder(TextView path) {
  NULVANE_API_PATH(api, path);
  if (!::RemoveDirectoryW(Wide(api))) return LastError();
  return IoResult::Ok();
}

IoResult NativeFileSystem::CreateFolder(TextView path) {
  NULVANE_API_PATH(api, path);
  if (!::CreateDirectoryW(Wide(api), nullptr)) return LastError();
  return IoResult::Ok();
}

IoResult NativeFileSystem::GetVolumeSpace(TextView path, VolumeSpace& space) {
  if (path.empty() || path.find(u'\0') != TextView::npos) {
    return IoResult::Fail(ERROR_INVALID_NAME);
  }
  const Text full = FullPathOf(Text(path));
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
  const HANDLE handle = OpenEntry(
      api, FILE_READ_DATA | FILE_WRITE_DATA | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
      FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_FLAG_BACKUP_SEMANTICS);
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
    resolved = FullPathOf(Text(path));
    return owner.Close();
  }
  Text final_path = FromWide(buffer.data(), length);
  // The system answers in the extended-length form; short paths are shown without it.
  if (final_path.size() < kExtendedFrom) {
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
  if (path.empty() || path.find(u'\0') != TextView::npos) return Text(path);
  return FullPathOf(Text(path));
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
