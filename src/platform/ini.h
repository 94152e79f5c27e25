// The INI ("profile") text format of the settings file: [Section] lines opening sections and
// key=value lines under them; section and key names compare without regard to case.
#pragma once

#include <cstddef>

#include "platform/text.h"

namespace nulvane::platform {

// The largest settings file that is read; a larger one is ignored.
inline constexpr std::size_t kMaxIniFileSize = 1 << 20;

// What stands under a settings file's name.
enum class IniFileState {
  kMissing,  // nothing
  kUsable,   // a regular file of at most kMaxIniFileSize bytes that can be opened for reading
  kIgnored,  // anything else (a device, a FIFO, a folder, a larger or unreadable file)
};

// Looks at `file` without blocking and without reading it (a FIFO or a device there is opened
// without waiting, or not at all, and never read). A link is followed to what it names.
IniFileState CheckIniFile(TextView file);

// Reads `key` of `section` from `file`. Returns false, leaving `value` empty, when the file,
// section or key is missing, and when the file is not usable (see CheckIniFile): nothing else
// is read, so a device or a FIFO under the name can neither hang nor flood the program.
bool ReadIniValue(TextView file, TextView section, TextView key, Text& value);

// Writes `key`=`value` in `section` of `file`, creating the file, section or key as needed and
// keeping every other line. The file is replaced whole or not at all. Refuses (false) when the
// name is a link or anything but a usable regular file: nothing is ever written through a link.
bool WriteIniValue(TextView file, TextView section, TextView key, TextView value);

// Makes sure `file` exists: an existing file is left as it is; a missing one is created empty
// and, on Windows, hidden. Returns false when it neither exists nor can be created.
bool EnsureHiddenFile(TextView file);

// Whether a regular file exists at `file`.
bool FileExists(TextView file);

// Writes `bytes` to `file` whole or not at all: a temporary file beside it, then a rename over
// the old one. Returns false (and leaves any old file untouched) on any failure.
bool WriteFileAtomically(TextView file, const void* bytes, std::size_t size);

}  // namespace nulvane::platform
