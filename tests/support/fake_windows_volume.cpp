#ifdef _WIN32
#include "support/fake_windows_volume.h"

#include <winioctl.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <stdexcept>

#include "platform/win32/wide.h"

namespace nulvane::testing {

namespace {

using platform::FromWide;
using platform::Wide;

FakeWindowsVolume* g_volume = nullptr;

constexpr NTSTATUS kStatusDeletePending = static_cast<NTSTATUS>(0xC0000056);
constexpr NTSTATUS kStatusNameNotFound = static_cast<NTSTATUS>(0xC0000034);
constexpr auto kFileIdInfo = static_cast<FILE_INFO_BY_HANDLE_CLASS>(18);
constexpr auto kFileDispositionInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
constexpr ULONG kDispositionDelete = 0x1;
constexpr ULONG kDispositionPosixSemantics = 0x2;
constexpr ULONG kDispositionIgnoreReadOnly = 0x10;
constexpr int kFileRenameInformation = 10;
// FAT keeps creation times to 10 ms.
constexpr std::uint64_t kFatTimeStep = 100000;

// FILE_RENAME_INFORMATION, as NtSetInformationFile takes it.
struct RenameInformation {
  BOOLEAN replace_if_exists;
  HANDLE root_directory;
  ULONG file_name_length;
  WCHAR file_name[1];
};

Text Extended(const Text& path) {
  if (path.rfind(u"\\\\?\\", 0) == 0) return path;
  return u"\\\\?\\" + path;
}

Text FinalPath(HANDLE handle) {
  wchar_t buffer[4096];
  const DWORD length = ::GetFinalPathNameByHandleW(handle, buffer, 4096, VOLUME_NAME_DOS);
  if (length == 0 || length >= 4096) return Text();
  return FromWide(buffer, length);
}

bool SameText(TextView a, TextView b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char16_t x = a[i], y = b[i];
    if (x >= u'A' && x <= u'Z') x = static_cast<char16_t>(x - u'A' + u'a');
    if (y >= u'A' && y <= u'Z') y = static_cast<char16_t>(y - u'A' + u'a');
    if (x != y) return false;
  }
  return true;
}

TextView LastComponent(TextView path) {
  const std::size_t separator = path.rfind(u'\\');
  return separator == TextView::npos ? path : path.substr(separator + 1);
}

HANDLE OpenPath(const Text& path, DWORD access) {
  return ::CreateFileW(
      Wide(Extended(path)), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

bool HoldsEntries(const Text& folder) {
  const HANDLE listing = OpenPath(folder, FILE_LIST_DIRECTORY);
  if (listing == INVALID_HANDLE_VALUE) return false;
  std::vector<std::uint64_t> buffer(4096);
  bool holds = false;
  if (platform::win32::SystemCalls().get_file_information_ex(
          listing, FileIdBothDirectoryRestartInfo, buffer.data(),
          static_cast<DWORD>(buffer.size() * sizeof buffer[0]))) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(buffer.data());
    for (std::size_t offset = 0;;) {
      const auto* entry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(bytes + offset);
      const TextView name(reinterpret_cast<const char16_t*>(entry->FileName),
                          entry->FileNameLength / sizeof(wchar_t));
      if (name != u"." && name != u"..") holds = true;
      if (entry->NextEntryOffset == 0) break;
      offset += entry->NextEntryOffset;
    }
  }
  ::CloseHandle(listing);
  return holds;
}

// Whether `name` is a plain short name: 8.3, of the characters a short name may hold, each of
// its two parts in one case (Windows records an all-lower-case part with a flag of the short
// entry). Any other name takes long-name slots as well.
bool IsPlainShortName(TextView name) {
  const std::size_t dot = name.find(u'.');
  if (dot != TextView::npos && name.find(u'.', dot + 1) != TextView::npos) return false;
  const TextView base = name.substr(0, dot);
  const TextView extension = dot == TextView::npos ? TextView() : name.substr(dot + 1);
  if (base.empty() || base.size() > 8 || extension.size() > 3) return false;
  if (dot != TextView::npos && extension.empty()) return false;
  constexpr TextView kSymbols = u"!#$%&'()-@^_`{}~";
  for (const TextView part : {base, extension}) {
    bool upper = false, lower = false;
    for (const char16_t c : part) {
      if (c >= u'A' && c <= u'Z') {
        upper = true;
      } else if (c >= u'a' && c <= u'z') {
        lower = true;
      } else if (!(c >= u'0' && c <= u'9') && kSymbols.find(c) == TextView::npos) {
        return false;
      }
    }
    if (upper && lower) return false;
  }
  return true;
}

// 32-byte directory slots an entry of this name takes: 13 units of the name per long-name slot,
// then the short entry.
int SlotsFor(TextView name) {
  if (IsPlainShortName(name)) return 1;
  return 1 + static_cast<int>((name.size() + 12) / 13);
}

}  // namespace

namespace {

// Makes the folder `path` and gives its path as the system spells it for open handles.
Text MadeFolder(const Text& path) {
  ::CreateDirectoryW(Wide(Extended(path)), nullptr);
  const HANDLE handle = OpenPath(path, FILE_READ_ATTRIBUTES);
  const Text final_path = FinalPath(handle);
  ::CloseHandle(handle);
  return final_path;
}

}  // namespace

FakeWindowsVolume::FakeWindowsVolume(const Text& root, Format format)
    : real_(platform::win32::SystemCalls()),
      root_(MadeFolder(root)),
      parking_(MadeFolder(root + u".parked")),
      format_(format) {
  if (g_volume) throw std::logic_error("one fake Windows volume at a time");
  g_volume = this;
  platform::win32::FileSystemCalls& calls = platform::win32::Calls();
  calls.create_file = CreateFileHook;
  calls.set_information_file = SetInformationFileHook;
  calls.get_file_information = GetFileInformationHook;
  calls.get_file_information_ex = GetFileInformationExHook;
  calls.set_file_information = SetFileInformationHook;
  calls.get_volume_information = GetVolumeInformationHook;
  calls.set_file_time = SetFileTimeHook;
  calls.device_io_control = DeviceIoControlHook;
}

FakeWindowsVolume::~FakeWindowsVolume() {
  platform::win32::Calls() = real_;
  g_volume = nullptr;
  for (auto& [path, handle] : holders_) ::CloseHandle(handle);
}

// ---- what the test sets up ----

void FakeWindowsVolume::MakeMountPoint(const Text& path) {
  ::CreateDirectoryW(Wide(Extended(path)), nullptr);
  std::lock_guard lock(mutex_);
  reparse_[RealIdOf(path)] = {IO_REPARSE_TAG_MOUNT_POINT,
                              u"\\??\\Volume{5e1ec7ed-0000-4000-8000-00000000d15c}\\"};
}

void FakeWindowsVolume::MakeJunction(const Text& path, const Text& target) {
  ::CreateDirectoryW(Wide(Extended(path)), nullptr);
  std::lock_guard lock(mutex_);
  reparse_[RealIdOf(path)] = {IO_REPARSE_TAG_MOUNT_POINT, u"\\??\\" + target};
}

void FakeWindowsVolume::SetReparseTag(const Text& path, DWORD tag) {
  std::lock_guard lock(mutex_);
  reparse_[RealIdOf(path)] = {tag, Text()};
}

void FakeWindowsVolume::MakeCaseSensitive(const Text& path) {
  std::lock_guard lock(mutex_);
  case_sensitive_.insert(RealIdOf(path));
}

void FakeWindowsVolume::Hold(const Text& path, DWORD share) {
  std::lock_guard lock(mutex_);
  const HANDLE handle = ::CreateFileW(Wide(Extended(path)), GENERIC_READ, share, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot hold the entry");
  holders_[path] = handle;
  held_[RealId(handle)] = path;
}

void FakeWindowsVolume::Release(const Text& path) {
  std::lock_guard lock(mutex_);
  const auto holder = holders_.find(path);
  if (holder == holders_.end()) return;
  const std::uint64_t real = RealId(holder->second);
  ::CloseHandle(holder->second);
  holders_.erase(holder);
  held_.erase(real);
  // The last handle is gone: a pending entry goes now.
  const auto pending = pending_.find(real);
  if (pending == pending_.end()) return;
  ::SetFileAttributesW(Wide(pending->second), FILE_ATTRIBUTE_NORMAL);
  ::DeleteFileW(Wide(pending->second));
  pending_.erase(pending);
  Forget(real);
}

bool FakeWindowsVolume::PendingDeletion(const Text& path) {
  std::lock_guard lock(mutex_);
  const auto holder = holders_.find(path);
  return holder != holders_.end() && pending_.count(RealId(holder->second)) != 0;
}

void FakeWindowsVolume::ReplaceFile(const Text& path, const std::string& bytes) {
  std::lock_guard lock(mutex_);
  const std::uint64_t old_real = RealIdOf(path);
  const Id128 old_id = IdOf(old_real);
  std::uint64_t folder = 0;
  if (const auto position = positions_.find(old_real); position != positions_.end()) {
    folder = position->second.folder;
  }
  Forget(old_real);
  ::SetFileAttributesW(Wide(Extended(path)), FILE_ATTRIBUTE_NORMAL);
  if (!::DeleteFileW(Wide(Extended(path)))) throw std::runtime_error("cannot remove the file");
  const HANDLE file = ::CreateFileW(Wide(Extended(path)), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot make the file");
  DWORD written = 0;
  ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  const std::uint64_t real = RealId(file);
  ::CloseHandle(file);
  if (format_ == Format::kFat32 && folder != 0) {
    positions_[real] = Allocate(folder, SlotsFor(LastComponent(path)));
  }
  if (format_ == Format::kRefs) ids_[real] = {old_id.low, old_id.high + 1};
}

std::uint64_t FakeWindowsVolume::FileIdOf(const Text& path) {
  const HANDLE handle = OpenPath(path, FILE_READ_ATTRIBUTES);
  BY_HANDLE_FILE_INFORMATION info{};
  GetFileInformationHook(handle, &info);
  ::CloseHandle(handle);
  return (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
}

// ---- bookkeeping (under mutex_) ----

std::uint64_t FakeWindowsVolume::RealId(HANDLE handle) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!platform::win32::SystemCalls().get_file_information(handle, &info)) return 0;
  return (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
}

std::uint64_t FakeWindowsVolume::RealIdOf(const Text& path) {
  const HANDLE handle = OpenPath(path, FILE_READ_ATTRIBUTES);
  if (handle == INVALID_HANDLE_VALUE) throw std::runtime_error("no such entry");
  const std::uint64_t id = RealId(handle);
  ::CloseHandle(handle);
  return id;
}

bool FakeWindowsVolume::Inside(HANDLE handle) const {
  const Text path = FinalPath(handle);
  if (path.size() < root_.size() || !SameText(TextView(path).substr(0, root_.size()), root_)) {
    return false;
  }
  return path.size() == root_.size() || path[root_.size()] == u'\\';
}

Text FakeWindowsVolume::NameOf(HANDLE handle) const {
  return Text(LastComponent(FinalPath(handle)));
}

std::uint64_t FakeWindowsVolume::ParentIdOf(HANDLE handle) const {
  const Text path = FinalPath(handle);
  return RealIdOf(path.substr(0, path.rfind(u'\\')));
}

const FakeWindowsVolume::Position& FakeWindowsVolume::PositionOf(HANDLE handle,
                                                                 std::uint64_t real) {
  auto found = positions_.find(real);
  if (found == positions_.end()) {
    found = positions_.emplace(real, Allocate(ParentIdOf(handle), SlotsFor(NameOf(handle)))).first;
  }
  return found->second;
}

std::uint64_t FakeWindowsVolume::PositionId(const Position& position) const {
  const auto offset = static_cast<std::uint64_t>(position.first + position.count - 1) * 32;
  return ((position.folder & 0xFFFFFFFFu) << 32) | offset;
}

FakeWindowsVolume::Position FakeWindowsVolume::Allocate(std::uint64_t folder, int count) {
  std::vector<bool>& taken = slots_[folder];
  // Slots 0 and 1 hold "." and "..".
  if (taken.size() < 2) taken.assign(2, true);
  int first = 2;
  for (;; ++first) {
    bool free = true;
    for (int i = first; i < first + count; ++i) {
      if (i < static_cast<int>(taken.size()) && taken[static_cast<std::size_t>(i)]) free = false;
    }
    if (free) break;
  }
  if (taken.size() < static_cast<std::size_t>(first + count)) taken.resize(first + count, false);
  for (int i = first; i < first + count; ++i) taken[static_cast<std::size_t>(i)] = true;
  return {folder, first, count};
}

void FakeWindowsVolume::Free(const Position& position) {
  std::vector<bool>& taken = slots_[position.folder];
  for (int i = position.first; i < position.first + position.count; ++i) {
    if (static_cast<std::size_t>(i) < taken.size()) taken[static_cast<std::size_t>(i)] = false;
  }
}

FakeWindowsVolume::Id128 FakeWindowsVolume::IdOf(std::uint64_t real) {
  const auto found = ids_.find(real);
  if (found != ids_.end()) return found->second;
  return {real, 1};
}

void FakeWindowsVolume::Moved(const Text& from, const Text& to) {
  for (auto& [real, path] : pending_) {
    if (path.size() > from.size() && path[from.size()] == u'\\' &&
        SameText(TextView(path).substr(0, from.size()), from)) {
      path = to + path.substr(from.size());
    }
  }
}

FILETIME FakeWindowsVolume::CreationOf(std::uint64_t real, const FILETIME& seen) {
  auto found = creation_.find(real);
  if (found == creation_.end()) {
    const std::uint64_t time =
        (static_cast<std::uint64_t>(seen.dwHighDateTime) << 32) | seen.dwLowDateTime;
    found = creation_.emplace(real, time - time % kFatTimeStep).first;
  }
  FILETIME time;
  time.dwLowDateTime = static_cast<DWORD>(found->second);
  time.dwHighDateTime = static_cast<DWORD>(found->second >> 32);
  return time;
}

void FakeWindowsVolume::Forget(std::uint64_t real) {
  if (const auto position = positions_.find(real); position != positions_.end()) {
    Free(position->second);
    positions_.erase(position);
  }
  ids_.erase(real);
  creation_.erase(real);
  reparse_.erase(real);
}

// Marks the entry for deletion as the volume's file system would. A held entry is kept by the
// fake itself until its holder lets go (Wine would lose track of it once it has been renamed).
BOOL FakeWindowsVolume::Disposition(HANDLE handle, bool ex, ULONG flags) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!real_.get_file_information(handle, &info)) return FALSE;
  const std::uint64_t real =
      (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  const bool read_only = (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
  if (read_only && !(ex && (flags & kDispositionIgnoreReadOnly))) {
    ::SetLastError(ERROR_ACCESS_DENIED);  // STATUS_CANNOT_DELETE
    return FALSE;
  }
  // Asked at every attempt (Wine asks only at the first one on a handle).
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && HoldsEntries(FinalPath(handle))) {
    ::SetLastError(ERROR_DIR_NOT_EMPTY);
    return FALSE;
  }
  if (read_only) {
    FILE_BASIC_INFO basic{};
    basic.FileAttributes =
        (info.dwFileAttributes & ~FILE_ATTRIBUTE_READONLY) | FILE_ATTRIBUTE_NORMAL;
    real_.set_file_information(handle, FileBasicInfo, &basic, sizeof basic);
  }
  if (held_.count(real) == 0) {
    FILE_DISPOSITION_INFO classic{};
    classic.DeleteFileW = TRUE;
    if (!real_.set_file_information(handle, FileDispositionInfo, &classic, sizeof classic)) {
      return FALSE;
    }
    Forget(real);  // gone when this handle closes
    return TRUE;
  }
  if (ex && (flags & kDispositionPosixSemantics)) {
    // The name goes now; the object waits, nameless to its folder, for its holder.
    const Text name = u"p" + platform::Utf8ToText(std::to_string(++parked_));
    const HANDLE parking = OpenPath(parking_, FILE_LIST_DIRECTORY | FILE_ADD_FILE | FILE_TRAVERSE);
    std::vector<std::uint64_t> buffer(8 + name.size());
    auto* rename = reinterpret_cast<RenameInformation*>(buffer.data());
    rename->replace_if_exists = FALSE;
    rename->root_directory = parking;
    rename->file_name_length = static_cast<ULONG>(name.size() * sizeof(wchar_t));
    std::memcpy(rename->file_name, name.data(), rename->file_name_length);
    IO_STATUS_BLOCK io{};
    const NTSTATUS moved = real_.set_information_file(
        handle, &io, rename, static_cast<ULONG>(buffer.size() * sizeof buffer[0]),
        static_cast<FILE_INFORMATION_CLASS>(kFileRenameInformation));
    ::CloseHandle(parking);
    if (!NT_SUCCESS(moved)) {
      ::SetLastError(::RtlNtStatusToDosError(moved));
      return FALSE;
    }
  }
  pending_[real] = FinalPath(handle);
  return TRUE;
}

// ---- the system's calls ----

NTSTATUS NTAPI FakeWindowsVolume::CreateFileHook(PHANDLE handle, ACCESS_MASK access,
                                                 POBJECT_ATTRIBUTES attributes, PIO_STATUS_BLOCK io,
                                                 PLARGE_INTEGER allocation, ULONG file_attributes,
                                                 ULONG share, ULONG disposition, ULONG options,
                                                 PVOID ea, ULONG ea_length) {
  FakeWindowsVolume& volume = *g_volume;
  const NTSTATUS status =
      volume.real_.create_file(handle, access, attributes, io, allocation, file_attributes, share,
                               disposition, options, ea, ea_length);
  if (!NT_SUCCESS(status)) return status;
  std::lock_guard lock(volume.mutex_);
  const TextView name =
      attributes->ObjectName
          ? TextView(reinterpret_cast<const char16_t*>(attributes->ObjectName->Buffer),
                     attributes->ObjectName->Length / sizeof(wchar_t))
          : TextView();
  NTSTATUS refused = 0;
  if (!volume.pending_.empty() && volume.pending_.count(RealId(*handle)) != 0) {
    // No open reaches an entry pending deletion.
    refused = kStatusDeletePending;
  } else if (!name.empty() && attributes->RootDirectory &&
             volume.case_sensitive_.count(RealId(attributes->RootDirectory)) != 0 &&
             volume.NameOf(*handle) != LastComponent(name)) {
    refused = kStatusNameNotFound;
  }
  if (refused == 0) return status;
  ::CloseHandle(*handle);
  *handle = nullptr;
  return refused;
}

NTSTATUS NTAPI FakeWindowsVolume::SetInformationFileHook(HANDLE handle, PIO_STATUS_BLOCK io,
                                                         PVOID information, ULONG length,
                                                         FILE_INFORMATION_CLASS kind) {
  FakeWindowsVolume& volume = *g_volume;
  std::lock_guard lock(volume.mutex_);
  if (static_cast<int>(kind) != kFileRenameInformation || !volume.Inside(handle)) {
    return volume.real_.set_information_file(handle, io, information, length, kind);
  }
  if (volume.format_ != Format::kFat32) {
    const Text before = FinalPath(handle);
    const NTSTATUS status =
        volume.real_.set_information_file(handle, io, information, length, kind);
    if (NT_SUCCESS(status)) volume.Moved(before, FinalPath(handle));
    return status;
  }
  const Text before_path = FinalPath(handle);
  const std::uint64_t real = RealId(handle);
  const Position before = volume.PositionOf(handle, real);
  const NTSTATUS status = volume.real_.set_information_file(handle, io, information, length, kind);
  if (!NT_SUCCESS(status)) return status;
  volume.Moved(before_path, FinalPath(handle));
  const auto* rename = static_cast<const RenameInformation*>(information);
  const TextView new_name = LastComponent(
      TextView(reinterpret_cast<const char16_t*>(rename->file_name), rename->file_name_length / 2));
  const int count = SlotsFor(new_name);
  if (count != before.count) {
    // New slots first, then the old ones are freed: the entry moves, and its id with it.
    const Position after = volume.Allocate(before.folder, count);
    volume.Free(before);
    volume.positions_[real] = after;
  }
  return status;
}

BOOL WINAPI FakeWindowsVolume::GetFileInformationHook(HANDLE handle,
                                                      LPBY_HANDLE_FILE_INFORMATION information) {
  FakeWindowsVolume& volume = *g_volume;
  if (!volume.real_.get_file_information(handle, information)) return FALSE;
  std::lock_guard lock(volume.mutex_);
  const std::uint64_t real =
      (static_cast<std::uint64_t>(information->nFileIndexHigh) << 32) | information->nFileIndexLow;
  if (volume.reparse_.count(real) != 0) {
    information->dwFileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
  }
  if (volume.format_ == Format::kNtfs || !volume.Inside(handle)) return TRUE;
  if (volume.format_ == Format::kFat32) {
    information->ftCreationTime = volume.CreationOf(real, information->ftCreationTime);
  }
  const std::uint64_t id = volume.format_ == Format::kFat32
                               ? volume.PositionId(volume.PositionOf(handle, real))
                               : volume.IdOf(real).low;
  information->nFileIndexHigh = static_cast<DWORD>(id >> 32);
  information->nFileIndexLow = static_cast<DWORD>(id);
  return TRUE;
}

BOOL WINAPI FakeWindowsVolume::GetFileInformationExHook(HANDLE handle,
                                                        FILE_INFO_BY_HANDLE_CLASS kind,
                                                        LPVOID buffer, DWORD size) {
  FakeWindowsVolume& volume = *g_volume;
  std::lock_guard lock(volume.mutex_);
  if (kind == kFileIdInfo && volume.format_ != Format::kNtfs && volume.Inside(handle)) {
    if (volume.format_ == Format::kFat32) {
      ::SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!volume.real_.get_file_information(handle, &info)) return FALSE;
    const Id128 id = volume.IdOf(RealId(handle));
    auto* out = static_cast<unsigned char*>(buffer);
    const ULONGLONG serial = info.dwVolumeSerialNumber;
    std::memcpy(out, &serial, 8);
    std::memcpy(out + 8, &id.low, 8);
    std::memcpy(out + 16, &id.high, 8);
    return TRUE;
  }
  if (!volume.real_.get_file_information_ex(handle, kind, buffer, size)) return FALSE;
  if (kind == FileAttributeTagInfo) {
    auto* tag = static_cast<FILE_ATTRIBUTE_TAG_INFO*>(buffer);
    if (const auto found = volume.reparse_.find(RealId(handle)); found != volume.reparse_.end()) {
      tag->FileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
      tag->ReparseTag = found->second.tag;
    }
  } else if (kind == FileIdBothDirectoryInfo || kind == FileIdBothDirectoryRestartInfo) {
    auto* bytes = static_cast<unsigned char*>(buffer);
    for (std::size_t offset = 0;;) {
      auto* entry = reinterpret_cast<FILE_ID_BOTH_DIR_INFO*>(bytes + offset);
      const auto found = volume.reparse_.find(static_cast<std::uint64_t>(entry->FileId.QuadPart));
      if (found != volume.reparse_.end()) {
        entry->FileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
        entry->EaSize = found->second.tag;  // a listing carries the tag there
      }
      if (entry->NextEntryOffset == 0) break;
      offset += entry->NextEntryOffset;
    }
  }
  return TRUE;
}

BOOL WINAPI FakeWindowsVolume::SetFileInformationHook(HANDLE handle, FILE_INFO_BY_HANDLE_CLASS kind,
                                                      LPVOID buffer, DWORD size) {
  FakeWindowsVolume& volume = *g_volume;
  std::lock_guard lock(volume.mutex_);
  const bool classic =
      kind == FileDispositionInfo && static_cast<const FILE_DISPOSITION_INFO*>(buffer)->DeleteFileW;
  const bool ex = kind == kFileDispositionInfoEx;
  if ((!classic && !ex) || !volume.Inside(handle)) {
    return volume.real_.set_file_information(handle, kind, buffer, size);
  }
  if (ex) {
    const ULONG flags = static_cast<const ULONG*>(buffer)[0];
    if (volume.format_ == Format::kFat32 || !(flags & kDispositionDelete)) {
      ::SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    return volume.Disposition(handle, true, flags);
  }
  return volume.Disposition(handle, false, 0);
}

BOOL WINAPI FakeWindowsVolume::GetVolumeInformationHook(HANDLE handle, LPWSTR volume_name,
                                                        DWORD volume_name_size, LPDWORD serial,
                                                        LPDWORD component_length, LPDWORD flags,
                                                        LPWSTR file_system_name,
                                                        DWORD file_system_name_size) {
  FakeWindowsVolume& volume = *g_volume;
  if (!volume.real_.get_volume_information(handle, volume_name, volume_name_size, serial,
                                           component_length, flags, file_system_name,
                                           file_system_name_size)) {
    return FALSE;
  }
  std::lock_guard lock(volume.mutex_);
  if (file_system_name && volume.Inside(handle)) {
    const wchar_t* name = volume.format_ == Format::kFat32  ? L"FAT32"
                          : volume.format_ == Format::kRefs ? L"ReFS"
                                                            : L"NTFS";
    if (file_system_name_size <= std::wcslen(name)) {
      ::SetLastError(ERROR_BAD_LENGTH);
      return FALSE;
    }
    std::wcscpy(file_system_name, name);
  }
  return TRUE;
}

BOOL WINAPI FakeWindowsVolume::SetFileTimeHook(HANDLE handle, const FILETIME* creation,
                                               const FILETIME* access, const FILETIME* write) {
  FakeWindowsVolume& volume = *g_volume;
  std::lock_guard lock(volume.mutex_);
  if (!volume.real_.set_file_time(handle, creation, access, write)) return FALSE;
  if (creation && volume.format_ == Format::kFat32 && volume.Inside(handle)) {
    const std::uint64_t real = RealId(handle);
    volume.creation_.erase(real);
    volume.CreationOf(real, *creation);
  }
  return TRUE;
}

BOOL WINAPI FakeWindowsVolume::DeviceIoControlHook(HANDLE handle, DWORD code, LPVOID in,
                                                   DWORD in_size, LPVOID out, DWORD out_size,
                                                   LPDWORD returned, LPOVERLAPPED overlapped) {
  FakeWindowsVolume& volume = *g_volume;
  std::lock_guard lock(volume.mutex_);
  if (code != FSCTL_GET_REPARSE_POINT || !volume.Inside(handle)) {
    return volume.real_.device_io_control(handle, code, in, in_size, out, out_size, returned,
                                          overlapped);
  }
  const auto found = volume.reparse_.find(RealId(handle));
  if (found == volume.reparse_.end()) {
    ::SetLastError(ERROR_NOT_A_REPARSE_POINT);
    return FALSE;
  }
  // REPARSE_DATA_BUFFER: tag, data length, reserved; for a mount point or junction the two
  // names (substitute, then print), each ended by a null.
  const Text& target = found->second.target;
  std::vector<unsigned char> data(8);
  const DWORD tag = found->second.tag;
  std::memcpy(data.data(), &tag, 4);
  if (tag == IO_REPARSE_TAG_MOUNT_POINT) {
    const auto name_bytes = static_cast<USHORT>(target.size() * 2);
    const USHORT fields[4] = {0, name_bytes, static_cast<USHORT>(name_bytes + 2), name_bytes};
    data.insert(data.end(), reinterpret_cast<const unsigned char*>(fields),
                reinterpret_cast<const unsigned char*>(fields) + sizeof fields);
    for (int copy = 0; copy < 2; ++copy) {
      const auto* bytes = reinterpret_cast<const unsigned char*>(target.data());
      data.insert(data.end(), bytes, bytes + name_bytes);
      data.push_back(0);
      data.push_back(0);
    }
  }
  const auto data_length = static_cast<USHORT>(data.size() - 8);
  std::memcpy(data.data() + 4, &data_length, 2);
  if (out_size < data.size()) {
    ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  std::memcpy(out, data.data(), data.size());
  if (returned) *returned = static_cast<DWORD>(data.size());
  return TRUE;
}

}  // namespace nulvane::testing

#endif  // _WIN32
