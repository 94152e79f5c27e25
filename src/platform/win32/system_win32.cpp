#include <windows.h>

#include <bcrypt.h>
#include <shellapi.h>

#include <algorithm>

#include <vector>

#include "platform/system.h"
#include "platform/win32/wide.h"

namespace nulvane::platform {

Text ExecutablePath() {
  // Paths may exceed MAX_PATH; grow until the whole name fits.
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD length =
        GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return Text();
    if (length < buffer.size()) return FromWide(buffer.data(), length);
    if (buffer.size() >= 32768) return Text();
    buffer.resize(buffer.size() * 2);
  }
}

std::uint16_t SystemDefaultLanguageId() { return GetSystemDefaultLangID(); }

Text TempFolder() {
  wchar_t buffer[MAX_PATH + 1];
  const DWORD length = GetTempPathW(MAX_PATH + 1, buffer);
  if (length == 0 || length > MAX_PATH) return u".\\";
  Text folder = FromWide(buffer, length);
  if (folder.back() != u'\\') folder += u'\\';
  return folder;
}

bool OpenWithShell(TextView path) {
  const Text file(path);
  const auto result = reinterpret_cast<INT_PTR>(
      ShellExecuteW(nullptr, L"open", Wide(file), nullptr, nullptr, SW_SHOWNORMAL));
  return result > 32;
}

void PrepareForWriting(void*, std::size_t) {
  // Nothing: pages are committed on their first write, as before.
}

bool SystemRandomBytes(void* buffer, std::size_t size) {
  auto* out = static_cast<unsigned char*>(buffer);
  while (size > 0) {
    const ULONG chunk = static_cast<ULONG>(std::min<std::size_t>(size, 1u << 20));
    // The system's preferred generator needs no algorithm handle (Windows 7 and later).
    if (!BCRYPT_SUCCESS(BCryptGenRandom(nullptr, out, chunk, BCRYPT_USE_SYSTEM_PREFERRED_RNG)))
      return false;
    out += chunk;
    size -= chunk;
  }
  return true;
}

namespace {

Text LocaleText(LCTYPE type) {
  wchar_t buffer[20] = {};
  const int length = GetLocaleInfoW(LOCALE_USER_DEFAULT, type, buffer, 20);
  return length > 0 ? FromWide(buffer) : Text();
}

}  // namespace

NumberFormat UserNumberFormat() {
  NumberFormat format;
  const Text decimal = LocaleText(LOCALE_SDECIMAL);
  if (!decimal.empty()) format.decimal_separator = decimal;
  format.thousands_separator = LocaleText(LOCALE_STHOUSAND);
  // "3;0" and "3;2;0" both read as 3, as the number format's Grouping field takes them.
  const Text grouping = LocaleText(LOCALE_SGROUPING);
  format.grouping = grouping.empty() ? 3 : ParseDecimal(grouping);
  const Text leading_zero = LocaleText(LOCALE_ILZERO);
  format.leading_zero = leading_zero.empty() || ParseDecimal(leading_zero) != 0;
  return format;
}

}  // namespace nulvane::platform
