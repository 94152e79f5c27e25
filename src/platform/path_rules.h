// How the system the program is built for spells paths: the one place that says so.
#pragma once

#include "platform/text.h"

namespace nulvane::platform {

#ifdef _WIN32
// The separator of path components the program writes.
inline constexpr char16_t kPathSeparator = u'\\';
// Windows takes "/" as a separator too: treating it as part of a name would move an item to
// another folder. "C:" before a name is the folder the name stands in.
inline constexpr bool kSlashSeparates = true;
inline constexpr bool kDriveNamesFolder = true;
// The item list's keys are paths folded to lower case (FoldPathKey): names differ in more than
// case on these volumes.
inline constexpr bool kPathKeysFolded = true;
#else
inline constexpr char16_t kPathSeparator = u'/';
inline constexpr bool kSlashSeparates = false;
inline constexpr bool kDriveNamesFolder = false;
inline constexpr bool kPathKeysFolded = false;
#endif

// Whether `c` separates the components of a path (so that it is never part of a name).
constexpr bool IsPathSeparator(char16_t c) {
  return c == kPathSeparator || (kSlashSeparates && c == u'/');
}

}  // namespace nulvane::platform
