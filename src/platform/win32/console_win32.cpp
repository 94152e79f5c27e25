#include <windows.h>

#include <algorithm>
#include <string>

#include "platform/console.h"
#include "platform/win32/wide.h"

namespace nulvane::platform {

namespace {

HANDLE Handle(Stream stream) {
  return GetStdHandle(stream == Stream::kOut ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
}

bool IsConsole(HANDLE handle) {
  DWORD mode = 0;
  return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode);
}

}  // namespace

bool WriteText(Stream stream, TextView text) {
  HANDLE handle = Handle(stream);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return false;
  if (IsConsole(handle)) {
    const wchar_t* data = reinterpret_cast<const wchar_t*>(text.data());
    std::size_t done = 0;
    while (done < text.size()) {
      const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(text.size() - done, 16384));
      DWORD written = 0;
      if (!WriteConsoleW(handle, data + done, chunk, &written, nullptr) || written == 0)
        return false;
      done += written;
    }
    return true;
  }
  // Redirected: UTF-8, with the line ends a Windows file expects.
  Text crlf;
  crlf.reserve(text.size() + 8);
  for (const char16_t c : text) {
    if (c == u'\n') crlf += u'\r';
    crlf += c;
  }
  const std::string bytes = TextToUtf8(crlf);
  std::size_t done = 0;
  while (done < bytes.size()) {
    DWORD written = 0;
    if (!WriteFile(handle, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &written,
                   nullptr) ||
        written == 0)
      return false;
    done += written;
  }
  return true;
}

bool IsTerminal(Stream stream) { return IsConsole(Handle(stream)); }

}  // namespace nulvane::platform
