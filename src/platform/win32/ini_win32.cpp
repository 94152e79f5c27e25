// The settings file through the Windows profile functions.
#include <windows.h>

#include <algorithm>
#include <vector>

#include "platform/ini.h"
#include "platform/win32/wide.h"
#include "platform/win32/win32_handles.h"
#include "platform/win32/win32_path.h"

namespace nulvane::platform {

namespace {

bool IsMissingError(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// Opens the settings file for reading when it is usable (see CheckIniFile) and keeps it open in
// `handle`, so that it cannot be deleted or renamed while the profile functions read it. A
// folder is never opened; what was opened is checked through the handle: a file on a disk (not
// a pipe or a device) of at most kMaxIniFileSize bytes.
IniFileState OpenUsable(const Text& name, win32::UniqueHandle& handle) {
  const DWORD attributes = GetFileAttributesW(Wide(name));
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    return IsMissingError(GetLastError()) ? IniFileState::kMissing : IniFileState::kIgnored;
  }
  if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE))
    return IniFileState::kIgnored;
  handle.reset(CreateFileW(Wide(name), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!handle.valid()) {
    return IsMissingError(GetLastError()) ? IniFileState::kMissing : IniFileState::kIgnored;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (GetFileType(handle.get()) != FILE_TYPE_DISK ||
      !GetFileInformationByHandle(handle.get(), &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || info.nFileSizeHigh != 0 ||
      info.nFileSizeLow > kMaxIniFileSize) {
    handle.reset();
    return IniFileState::kIgnored;
  }
  return IniFileState::kUsable;
}

}  // namespace

IniFileState CheckIniFile(TextView file) {
  win32::UniqueHandle handle;
  return OpenUsable(Text(file), handle);
}

bool ReadIniValue(TextView file, TextView section, TextView key, Text& value) {
  value.clear();
  const Text file_name(file), section_name(section), key_name(key);
  win32::UniqueHandle held;
  if (OpenUsable(file_name, held) != IniFileState::kUsable) return false;
  // A default that no real value can have tells a missing key from an empty one.
  static const wchar_t kMissing[] = L"\x01\x02missing\x02\x01";
  std::vector<wchar_t> buffer(1024);
  const DWORD length =
      GetPrivateProfileStringW(Wide(section_name), Wide(key_name), kMissing, buffer.data(),
                               static_cast<DWORD>(buffer.size()), Wide(file_name));
  const Text read = FromWide(buffer.data(), length);
  if (read == reinterpret_cast<const char16_t*>(kMissing)) return false;
  value = read;
  return true;
}

bool WriteIniValue(TextView file, TextView section, TextView key, TextView value) {
  const Text file_name(file), section_name(section), key_name(key), text(value);
  // The name itself, unopened: a link (a name-surrogate reparse point) is never written
  // through, and anything but a usable file is left alone.
  WIN32_FIND_DATAW found{};
  const HANDLE search =
      FindFirstFileExW(Wide(file_name), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0);
  if (search != INVALID_HANDLE_VALUE) {
    FindClose(search);
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
        win32::IsNameSurrogate(found.dwReserved0)) {
      return false;
    }
    win32::UniqueHandle checked;
    if (OpenUsable(file_name, checked) != IniFileState::kUsable) return false;
  } else if (!IsMissingError(GetLastError())) {
    return false;
  }
  return WritePrivateProfileStringW(Wide(section_name), Wide(key_name), Wide(text),
                                    Wide(file_name)) != FALSE;
}

bool EnsureHiddenFile(TextView file) {
  const Text name(file);
  // Whatever stands under the name already is left unopened (a pipe would see a client).
  HANDLE handle = CreateFileW(Wide(name), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
  }
  CloseHandle(handle);
  SetFileAttributesW(Wide(name), FILE_ATTRIBUTE_HIDDEN);
  return true;
}

bool FileExists(TextView file) {
  const Text name(file);
  const DWORD attributes = GetFileAttributesW(Wide(name));
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool WriteFileAtomically(TextView file, const void* bytes, std::size_t size) {
  const Text name(file);
  Text temporary = name + u".tmp~";
  for (int attempt = 0; attempt < 100; ++attempt) {
    temporary = name + u".tmp" + static_cast<char16_t>(u'0' + attempt % 10) +
                static_cast<char16_t>(u'0' + attempt / 10) + u'~';
    HANDLE handle = CreateFileW(Wide(temporary), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      if (GetLastError() == ERROR_FILE_EXISTS) continue;
      return false;
    }
    const char* data = static_cast<const char*>(bytes);
    std::size_t done = 0;
    bool ok = true;
    while (ok && done < size) {
      const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size - done, 1u << 20));
      DWORD written = 0;
      ok = WriteFile(handle, data + done, chunk, &written, nullptr) && written > 0;
      done += written;
    }
    ok = ok && FlushFileBuffers(handle);
    ok = CloseHandle(handle) && ok;
    ok = ok && MoveFileExW(Wide(temporary), Wide(name),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (!ok) DeleteFileW(Wide(temporary));
    return ok;
  }
  return false;
}

}  // namespace nulvane::platform
