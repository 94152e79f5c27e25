// NativeFileSystem: paths, volumes and times. Every path handed to the system is absolute and
// in extended-length form, so that names ending in a dot or a blank reach it unchanged. New
// files and folders by path serve the tests' set-up; the fill makes its own through handles.
#include <windows.h>
#include <winioctl.h>
#include <winternl.h>
// The interface has a method of this name; the Win32 function is always called as DeleteFileW.
#undef DeleteFile

#include <algorithm>
#include <vector>

#include "platform/native_file_system.h"
#include "platform/win32/wide.h"
#include "platform/win32/win32_folder_chain.h"
#include "platform/win32/win32_open_file.h"
#include "platform/win32/win32_path.h"

namespace nulvane::platform {

using win32::FromError;
using win32::LastError;

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

void NativeFileSystem::ForgetOpenFolders() { win32::FolderChain::ForThread().Forget(); }

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
