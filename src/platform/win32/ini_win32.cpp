// The settings file through the Windows profile functions.
#include <windows.h>

#include <algorithm>
#include <vector>

#include "platform/ini.h"
#include "platform/win32/wide.h"

namespace nulvane::platform {

bool ReadIniValue(TextView file, TextView section, TextView key, Text& value) {
  value.clear();
  const Text file_name(file), section_name(section), key_name(key);
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
  return WritePrivateProfileStringW(Wide(section_name), Wide(key_name), Wide(text),
                                    Wide(file_name)) != FALSE;
}

bool EnsureHiddenFile(TextView file) {
  const Text name(file);
  HANDLE handle = CreateFileW(Wide(name), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle != INVALID_HANDLE_VALUE) {
    CloseHandle(handle);
    return true;
  }
  handle = CreateFileW(Wide(name), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
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
