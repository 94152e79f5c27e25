// Removing an opened entry by its handle, so that what goes is exactly the object that was
// checked, whatever its name stands for meanwhile.
#pragma once

#include <windows.h>

#include "platform/file_system.h"

namespace nulvane::platform::win32 {

// Marks the entry open as `handle` for deletion. `handle` was opened with DELETE and
// FILE_WRITE_ATTRIBUTES; `attributes` are the entry's attributes as examined.
//
// Where the system has it (Windows 10 1809 and later, on NTFS), the entry goes with POSIX
// semantics: its name is gone at once, even while another program (a virus scanner, the
// indexer, a preview) still holds the file open, so that its folder can be removed next; a
// read-only entry goes as well. Elsewhere (older systems, FAT) read-only is cleared first and
// the classic disposition is set: the name stays until the last handle to the entry closes.
IoResult MarkForDeletion(HANDLE handle, DWORD attributes);

// MarkForDeletion for a folder. A folder that still holds entries is "not empty"; when every
// entry it still holds is only waiting for another program to let go of it (pending deletion),
// it is tried again a few times over at most kPendingWaitMs, then reported as not empty.
IoResult MarkFolderForDeletion(HANDLE handle, DWORD attributes);

inline constexpr DWORD kPendingWaitMs = 1000;

}  // namespace nulvane::platform::win32
