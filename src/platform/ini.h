// The INI ("profile") text format of the settings file: [Section] lines opening sections and
// key=value lines under them; section and key names compare without regard to case.
#pragma once

#include <cstddef>

#include "platform/text.h"

namespace nulvane::platform {

// Reads `key` of `section` from `file`. Returns false, leaving `value` empty, when the file,
// section or key is missing.
bool ReadIniValue(TextView file, TextView section, TextView key, Text& value);

// Writes `key`=`value` in `section` of `file`, creating the file, section or key as needed and
// keeping every other line. The file is replaced whole or not at all.
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
