// Facts about the running process and its system.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/text.h"

namespace nulvane::platform {

// The full path of the running executable.
Text ExecutablePath();

// The system's default language identifier (Windows LANGID). On POSIX derived from LC_ALL,
// LC_MESSAGES and LANG, the first one set: a German locale ("de", "de_AT.UTF-8", ...) gives
// 0x0407, anything else 0x0409.
std::uint16_t SystemDefaultLanguageId();

// The user's temporary folder, ending in the path separator.
Text TempFolder();

// Asks the system's shell to open `path` with its usual program. Windows: ShellExecuteW "open";
// POSIX: xdg-open when present, otherwise nothing. Returns whether a program was started.
bool OpenWithShell(TextView path);

// Fills `size` bytes at `buffer` from the system's cryptographic random source (Linux
// getrandom, /dev/urandom where the kernel lacks it; Windows BCryptGenRandom). No value drawn
// tells anything about the next one. Returns false only when the system gives no random bytes.
bool SystemRandomBytes(void* buffer, std::size_t size);

// Tells the system that the `size` bytes at `memory`, freshly allocated, are about to be written
// in full: Linux maps their pages in one call (MADV_POPULATE_WRITE) instead of taking a fault
// on the first write to each page, which costs microseconds apiece under a hypervisor. Only
// whole pages inside the range are touched, and never their contents. Elsewhere, and where the
// kernel lacks the request, nothing happens.
void PrepareForWriting(void* memory, std::size_t size);

// The number format of the user's locale, for grouping digits and the decimal point.
struct NumberFormat {
  Text decimal_separator = u".";
  Text thousands_separator = u",";
  int grouping = 3;  // digits per group; 0 for no grouping
  bool leading_zero = true;
};
NumberFormat UserNumberFormat();

}  // namespace nulvane::platform
