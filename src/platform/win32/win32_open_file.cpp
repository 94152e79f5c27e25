#include "platform/win32/win32_open_file.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "platform/win32/win32_calls.h"
#include "platform/win32/win32_handles.h"

namespace nulvane::platform::win32 {

AlignedBlock::AlignedBlock(std::size_t size)
    : data_(static_cast<unsigned char*>(
          ::VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE))),
      size_(data_ ? size : 0) {}

AlignedBlock& AlignedBlock::operator=(AlignedBlock&& other) noexcept {
  std::swap(data_, other.data_);
  std::swap(size_, other.size_);
  return *this;
}

AlignedBlock::~AlignedBlock() {
  if (data_) ::VirtualFree(data_, 0, MEM_RELEASE);
}

// Sets the attributes of the opened entry; times unchanged.
IoResult SetAttributes(HANDLE handle, DWORD attributes) {
  FILE_BASIC_INFO basic{};  // zero times: leave them as they are
  basic.FileAttributes = attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes;
  if (!::SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof basic)) {
    return LastError();
  }
  return IoResult::Ok();
}

namespace {

// Reads one file from its start through a handle of its own, unbuffered where the system
// allowed it, into an aligned buffer of whole sectors.
class Win32UncachedReader final : public UncachedReader {
 public:
  static constexpr DWORD kChunk = 1024 * 1024;
  static constexpr std::uint64_t kAlignment = 64 * 1024;

  Win32UncachedReader(HANDLE handle, bool unbuffered) : handle_(handle) { uncached = unbuffered; }
  Win32UncachedReader(const Win32UncachedReader&) = delete;
  Win32UncachedReader& operator=(const Win32UncachedReader&) = delete;
  ~Win32UncachedReader() override { ::CloseHandle(handle_); }

  IoResult Seek(std::uint64_t offset, std::uint64_t& at) override {
    // An unbuffered read must start on a sector: 64 KiB suits every sector size.
    at = offset / kAlignment * kAlignment;
    LARGE_INTEGER position;
    position.QuadPart = static_cast<LONGLONG>(at);
    if (!::SetFilePointerEx(handle_, position, nullptr, FILE_BEGIN)) return LastError();
    return IoResult::Ok();
  }

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

}  // namespace

namespace {

// FILE_STORAGE_INFO (Windows 8), by Microsoft's documented layout and class number: the headers
// that target Windows 7 lack it.
struct StorageInfo {
  ULONG logical_bytes_per_sector;
  ULONG physical_bytes_per_sector_for_atomicity;
  ULONG physical_bytes_per_sector_for_performance;
  ULONG file_system_effective_physical_bytes_per_sector_for_atomicity;
  ULONG flags;
  ULONG byte_offset_for_sector_alignment;
  ULONG byte_offset_for_partition_alignment;
};
constexpr int kFileStorageInfoClass = 16;

// What the offset, length and buffer address of an unbuffered transfer on `handle`'s volume
// must be multiples of: the largest sector size the storage reports (each a multiple of the
// logical one), so that every transfer is whole physical sectors too. Where the system cannot
// tell (before Windows 8), 4096, which the common sector sizes divide; a volume with larger
// sectors refuses the first write, and the writes go through the cache.
std::uint32_t UnbufferedAlignment(HANDLE handle) {
  StorageInfo info{};
  if (::GetFileInformationByHandleEx(handle,
                                     static_cast<FILE_INFO_BY_HANDLE_CLASS>(kFileStorageInfoClass),
                                     &info, sizeof info)) {
    const ULONG largest =
        std::max({info.logical_bytes_per_sector, info.physical_bytes_per_sector_for_atomicity,
                  info.physical_bytes_per_sector_for_performance,
                  info.file_system_effective_physical_bytes_per_sector_for_atomicity});
    if (largest != 0) return largest;
  }
  return 4096;
}

}  // namespace

Win32OpenFile::~Win32OpenFile() {
  if (handle_ != INVALID_HANDLE_VALUE) ::CloseHandle(handle_);
  if (pin_ != INVALID_HANDLE_VALUE) ::CloseHandle(pin_);
}

IoResult Win32OpenFile::Gone() const { return FromError(lost_error_); }

IoResult Win32OpenFile::Reopen(bool unbuffered) {
  if (pin_ == INVALID_HANDLE_VALUE) {
    pin_ = ::ReOpenFile(handle_, FILE_READ_ATTRIBUTES, kShareAll, FILE_FLAG_OPEN_REPARSE_POINT);
    if (pin_ == INVALID_HANDLE_VALUE) return LastError();
  }
  EntryIdentity before;
  if (IoResult read = ReadIdentity(handle_, before); !read) return read;
  ::CloseHandle(handle_);
  constexpr DWORD kAccess = GENERIC_WRITE | FILE_READ_ATTRIBUTES;
  constexpr DWORD kFlags = FILE_FLAG_OPEN_REPARSE_POINT;
  handle_ = ::ReOpenFile(pin_, kAccess, FILE_SHARE_READ,
                         unbuffered ? kFlags | FILE_FLAG_NO_BUFFERING : kFlags);
  unbuffered_ = unbuffered && handle_ != INVALID_HANDLE_VALUE;
  if (handle_ == INVALID_HANDLE_VALUE && unbuffered) {
    // Refused unbuffered (a file system without it): the cache takes every write.
    direct_ = Direct::kRefused;
    handle_ = ::ReOpenFile(pin_, kAccess, FILE_SHARE_READ, kFlags);
  }
  if (handle_ == INVALID_HANDLE_VALUE) {
    lost_error_ = ::GetLastError();
    return Gone();
  }
  EntryIdentity after;
  if (IoResult read = ReadIdentity(handle_, after); !read) return read;
  if (!after.Matches(before)) {
    ::CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
    lost_error_ = IoResult::kChangedEntry;
    return Gone();
  }
  LARGE_INTEGER position;
  position.QuadPart = static_cast<LONGLONG>(position_);
  if (!::SetFilePointerEx(handle_, position, nullptr, FILE_BEGIN)) return LastError();
  return IoResult::Ok();
}

IoResult Win32OpenFile::LeaveUnbuffered() {
  if (!unbuffered_) return IoResult::Ok();
  return Reopen(false);
}

IoResult Win32OpenFile::StartDirectWrites(DirectAlignment& alignment) {
  alignment = DirectAlignment{};
  if (handle_ == INVALID_HANDLE_VALUE) return Gone();
  if (direct_ == Direct::kRefused) return FromError(ERROR_NOT_SUPPORTED);
  const std::uint32_t sector = UnbufferedAlignment(handle_);
  if (!unbuffered_) {
    if (IoResult reopened = Reopen(true); !reopened) return reopened;
    if (direct_ == Direct::kRefused) return FromError(ERROR_NOT_SUPPORTED);
  }
  direct_ = Direct::kStarted;
  alignment.block = alignment.memory = sector;
  return IoResult::Ok();
}

IoResult Win32OpenFile::WriteDirect(const void* data, std::size_t size, std::size_t& written) {
  written = 0;
  if (handle_ == INVALID_HANDLE_VALUE) return Gone();
  if (direct_ != Direct::kStarted) return Write(data, size, written);
  if (!unbuffered_) {
    if (IoResult reopened = Reopen(true); !reopened) return reopened;
    if (direct_ != Direct::kStarted) return Write(data, size, written);
  }
  // Below 4 GiB in whole sectors: the alignment is a power of two of at most 64 KiB.
  const DWORD chunk = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
  DWORD done = 0;
  const BOOL ok = ::WriteFile(handle_, data, chunk, &done, nullptr);
  written = done;
  position_ += done;
  if (ok) {
    direct_confirmed_ = true;
    return IoResult::Ok();
  }
  const DWORD error = ::GetLastError();
  if (error == ERROR_INVALID_PARAMETER && !direct_confirmed_ && done == 0) {
    // The volume takes no unbuffered writes of this size after all: the cache takes them.
    direct_ = Direct::kRefused;
    return Write(data, size, written);
  }
  return FromError(error);
}

IoResult Win32OpenFile::Write(const void* data, std::size_t size, std::size_t& written) {
  written = 0;
  if (handle_ == INVALID_HANDLE_VALUE) return Gone();
  if (IoResult left = LeaveUnbuffered(); !left) return left;
  const DWORD chunk = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
  DWORD done = 0;
  const BOOL ok = ::WriteFile(handle_, data, chunk, &done, nullptr);
  written = done;
  position_ += done;
  if (!ok) return LastError();
  return IoResult::Ok();
}

// One WriteFile for all `count` blocks: they are copied one after the other into an aligned
// buffer that the handle keeps for its next requests, so that an unbuffered handle gets
// whole sectors from an aligned address in a single request.
IoResult Win32OpenFile::WriteRepeated(const void* block, std::size_t block_size, std::size_t count,
                                      std::size_t& written) {
  written = 0;
  if (handle_ == INVALID_HANDLE_VALUE) return Gone();
  if (IoResult left = LeaveUnbuffered(); !left) return left;
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
  const BOOL ok = ::WriteFile(handle_, scratch_.data(), static_cast<DWORD>(total), &done, nullptr);
  written = done;
  position_ += done;
  if (!ok) return LastError();
  return IoResult::Ok();
}

IoResult Win32OpenFile::CurrentSize(std::uint64_t& size) {
  size = 0;
  if (handle_ == INVALID_HANDLE_VALUE) return FromError(ERROR_INVALID_HANDLE);
  LARGE_INTEGER value;
  if (!::GetFileSizeEx(handle_, &value)) return LastError();
  size = static_cast<std::uint64_t>(value.QuadPart);
  return IoResult::Ok();
}

// A second handle to the object this one holds (no path is looked at again), unbuffered so
// that the read comes from the device; where the system refuses that, through the cache.
IoResult Win32OpenFile::OpenUncachedReader(std::unique_ptr<UncachedReader>& reader) {
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

// The cache of the file (what any of its handles wrote) and the device's: the writes past the
// cache and the ones through it alike.
IoResult Win32OpenFile::Flush() {
  if (handle_ == INVALID_HANDLE_VALUE) return Gone();
  if (!::FlushFileBuffers(handle_)) return LastError();
  return IoResult::Ok();
}

IoResult Win32OpenFile::SetTimes(FileTime time) {
  if (handle_ == INVALID_HANDLE_VALUE) return FromError(ERROR_INVALID_HANDLE);
  FILETIME value;
  value.dwLowDateTime = static_cast<DWORD>(time & 0xFFFFFFFFu);
  value.dwHighDateTime = static_cast<DWORD>(time >> 32);
  if (!Calls().set_file_time(handle_, &value, &value, &value)) return LastError();
  return IoResult::Ok();
}

IoResult Win32OpenFile::Identity(EntryIdentity& identity) {
  identity = EntryIdentity{};
  if (handle_ == INVALID_HANDLE_VALUE) return FromError(ERROR_INVALID_HANDLE);
  return ReadIdentity(handle_, identity);
}

IoResult Win32OpenFile::RestoreAttributes() {
  if (!original_attributes_) return IoResult::Ok();
  if (handle_ == INVALID_HANDLE_VALUE) return FromError(ERROR_INVALID_HANDLE);
  if (IoResult set = SetAttributes(handle_, *original_attributes_); !set) return set;
  original_attributes_.reset();
  return IoResult::Ok();
}

IoResult Win32OpenFile::Close() {
  if (handle_ == INVALID_HANDLE_VALUE) return FromError(ERROR_INVALID_HANDLE);
  const HANDLE handle = handle_;
  handle_ = INVALID_HANDLE_VALUE;
  if (pin_ != INVALID_HANDLE_VALUE) ::CloseHandle(pin_);
  pin_ = INVALID_HANDLE_VALUE;
  if (!::CloseHandle(handle)) return LastError();
  return IoResult::Ok();
}

}  // namespace nulvane::platform::win32
