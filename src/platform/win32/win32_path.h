// Path texts as the Windows file system implementation hands them to the system, and the
// classification of directory entries. Pure functions of their arguments (except
// AbsolutePath, which reads the current directory), so that their rules can be tested alone.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/file_system.h"

namespace nulvane::platform::win32 {

bool IsSeparator(char16_t c);

// The device namespace (\\.\PhysicalDrive0, \\?\GLOBALROOT\..., \\?\Volume{...}) names disks
// and devices, never a file of the user's list.
bool IsDevicePath(TextView path);

// `path` made absolute by joining it to the current directory (or to that of its drive, for
// "C:name" and "\name"), without the system's textual rules: names ending in a dot or a blank
// keep it. An absolute path comes back as it is. Empty when the system cannot say.
Text AbsolutePath(TextView path);

// The root and the components of an absolute path: "/" read as "\" (not in the extended form,
// where it is a character of the name), empty and "." components dropped, ".." kept. The root
// always ends in a separator ("C:\", "\\server\share\", "\\?\C:\", "\\?\UNC\server\share\").
// False when `path` is not absolute.
bool SplitAbsolute(TextView path, Text& root, std::vector<TextView>& components);

// The lexically normal form of an absolute path (see SplitAbsolute): the root, then the
// components joined with "\"; no trailing separator except the root's own. Empty when `path`
// is not absolute.
Text NormalPath(TextView path);

// The extended-length form of a normal absolute path (\\?\C:\..., \\?\UNC\server\share\...),
// which the system takes whole and unchanged; a path already in that form is left alone.
Text ExtendedPath(TextView normal);

// The classic form of an extended-length path of a drive or share; others unchanged.
Text ClassicPath(TextView path);

// What a directory entry is, from its attributes and reparse tag. An entry is a link exactly
// when its reparse tag is a name surrogate (symbolic link, junction; a volume mount point
// carries a junction's tag and is told apart by its target, see IsVolumeMountPoint); any other
// reparse point (cloud placeholder, deduplicated or WOF-compressed file) is a file or folder
// with content of its own.
EntryKind KindOf(std::uint32_t attributes, std::uint32_t reparse_tag);
bool IsNameSurrogate(std::uint32_t reparse_tag);

}  // namespace nulvane::platform::win32
